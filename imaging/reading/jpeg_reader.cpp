// The JPEG reader: libjpeg-turbo set up for scaled, row-by-row decoding
// within a memory cap, its errors turned into refusals.
#include "imaging/reading/jpeg_reader.h"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/system/file_io.h"
#include "imaging/system/stage_clock.h"

// jpeglib.h needs the standard I/O types first.
#include <jpeglib.h>
// After jpeglib.h: the message codes.
#include <jerror.h>

namespace sheetsmith {

// libjpeg reports a fatal error by calling error_exit, which must not
// return: it jumps back to the call into the library that failed. Every such
// call is made through Guarded, whose frame holds the jump target and in
// which nothing with a destructor lives across the call.
struct JpegReader::State {
  jpeg_decompress_struct decoder{};
  struct Errors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    bool dataEnded;  // the picture's data ended before the picture
  } errors{};
  struct Source {
    jpeg_source_mgr manager;
    std::FILE* file;
    bool endedEarly;  // the file ended before the picture did
    JOCTET buffer[1 << 16];
  } source{};
  UniqueFile file;
  bool created = false;
  // The data of the APP2 segments that carry a colour profile, as the
  // header is read; tooManyIcc once they pass what any profile needs.
  std::vector<std::string> iccSegments;
  std::size_t iccBytes = 0;
  bool tooManyIcc = false;

  ~State() {
    if (created) jpeg_destroy_decompress(&decoder);
  }

  template <typename Call>
  bool Guarded(Call call) {
    if (setjmp(errors.jump)) return false;
    call();
    return true;
  }
};

namespace {

using State = JpegReader::State;

void OnFatalError(j_common_ptr decoder) {
  auto* errors = reinterpret_cast<State::Errors*>(decoder->err);
  std::longjmp(errors->jump, 1);
}

// Traces and warnings say nothing: a photo's failure is its white cell. A
// warning that the data ran out before the picture did makes the photo a
// failure: the decoder would go on with grey rows for the rest, as long as
// the header claims.
void OnMessage(j_common_ptr decoder, int level) {
  if (level >= 0) return;
  const int code = decoder->err->msg_code;
  if (code == JWRN_HIT_MARKER || code == JWRN_JPEG_EOF) {
    reinterpret_cast<State::Errors*>(decoder->err)->dataEnded = true;
  }
}

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr decoder) {
  auto* source = reinterpret_cast<State::Source*>(decoder->src);
  std::size_t read = std::fread(source->buffer, 1, sizeof source->buffer, source->file);
  if (read == 0) {
    // The file ends before the picture: an end marker lets the decoder stop,
    // and the rows from here on count as failed.
    source->endedEarly = true;
    source->buffer[0] = 0xFF;
    source->buffer[1] = JPEG_EOI;
    read = 2;
  }
  source->manager.next_input_byte = source->buffer;
  source->manager.bytes_in_buffer = read;
  return TRUE;
}

void SkipInput(j_decompress_ptr decoder, long count) {
  auto* source = reinterpret_cast<State::Source*>(decoder->src);
  while (count > static_cast<long>(source->manager.bytes_in_buffer)) {
    count -= static_cast<long>(source->manager.bytes_in_buffer);
    FillInput(decoder);
    if (source->endedEarly) return;
  }
  if (count > 0) {
    source->manager.next_input_byte += count;
    source->manager.bytes_in_buffer -= static_cast<std::size_t>(count);
  }
}

void TermSource(j_decompress_ptr) {}

// Reads up to `count` bytes of the current segment into `out` (nothing kept
// when `out` is null); false when the data ends first.
bool ReadSegmentBytes(j_decompress_ptr decoder, std::size_t count, std::string* out) {
  jpeg_source_mgr& source = *decoder->src;
  while (count > 0) {
    if (source.bytes_in_buffer == 0 &&
        (!source.fill_input_buffer(decoder) || source.bytes_in_buffer == 0)) {
      return false;
    }
    const std::size_t piece = std::min(count, source.bytes_in_buffer);
    if (out) out->append(reinterpret_cast<const char*>(source.next_input_byte), piece);
    source.next_input_byte += piece;
    source.bytes_in_buffer -= piece;
    count -= piece;
  }
  return true;
}

// An APP2 segment: kept when it is a chunk of a colour profile, and while
// the chunks stay within what a profile can be; other APP2 segments (a
// phone's picture index, FlashPix) are passed over unread.
boolean ReadApp2(j_decompress_ptr decoder) {
  State& s = *static_cast<State*>(decoder->client_data);
  std::string length;
  if (!ReadSegmentBytes(decoder, 2, &length)) return TRUE;
  const std::size_t size = static_cast<std::size_t>((static_cast<unsigned char>(length[0]) << 8) |
                                                    static_cast<unsigned char>(length[1]));
  if (size < 2) return TRUE;
  std::size_t left = size - 2;
  constexpr std::string_view kMark("ICC_PROFILE\0", 12);
  std::string start;
  if (!ReadSegmentBytes(decoder, std::min(left, kMark.size()), &start)) return TRUE;
  left -= start.size();
  const bool icc = start == kMark;
  if (icc && !s.tooManyIcc && s.iccBytes + left <= kMaxProfileBytes + 255 * 2) {
    std::string data = std::move(start);
    if (!ReadSegmentBytes(decoder, left, &data)) return TRUE;
    s.iccBytes += data.size();
    s.iccSegments.push_back(std::move(data));
    return TRUE;
  }
  if (icc) s.tooManyIcc = true;
  ReadSegmentBytes(decoder, left, nullptr);
  return TRUE;
}

// Adobe's CMYK is stored inverted: a colour channel times black is the
// light that comes through, rounded as x * y / 255.
std::uint8_t Through(int colour, int black) {
  const int t = colour * black + 128;
  return static_cast<std::uint8_t>((t + (t >> 8)) >> 8);
}

}  // namespace

int DctScaleEighths(int width, int height, int wantedWidth, int wantedHeight) {
  const auto leaves = [](long long scaled, int wanted) {
    return scaled * kLeftToResamplerDenominator >=
           static_cast<long long>(wanted) * kLeftToResamplerNumerator;
  };
  for (int m = 1; m < 8; m *= 2) {
    const long long w = (static_cast<long long>(width) * m + 7) / 8;
    const long long h = (static_cast<long long>(height) * m + 7) / 8;
    if (leaves(w, wantedWidth) && leaves(h, wantedHeight)) return m;
  }
  return 8;
}

std::unique_ptr<JpegReader> JpegReader::Open(const std::string& path, bool& notJpeg,
                                             ReadProblem* problem) {
  using Kind = ReadProblem::Kind;
  notJpeg = false;
  UniqueFile file = OpenFile(path, "rb");
  if (!file) {
    if (problem && !*problem) *problem = OpenFailure();
    return nullptr;
  }
  unsigned char start[2] = {0, 0};
  if (std::fread(start, 1, 2, file.get()) != 2 || start[0] != 0xFF || start[1] != 0xD8) {
    notJpeg = true;
    return nullptr;
  }
  std::rewind(file.get());

  std::unique_ptr<JpegReader> reader(new JpegReader);
  reader->state_ = std::make_unique<State>();
  State& s = *reader->state_;
  s.file = std::move(file);
  s.decoder.err = jpeg_std_error(&s.errors.manager);
  s.errors.manager.error_exit = &OnFatalError;
  s.errors.manager.emit_message = &OnMessage;
  s.source.manager.init_source = &InitSource;
  s.source.manager.fill_input_buffer = &FillInput;
  s.source.manager.skip_input_data = &SkipInput;
  s.source.manager.resync_to_restart = &jpeg_resync_to_restart;
  s.source.manager.term_source = &TermSource;
  s.source.file = s.file.get();
  if (!s.Guarded([&s] { jpeg_create_decompress(&s.decoder); })) {
    Fail(problem, Kind::kTooLarge, "out of memory");
    return nullptr;
  }
  s.created = true;
  s.decoder.mem->max_memory_to_use = kMaxJpegDecoderBytes;
  s.decoder.src = &s.source.manager;
  s.decoder.client_data = &s;
  jpeg_set_marker_processor(&s.decoder, JPEG_APP0 + 2, &ReadApp2);
  if (!s.Guarded([&s] { jpeg_read_header(&s.decoder, TRUE); }) || s.source.endedEarly) {
    if (s.source.endedEarly) {
      Fail(problem, Kind::kCutShort, "the file ends inside its header");
    } else {
      Fail(problem, Kind::kDamaged, "its header is damaged");
    }
    return nullptr;
  }
  const std::uint64_t pixels =
      static_cast<std::uint64_t>(s.decoder.image_width) * s.decoder.image_height;
  if (pixels == 0) {
    Fail(problem, Kind::kDamaged, "it has no size");
    return nullptr;
  }
  if (pixels > kMaxJpegPixels) {
    Fail(problem, Kind::kTooLarge,
         "it is " + std::to_string(s.decoder.image_width) + " x " +
             std::to_string(s.decoder.image_height) + " pixels");
    return nullptr;
  }
  reader->width_ = static_cast<int>(s.decoder.image_width);
  reader->height_ = static_cast<int>(s.decoder.image_height);
  const J_COLOR_SPACE stored = s.decoder.jpeg_color_space;
  reader->cmyk_ = stored == JCS_CMYK || stored == JCS_YCCK;
  reader->colors_ = reader->cmyk_             ? SourceColors::kCmyk
                    : stored == JCS_GRAYSCALE ? SourceColors::kGray
                                              : SourceColors::kRgb;
  if (!reader->cmyk_ && stored != JCS_GRAYSCALE && stored != JCS_YCbCr && stored != JCS_RGB) {
    Fail(problem, Kind::kUnsupported, "its colour space is not one a photo has");
    return nullptr;
  }
  return reader;
}

ReadProblem JpegReader::failure() const {
  ReadProblem problem;
  if (state_->source.endedEarly || state_->errors.dataEnded) {
    Fail(&problem, ReadProblem::Kind::kCutShort, "the file ends before its picture does");
  } else {
    Fail(&problem, ReadProblem::Kind::kDamaged, "its picture data is damaged");
  }
  return problem;
}

JpegReader::~JpegReader() = default;

EmbeddedProfile JpegReader::embeddedProfile() const {
  if (state_->tooManyIcc) {
    EmbeddedProfile damaged;
    damaged.state = EmbeddedProfile::State::kDamaged;
    damaged.problem = "it is larger than any profile";
    return damaged;
  }
  const std::vector<std::string_view> segments(state_->iccSegments.begin(),
                                               state_->iccSegments.end());
  return JoinIccChunks(segments);
}

bool JpegReader::Start(int wantedWidth, int wantedHeight) {
  State& s = *state_;
  s.decoder.out_color_space = cmyk_ ? JCS_CMYK : JCS_EXT_RGBA;
  s.decoder.scale_num = static_cast<unsigned>(
      wantedWidth > 0 ? DctScaleEighths(width_, height_, wantedWidth, wantedHeight) : 8);
  s.decoder.scale_denom = 8;
  if (!s.Guarded([&s] { jpeg_start_decompress(&s.decoder); }) || s.source.endedEarly ||
      s.errors.dataEnded) {
    failed_ = true;
    return false;
  }
  scaledWidth_ = static_cast<int>(s.decoder.output_width);
  scaledHeight_ = static_cast<int>(s.decoder.output_height);
  try {
    if (cmyk_) cmykRow_.resize(static_cast<std::size_t>(scaledWidth_) * 4);
  } catch (const std::bad_alloc&) {
    failed_ = true;
    return false;
  }
  return true;
}

bool JpegReader::ReadNextRow(std::uint8_t* out) {
  State& s = *state_;
  JSAMPROW row = cmyk_ ? cmykRow_.data() : out;
  JDIMENSION read = 0;
  if (failed_ || !s.Guarded([&] { read = jpeg_read_scanlines(&s.decoder, &row, 1); }) ||
      read != 1 || s.source.endedEarly || s.errors.dataEnded) {
    failed_ = true;
    return false;
  }
  if (cmyk_ && keepInks_) {
    std::memcpy(out, cmykRow_.data(), static_cast<std::size_t>(scaledWidth_) * 4);
  } else if (cmyk_) {
    for (int x = 0; x < scaledWidth_; ++x) {
      const std::uint8_t* p = &cmykRow_[static_cast<std::size_t>(x) * 4];
      out[x * 4 + 0] = Through(p[0], p[3]);
      out[x * 4 + 1] = Through(p[1], p[3]);
      out[x * 4 + 2] = Through(p[2], p[3]);
      out[x * 4 + 3] = 255;
    }
  }
  return true;
}

bool JpegReader::Reserve(int rows) {
  // Room for the rows asked to be kept, and for those read ahead with them.
  ringRows_ = std::max(1, std::min(rows + kRowsPerRead, scaledHeight_));
  try {
    ring_.resize(static_cast<std::size_t>(ringRows_) * scaledWidth_ * 4);
  } catch (const std::bad_alloc&) {
    return false;
  }
  return true;
}

bool JpegReader::ReadRowsInto(int count) {
  if (cmyk_) {
    for (int i = 0; i < count; ++i, ++nextRow_) {
      if (!ReadNextRow(Slot(nextRow_))) return false;
    }
    return true;
  }
  // Several rows a call, each into its place in the ring: the decoder makes
  // rows a block row at a time, and each call has its cost.
  JSAMPROW rows[kRowsPerRead];
  for (int i = 0; i < count; ++i) rows[i] = Slot(nextRow_ + i);
  State& s = *state_;
  JDIMENSION read = 0;
  if (failed_ || !s.Guarded([&] {
        read = jpeg_read_scanlines(&s.decoder, rows, static_cast<JDIMENSION>(count));
      }) ||
      read == 0 || s.source.endedEarly || s.errors.dataEnded) {
    failed_ = true;
    return false;
  }
  nextRow_ += static_cast<int>(read);
  return true;
}

std::uint8_t* JpegReader::Slot(int row) {
  return &ring_[static_cast<std::size_t>(row % ringRows_) * scaledWidth_ * 4];
}

const std::uint8_t* JpegReader::Row(int y) {
  if (y < 0 || y >= scaledHeight_) return nullptr;
  if (y < nextRow_) return y >= nextRow_ - ringRows_ ? Slot(y) : nullptr;
  {
    const std::int64_t start = StageClockNs();
    while (nextRow_ <= y) {
      if (!ReadRowsInto(std::min(kRowsPerRead, scaledHeight_ - nextRow_))) return nullptr;
    }
    rowNs_ += StageClockNs() - start;
  }
  return Slot(y);
}

std::optional<RgbaImage> JpegReader::DecodeWhole() {
  if (static_cast<std::uint64_t>(width_) * height_ > kMaxWholeImagePixels || !Start(0, 0)) {
    return std::nullopt;
  }
  std::optional<RgbaImage> image = MakeUnfilledImage(scaledWidth_, scaledHeight_);
  if (!image) return std::nullopt;
  for (int y = 0; y < image->height; ++y) {
    if (!ReadNextRow(image->At(0, y))) return std::nullopt;
  }
  image->knownOpaque = true;
  return image;
}

std::optional<RgbaImage> JpegReader::LoadWhole(const std::string& path, bool& notJpeg) {
  std::unique_ptr<JpegReader> reader = Open(path, notJpeg);
  if (!reader) return std::nullopt;
  return reader->DecodeWhole();
}

}  // namespace sheetsmith
