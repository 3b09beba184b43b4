// Formats told by their signatures, and the reasons readers give, named.
#include "imaging/reading/photo_format.h"

#include <cerrno>
#include <cstdint>
#include <string>

#include "imaging/reading/read_problem.h"
#include "imaging/system/byte_order.h"

namespace sheetsmith {

PhotoFormat SniffPhotoFormat(std::string_view head) {
  const auto startsWith = [&](std::string_view signature, std::size_t at = 0) {
    return head.size() >= at + signature.size() && head.substr(at, signature.size()) == signature;
  };
  if (startsWith("\xFF\xD8")) return PhotoFormat::kJpeg;
  if (startsWith("\x89PNG\r\n\x1A\n")) return PhotoFormat::kPng;
  if (startsWith("GIF87a") || startsWith("GIF89a")) return PhotoFormat::kGif;
  if (startsWith("BM")) return PhotoFormat::kBmp;
  if (startsWith("8BPS")) return PhotoFormat::kPsd;
  if (startsWith("RIFF") && startsWith("WEBP", 8)) return PhotoFormat::kWebp;
  if (startsWith("ftyp", 4)) {
    std::size_t boxSize = ReadBigEndian32(head, 0);
    if (boxSize < 16) return PhotoFormat::kUnknown;
    if (boxSize > head.size()) boxSize = head.size() - head.size() % 4;
    bool avif = false;
    bool heic = false;
    // The major brand at 8, the minor version at 12, compatible brands from 16.
    for (std::size_t at = 8; at + 4 <= boxSize; at += at == 8 ? 8 : 4) {
      const std::string_view brand = head.substr(at, 4);
      if (brand == "avif" || brand == "avis") avif = true;
      if (brand == "heic" || brand == "heix" || brand == "heim" || brand == "heis" ||
          brand == "hevc" || brand == "hevx" || brand == "mif1" || brand == "msf1") {
        heic = true;
      }
    }
    if (avif) return PhotoFormat::kAvif;
    if (heic) return PhotoFormat::kHeic;
  }
  return PhotoFormat::kUnknown;
}

std::string_view PhotoFormatName(PhotoFormat format) {
  switch (format) {
    case PhotoFormat::kJpeg:
      return "JPEG";
    case PhotoFormat::kPng:
      return "PNG";
    case PhotoFormat::kGif:
      return "GIF";
    case PhotoFormat::kBmp:
      return "BMP";
    case PhotoFormat::kPsd:
      return "PSD";
    case PhotoFormat::kHeic:
      return "HEIC";
    case PhotoFormat::kAvif:
      return "AVIF";
    case PhotoFormat::kWebp:
      return "WebP";
    case PhotoFormat::kUnknown:
      break;
  }
  return "unknown";
}

std::string_view ReadProblemCode(ReadProblem::Kind kind) {
  switch (kind) {
    case ReadProblem::Kind::kMissing:
      return "missing";
    case ReadProblem::Kind::kCannotOpen:
      return "cannot-open";
    case ReadProblem::Kind::kUnsupported:
      return "unsupported";
    case ReadProblem::Kind::kDamaged:
      return "damaged";
    case ReadProblem::Kind::kCutShort:
      return "cut-short";
    case ReadProblem::Kind::kTooLarge:
      return "too-large";
    case ReadProblem::Kind::kNone:
      break;
  }
  return {};
}

bool Fail(ReadProblem* problem, ReadProblem::Kind kind, std::string detail) {
  if (problem && !*problem) {
    problem->kind = kind;
    problem->detail = std::move(detail);
  }
  return false;
}

ReadProblem OpenFailure() {
  const int error = errno;
  if (error == ENOENT || error == ENOTDIR) {
    return {ReadProblem::Kind::kMissing, "there is no such file"};
  }
  if (error == EINVAL) {
    return {ReadProblem::Kind::kCannotOpen, "the path is not one a file can have"};
  }
  return {ReadProblem::Kind::kCannotOpen,
          "the file cannot be opened (error " + std::to_string(error) + ")"};
}

std::nullopt_t Refuse(ReadProblem* problem, ReadProblem::Kind kind, std::string detail) {
  Fail(problem, kind, std::move(detail));
  return std::nullopt;
}

}  // namespace sheetsmith
