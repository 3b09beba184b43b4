// Printer and paper records, paper matching, orientation and the fit of a
// page to a paper.
#include "printer_rules.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

EncodableValue FixedPaperList() {
  return EncodableValue(EncodableList{S("A4"), S("Letter"), S("4x6")});
}

std::string Lowered(const std::string& text) {
  // towlower in the C locale changes only A to Z; so does this.
  std::string lowered = text;
  for (char& c : lowered) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return lowered;
}

}  // namespace

EncodableValue PrinterRecord(const PrinterInfo& printer, const std::string& defaultName) {
  return EncodableValue(EncodableMap{
      {S("name"), EncodableValue(printer.name)},
      {S("displayName"), EncodableValue(printer.name)},
      {S("isDefault"), EncodableValue(!defaultName.empty() && printer.name == defaultName)},
      {S("isOnline"), EncodableValue((printer.status & kPrinterStatusOffline) == 0)},
      {S("description"), EncodableValue(printer.comment)},
      {S("supportedPaperSizes"), FixedPaperList()}});
}

EncodableValue DefaultPrinterRecord(const std::string& name) {
  return EncodableValue(EncodableMap{{S("name"), EncodableValue(name)},
                                     {S("displayName"), EncodableValue(name)},
                                     {S("isDefault"), EncodableValue(true)},
                                     {S("isOnline"), EncodableValue(true)},
                                     {S("description"), S("Default system printer")},
                                     {S("supportedPaperSizes"), FixedPaperList()}});
}

EncodableList PaperRecords(const std::vector<DriverPaper>& papers) {
  EncodableList records;
  for (const DriverPaper& paper : papers) {
    const std::int32_t width = paper.widthTenths / 10;
    const std::int32_t height = paper.heightTenths / 10;
    if (width <= 0 || height <= 0) continue;
    const std::string id =
        paper.name.empty() ? "DMPAPER_" + std::to_string(paper.code) : paper.name;
    records.push_back(EncodableValue(EncodableMap{{S("id"), EncodableValue(id)},
                                                  {S("name"), EncodableValue(id)},
                                                  {S("width"), EncodableValue(width)},
                                                  {S("height"), EncodableValue(height)},
                                                  {S("isDefault"), EncodableValue(false)}}));
  }
  return records;
}

std::uint16_t FindPaperIdBySize(const std::vector<DriverPaper>& papers, int width, int height,
                                const LogLine& log) {
  if (papers.empty()) {
    log("DEBUG: No papers found for printer");
    return 0;
  }
  log("DEBUG: Looking for paper " + std::to_string(width) + "x" + std::to_string(height) +
      "mm in " + std::to_string(papers.size()) + " papers");
  std::int64_t best = std::numeric_limits<std::int32_t>::max();
  std::uint16_t found = 0;
  for (const DriverPaper& paper : papers) {
    const std::int64_t pw = paper.widthTenths / 10;
    const std::int64_t ph = paper.heightTenths / 10;
    const std::int64_t straight = std::llabs(ph - height) + std::llabs(pw - width);
    const std::int64_t turned = std::llabs(ph - width) + std::llabs(pw - height);
    const std::int64_t diff = std::min(straight, turned);
    if (diff < best && diff <= 10) {
      best = diff;
      found = paper.code;
      log("DEBUG: Found match: ID=" + std::to_string(paper.code) + " '" + paper.name + "' " +
          std::to_string(pw) + "x" + std::to_string(ph) + "mm (diff=" + std::to_string(diff) + ")");
    }
  }
  if (found == 0) log("DEBUG: No matching paper found!");
  return found;
}

std::optional<std::size_t> FindPaperByName(const std::vector<DriverPaper>& papers,
                                           const std::string& name) {
  for (std::size_t i = 0; i < papers.size(); ++i) {
    if (papers[i].name == name && papers[i].code != 0) return i;
  }
  const std::string wanted = Lowered(name);
  for (std::size_t i = 0; i < papers.size(); ++i) {
    const std::string candidate = Lowered(papers[i].name);
    if (candidate.find(wanted) != std::string::npos ||
        wanted.find(candidate) != std::string::npos) {
      return i;
    }
  }
  return std::nullopt;
}

int PaperMillimetres(const EncodableValue* value) {
  if (!value) return 0;
  if (const auto* whole = value->GetIf<std::int32_t>()) {
    return std::abs(static_cast<std::int64_t>(*whole)) <= kMaxPaperMillimetres ? *whole : 0;
  }
  if (const auto* real = value->GetIf<double>()) {
    if (!std::isfinite(*real) || std::fabs(*real) >= kMaxPaperMillimetres + 1.0) return 0;
    return static_cast<int>(*real);
  }
  return 0;
}

PaperSize ReadPaperSize(const EncodableValue* paperSize) {
  const auto* map = paperSize ? paperSize->GetIf<EncodableMap>() : nullptr;
  if (!map) return {};
  const auto find = [map](const char* key) -> const EncodableValue* {
    const auto found = map->find(EncodableValue(key));
    return found == map->end() ? nullptr : &found->second;
  };
  return {PaperMillimetres(find("width")), PaperMillimetres(find("height"))};
}

bool LandscapeFor(int width, int height, int paperWidth, int paperHeight) {
  return (width > height) != (paperWidth > paperHeight);
}

std::optional<PaperSize> StandardPaperSize(std::uint16_t code) {
  switch (code) {
    case 1:
      return PaperSize{216, 279};
    case 5:
      return PaperSize{216, 356};
    case 8:
      return PaperSize{297, 420};
    case 9:
      return PaperSize{210, 297};
    case 11:
      return PaperSize{148, 210};
    case 20:
      return PaperSize{105, 241};
    case 70:
      return PaperSize{105, 148};
    case 74:
      return PaperSize{102, 152};
    case 122:
      return PaperSize{127, 178};
    case 123:
      return PaperSize{203, 254};
    default:
      return std::nullopt;
  }
}

EncodableValue DialogPaperRecord(const DialogPaper& chosen) {
  int width = chosen.widthTenths > 0 ? chosen.widthTenths / 10 : 0;
  int height = chosen.heightTenths > 0 ? chosen.heightTenths / 10 : 0;
  if (chosen.code != 0 && (width <= 0 || height <= 0)) {
    if (const std::optional<PaperSize> standard = StandardPaperSize(chosen.code)) {
      width = standard->width;
      height = standard->height;
    }
  }
  std::string text;
  if (!chosen.form.empty()) {
    text = chosen.form;
  } else if (chosen.code != 0) {
    text = "DMPAPER_" + std::to_string(chosen.code);
  } else {
    text = std::to_string(width) + "x" + std::to_string(height) + " mm";
  }
  std::string id = text;
  std::string name = text;
  if (width < 1 || height < 1) {
    width = 210;
    height = 297;
    if (id.empty()) id = "DMPAPER_A4";
    if (name.empty()) name = "A4";
  }
  return EncodableValue(EncodableMap{{S("id"), EncodableValue(id)},
                                     {S("name"), EncodableValue(name)},
                                     {S("width"), EncodableValue(width)},
                                     {S("height"), EncodableValue(height)}});
}

PageFit FitToPrintableArea(std::uint32_t width, std::uint32_t height, int areaWidth,
                           int areaHeight) {
  PageFit fit;
  if (width == 0 || height == 0) return fit;
  fit.scaleX = static_cast<float>(areaWidth) / static_cast<float>(width);
  fit.scaleY = static_cast<float>(areaHeight) / static_cast<float>(height);
  fit.scale = fit.scaleX < fit.scaleY ? fit.scaleX : fit.scaleY;
  fit.width = static_cast<int>(fit.scale * static_cast<float>(width));
  fit.height = static_cast<int>(fit.scale * static_cast<float>(height));
  fit.offsetX = (areaWidth - fit.width) / 2;
  fit.offsetY = (areaHeight - fit.height) / 2;
  return fit;
}

int CopiesToPrint(const EncodableValue* copies) {
  const auto* count = copies ? copies->GetIf<std::int32_t>() : nullptr;
  if (!count) return 1;
  return std::min(*count, kMaxCopies);
}

bool IsPhotoPath(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  const std::size_t slash = path.find_last_of("\\/");
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return false;
  const std::string extension = Lowered(path.substr(dot + 1));
  for (const char* known : {"jpg", "jpeg", "jpe", "png", "bmp", "gif", "tif", "tiff", "webp"}) {
    if (extension == known) return true;
  }
  return false;
}

}  // namespace runner::printing
