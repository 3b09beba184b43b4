// The printing platform: the print spooler, GDI print jobs, the two modal
// dialogs and the shell. Every printer handle, device context, bitmap and
// memory block has an owner.
#include <windows.h>
// After windows.h, which they need.
#include <commdlg.h>
#include <shellapi.h>
#include <winspool.h>

#include <cstring>
#include <memory>
#include <type_traits>
#include <vector>

#include "command_line.h"
#include "gdiplus_owners.h"
#include "logging.h"
#include "printer_handlers.h"
#include "printing_seams.h"

namespace runner::printing {
namespace {

struct PrinterCloser {
  void operator()(HANDLE printer) const { ClosePrinter(printer); }
};
using UniquePrinter = std::unique_ptr<std::remove_pointer_t<HANDLE>, PrinterCloser>;
struct DcDeleter {
  void operator()(HDC dc) const { DeleteDC(dc); }
};
using UniqueDc = std::unique_ptr<std::remove_pointer_t<HDC>, DcDeleter>;
struct ObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using UniqueGdiObject = std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, ObjectDeleter>;

UniquePrinter OpenPrinterNamed(const std::wstring& name, DWORD access = 0) {
  HANDLE opened = nullptr;
  PRINTER_DEFAULTSW defaults = {nullptr, nullptr, access};
  if (!OpenPrinterW(const_cast<LPWSTR>(name.c_str()), &opened, access ? &defaults : nullptr)) {
    return nullptr;
  }
  return UniquePrinter(opened);
}

// A printer's driver settings, fetched into a zeroed buffer of their size;
// empty when either step fails, and then `sizeUnknown` (when given) says
// whether it was the first.
std::vector<BYTE> DriverSettings(HANDLE printer, const std::wstring& name,
                                 bool* sizeUnknown = nullptr) {
  const LONG size =
      DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name.c_str()), nullptr, nullptr, 0);
  if (sizeUnknown) *sizeUnknown = size <= 0;
  if (size <= 0) return {};
  std::vector<BYTE> buffer(static_cast<std::size_t>(size), 0);
  auto* settings = reinterpret_cast<DEVMODEW*>(buffer.data());
  if (DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name.c_str()), settings, nullptr,
                          DM_OUT_BUFFER) != IDOK) {
    return {};
  }
  return buffer;
}

std::string FormName(const DEVMODEW& settings) {
  return Utf8FromUtf16(
      std::wstring(settings.dmFormName, wcsnlen(settings.dmFormName, CCHFORMNAME)).c_str());
}

// The driver's papers. Each of the three lists is fetched into a buffer of
// the size its own count asks for; a paper beyond the names has no name and
// one beyond the sizes no size.
std::vector<DriverPaper> ReadDriverPapers(const std::wstring& printer) {
  std::vector<DriverPaper> papers;
  const int count = DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS, nullptr, nullptr);
  if (count <= 0) return papers;
  std::vector<WORD> codes(static_cast<std::size_t>(count));
  const int gotCodes = DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERS,
                                           reinterpret_cast<LPWSTR>(codes.data()), nullptr);
  const int nameCount =
      DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERNAMES, nullptr, nullptr);
  std::vector<wchar_t> names(static_cast<std::size_t>(std::max(nameCount, 0)) * 64 + 1, L'\0');
  const int gotNames = nameCount > 0 ? DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERNAMES,
                                                           names.data(), nullptr)
                                     : 0;
  const int sizeCount =
      DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERSIZE, nullptr, nullptr);
  std::vector<POINT> sizes(static_cast<std::size_t>(std::max(sizeCount, 0)) + 1);
  const int gotSizes = sizeCount > 0
                           ? DeviceCapabilitiesW(printer.c_str(), nullptr, DC_PAPERSIZE,
                                                 reinterpret_cast<LPWSTR>(sizes.data()), nullptr)
                           : 0;
  const int known = std::min(count, gotCodes);
  for (int i = 0; i < known; ++i) {
    DriverPaper paper;
    paper.code = codes[static_cast<std::size_t>(i)];
    if (i < std::min(nameCount, gotNames)) {
      const wchar_t* slot = &names[static_cast<std::size_t>(i) * 64];
      paper.name = Utf8FromUtf16(std::wstring(slot, wcsnlen(slot, 64)).c_str());
    }
    if (i < std::min(sizeCount, gotSizes)) {
      paper.widthTenths = sizes[static_cast<std::size_t>(i)].x;
      paper.heightTenths = sizes[static_cast<std::size_t>(i)].y;
    }
    papers.push_back(paper);
  }
  return papers;
}

// Saves merged settings as the printer's default: the user's own default
// (level 9), which needs only use access; the printer's (level 2) when that
// is refused. True when one was written.
bool SaveDefaultSettings(HANDLE printer, DEVMODEW* settings) {
  PRINTER_INFO_9W user = {settings};
  if (SetPrinterW(printer, 9, reinterpret_cast<BYTE*>(&user), 0)) return true;
  DWORD size = 0;
  GetPrinterW(printer, 2, nullptr, 0, &size);
  if (size == 0) return false;
  std::vector<BYTE> buffer(size, 0);
  if (!GetPrinterW(printer, 2, buffer.data(), size, &size)) return false;
  auto* info = reinterpret_cast<PRINTER_INFO_2W*>(buffer.data());
  info->pDevMode = settings;
  return SetPrinterW(printer, 2, buffer.data(), 0) != FALSE;
}

// The settings a new job of this user would start from.
std::vector<BYTE> SavedSettings(const std::wstring& name) {
  UniquePrinter printer = OpenPrinterNamed(name);
  return printer ? DriverSettings(printer.get(), name) : std::vector<BYTE>{};
}

// Merges, saves and reads back paper settings; true only when the driver
// kept the paper that was asked for (and, for a custom size, its size).
bool ApplyPaper(HANDLE printer, const std::wstring& name, std::vector<BYTE>& buffer,
                bool customSize, const char* savedLine) {
  auto* settings = reinterpret_cast<DEVMODEW*>(buffer.data());
  const DEVMODEW wanted = *settings;
  const LONG merged = DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name.c_str()),
                                          settings, settings, DM_IN_BUFFER | DM_OUT_BUFFER);
  LogError("DEBUG: DocumentProperties result=" + std::to_string(merged) +
           " success=" + (merged == IDOK ? "1" : "0"));
  if (merged != IDOK) return false;
  if (!SaveDefaultSettings(printer, settings)) {
    LogError("DEBUG: Printer settings could not be saved");
    return false;
  }
  LogError(savedLine);
  const std::vector<BYTE> saved = SavedSettings(name);
  if (saved.empty()) return false;
  const auto* now = reinterpret_cast<const DEVMODEW*>(saved.data());
  const bool kept =
      now->dmPaperSize == wanted.dmPaperSize &&
      (!customSize ||
       (now->dmPaperWidth == wanted.dmPaperWidth && now->dmPaperLength == wanted.dmPaperLength)) &&
      (!(wanted.dmFields & DM_ORIENTATION) || now->dmOrientation == wanted.dmOrientation);
  if (!kept) {
    LogError("DEBUG: The driver kept paper " + std::to_string(now->dmPaperSize) + " '" +
             FormName(*now) + "' instead");
  }
  return kept;
}

const char* OrientationName(const DEVMODEW& settings) {
  return settings.dmOrientation == DMORIENT_PORTRAIT ? "Portrait" : "Landscape";
}

class SpoolerPlatform : public PrintingPlatform {
 public:
  std::optional<std::vector<PrinterInfo>> Printers() override {
    DWORD size = 0;
    DWORD count = 0;
    EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, nullptr, 0, &size,
                  &count);
    if (size == 0) return std::vector<PrinterInfo>{};
    std::vector<BYTE> buffer(size, 0);
    if (!EnumPrintersW(PRINTER_ENUM_LOCAL | PRINTER_ENUM_CONNECTIONS, nullptr, 2, buffer.data(),
                       size, &size, &count)) {
      return std::vector<PrinterInfo>{};
    }
    const auto* infos = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
    std::vector<PrinterInfo> printers;
    for (DWORD i = 0; i < count; ++i) {
      printers.push_back({infos[i].pPrinterName ? Utf8FromUtf16(infos[i].pPrinterName) : "",
                          infos[i].pComment ? Utf8FromUtf16(infos[i].pComment) : "",
                          infos[i].Status});
    }
    return printers;
  }

  std::optional<std::string> DefaultPrinter() override {
    DWORD length = 0;
    GetDefaultPrinterW(nullptr, &length);
    if (length == 0) return std::nullopt;
    std::vector<wchar_t> name(length + 1, L'\0');
    if (!GetDefaultPrinterW(name.data(), &length)) return std::nullopt;
    return Utf8FromUtf16(name.data());
  }

  std::optional<std::vector<DriverPaper>> Papers(const std::string& printerName,
                                                 PrintError& error) override {
    const std::optional<std::wstring> wide = PlatformText(printerName);
    UniquePrinter printer = wide ? OpenPrinterNamed(*wide) : nullptr;
    if (!printer) {
      error = {"PRINTER_ERROR", "Failed to open printer"};
      return std::nullopt;
    }
    const std::wstring& name = *wide;
    bool sizeUnknown = false;
    if (DriverSettings(printer.get(), name, &sizeUnknown).empty()) {
      error = {"PRINTER_ERROR",
               sizeUnknown ? "Failed to get DEVMODE size" : "Failed to get DEVMODE"};
      return std::nullopt;
    }
    if (DeviceCapabilitiesW(name.c_str(), nullptr, DC_PAPERS, nullptr, nullptr) <= 0) {
      error = {"PRINTER_ERROR", "No paper sizes available"};
      return std::nullopt;
    }
    return ReadDriverPapers(name);
  }

  bool MakeDefaultPrinter(const std::string& printer) override {
    const std::optional<std::wstring> name = PlatformText(printer);
    return name && !name->empty() && SetDefaultPrinterW(name->c_str());
  }

  bool SetPaperBySize(const std::string& printerName, int width, int height) override {
    if (printerName.empty()) return false;
    LogError("DEBUG: SetPrinterPaperSize called - printer: " + printerName +
             ", paper: " + std::to_string(width) + "x" + std::to_string(height) + "mm");
    const std::optional<std::wstring> wide = PlatformText(printerName);
    if (!wide) return false;
    const std::wstring& name = *wide;
    const std::vector<DriverPaper> papers = ReadDriverPapers(name);
    std::uint16_t code = FindPaperIdBySize(papers, width, height, &LogError);
    // A paper of the driver's list is set by its code with the driver's own
    // size for it: the size the list shows is cut to whole millimetres, and
    // written back as a custom size it would no longer be that paper.
    const DriverPaper* matched = nullptr;
    if (code != 0) {
      LogError("DEBUG: Found paper ID: " + std::to_string(code));
      for (const DriverPaper& paper : papers) {
        if (paper.code == code) {
          matched = &paper;
          break;
        }
      }
    } else {
      LogError("DEBUG: No matching paper ID found, using DMPAPER_USER");
      code = DMPAPER_USER;
    }
    const int widthTenths = matched ? matched->widthTenths : width * 10;
    const int heightTenths = matched ? matched->heightTenths : height * 10;
    UniquePrinter printer = OpenPrinterNamed(name, PRINTER_ACCESS_USE);
    if (!printer) {
      LogError("DEBUG: Failed to open printer");
      return false;
    }
    std::vector<BYTE> buffer = DriverSettings(printer.get(), name);
    if (buffer.empty()) return false;
    auto* settings = reinterpret_cast<DEVMODEW*>(buffer.data());
    // The old form would otherwise win over the new paper code.
    settings->dmFields &= ~DM_FORMNAME;
    std::memset(settings->dmFormName, 0, sizeof(settings->dmFormName));
    settings->dmPaperSize = static_cast<short>(code);
    settings->dmPaperWidth = static_cast<short>(widthTenths);
    settings->dmPaperLength = static_cast<short>(heightTenths);
    settings->dmFields |= DM_PAPERSIZE | DM_PAPERWIDTH | DM_PAPERLENGTH;
    const bool landscape = LandscapeFor(width, height, widthTenths / 10, heightTenths / 10);
    settings->dmFields |= DM_ORIENTATION;
    settings->dmOrientation =
        static_cast<short>(landscape ? DMORIENT_LANDSCAPE : DMORIENT_PORTRAIT);
    LogError(std::string("DEBUG: Setting dmOrientation=") + (landscape ? "Landscape" : "Portrait") +
             " for paper " + std::to_string(width) + "x" + std::to_string(height) + "mm");
    LogError("DEBUG: Setting dmPaperSize=" + std::to_string(code));
    // A paper of the list counts as kept by its code; a custom size also by
    // its size.
    return ApplyPaper(printer.get(), name, buffer, matched == nullptr,
                      "DEBUG: Printer settings saved");
  }

  bool SetPaperByName(const std::string& printerName, const std::string& paperName) override {
    LogError("DEBUG: SetPrinterPaperSize called - printer: " + printerName +
             ", paper: " + paperName);
    const std::optional<std::wstring> wide = PlatformText(printerName);
    UniquePrinter printer = wide ? OpenPrinterNamed(*wide, PRINTER_ACCESS_USE) : nullptr;
    if (!printer) {
      LogError("DEBUG: OpenPrinter failed, error: " + std::to_string(GetLastError()));
      return false;
    }
    const std::wstring& name = *wide;
    std::vector<BYTE> buffer = DriverSettings(printer.get(), name);
    if (buffer.empty()) {
      LogError("DEBUG: DocumentProperties get failed");
      return false;
    }
    const std::vector<DriverPaper> papers = ReadDriverPapers(name);
    if (papers.empty()) {
      LogError("DEBUG: No paper sizes found for printer");
      return false;
    }
    LogError("DEBUG: Available papers for printer:");
    for (std::size_t i = 0; i < papers.size(); ++i) {
      LogError("  [" + std::to_string(i) + "] ID=" + std::to_string(papers[i].code) + " Name='" +
               papers[i].name + "' Size=" + std::to_string(papers[i].widthTenths) + "x" +
               std::to_string(papers[i].heightTenths) + " (0.1mm)");
    }
    const std::optional<std::size_t> match = FindPaperByName(papers, paperName);
    if (!match || papers[*match].code == 0) {
      LogError("DEBUG: Paper '" + paperName + "' not found");
      return false;
    }
    const DriverPaper& paper = papers[*match];
    if (paper.name == paperName) {
      LogError("DEBUG: Found exact match paper '" + paperName +
               "' with ID: " + std::to_string(paper.code));
    } else {
      LogError("DEBUG: Found partial match paper '" + paper.name + "' for '" + paperName +
               "' with ID: " + std::to_string(paper.code));
    }
    LogError("DEBUG: Setting paper ID=" + std::to_string(paper.code) +
             " Width=" + std::to_string(paper.widthTenths) +
             " Height=" + std::to_string(paper.heightTenths) + " (0.1mm)");
    auto* settings = reinterpret_cast<DEVMODEW*>(buffer.data());
    settings->dmFields &= ~DM_FORMNAME;
    std::memset(settings->dmFormName, 0, sizeof(settings->dmFormName));
    settings->dmPaperSize = static_cast<short>(paper.code);
    settings->dmPaperWidth = static_cast<short>(paper.widthTenths);
    settings->dmPaperLength = static_cast<short>(paper.heightTenths);
    settings->dmFields |= DM_PAPERSIZE | DM_PAPERLENGTH | DM_PAPERWIDTH;
    return ApplyPaper(printer.get(), name, buffer, false,
                      "DEBUG: Printer settings updated successfully");
  }

  DialogOutcome PickPaper(const std::string& printerName, DialogPaper& chosen,
                          PrintError& error) override {
    const std::optional<std::wstring> wide = PlatformText(printerName);
    UniquePrinter printer = wide ? OpenPrinterNamed(*wide) : nullptr;
    if (!printer) {
      error = {"PRINTER_ERROR", "Failed to open printer"};
      return DialogOutcome::kFailed;
    }
    const std::wstring& name = *wide;
    bool sizeUnknown = false;
    std::vector<BYTE> current = DriverSettings(printer.get(), name, &sizeUnknown);
    if (current.empty()) {
      error = {"DEVMODE_ERROR",
               sizeUnknown ? "Failed to query DEVMODE size" : "Failed to get current DEVMODE"};
      return DialogOutcome::kFailed;
    }
    std::vector<BYTE> picked(current.size(), 0);
    LONG answer = 0;
    {
      const DialogOpen open;
      answer = PrintingSeams().paperDialog(printer.get(), name,
                                           reinterpret_cast<DEVMODEW*>(current.data()),
                                           reinterpret_cast<DEVMODEW*>(picked.data()));
    }
    if (answer == IDCANCEL) return DialogOutcome::kCancelled;
    if (answer != IDOK) {
      error = {"DEVMODE_ERROR", "Failed to prompt for DEVMODE"};
      return DialogOutcome::kFailed;
    }
    const auto* settings = reinterpret_cast<const DEVMODEW*>(picked.data());
    chosen.code =
        (settings->dmFields & DM_PAPERSIZE) ? static_cast<std::uint16_t>(settings->dmPaperSize) : 0;
    chosen.form = (settings->dmFields & DM_FORMNAME) ? FormName(*settings) : "";
    chosen.widthTenths = (settings->dmFields & DM_PAPERWIDTH) ? settings->dmPaperWidth : 0;
    chosen.heightTenths = (settings->dmFields & DM_PAPERLENGTH) ? settings->dmPaperLength : 0;
    return DialogOutcome::kChosen;
  }

  std::optional<std::string> PickPrinter() override {
    PRINTDLGW dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.Flags = PD_RETURNDC | PD_USEDEVMODECOPIESANDCOLLATE;
    dialog.nCopies = 1;
    BOOL answered = FALSE;
    {
      const DialogOpen open;
      answered = PrintingSeams().printDialog(&dialog);
    }
    // Owners for what the dialog handed out, whatever it answered.
    UniqueDc dc(dialog.hDC);
    const auto freeMemory = [](HGLOBAL memory) {
      if (memory) GlobalFree(memory);
    };
    std::string name;
    if (answered && dialog.hDevNames) {
      if (const auto* names = static_cast<const DEVNAMES*>(GlobalLock(dialog.hDevNames))) {
        name = Utf8FromUtf16(reinterpret_cast<const wchar_t*>(names) + names->wDeviceOffset);
        GlobalUnlock(dialog.hDevNames);
      }
    }
    freeMemory(dialog.hDevMode);
    freeMemory(dialog.hDevNames);
    if (!answered || name.empty()) return std::nullopt;
    return name;
  }

  std::optional<int> PrintPages(const std::vector<std::string>& paths, PrintError& error) override;

  std::intptr_t RunShellVerb(const std::string& verb, const std::string& path) override {
    const std::optional<std::wstring> wideVerb = PlatformText(verb);
    const std::optional<std::wstring> file = PlatformText(path);
    // What the shell answers for a file that is not there.
    if (!wideVerb || !file) return SE_ERR_FNF;
    // This runs on the print queue's thread, which has no apartment of its own.
    const ComApartment apartment;
    return PrintingSeams().shellExecute(*wideVerb, *file, verb == "open" ? SW_SHOW : SW_HIDE);
  }

  bool FileExists(const std::string& path) override {
    const std::optional<std::wstring> file = PlatformText(path);
    return file && GetFileAttributesW(file->c_str()) != INVALID_FILE_ATTRIBUTES;
  }
};

void LogSettings(const DEVMODEW& settings) {
  LogError("DEBUG PRINTER SETTINGS:");
  LogError("  Paper Size ID: " + std::to_string(settings.dmPaperSize));
  LogError("  Paper Width: " + std::to_string(settings.dmPaperWidth) + " (0.1mm units)");
  LogError("  Paper Length: " + std::to_string(settings.dmPaperLength) + " (0.1mm units)");
  LogError("  Print Quality: " + std::to_string(settings.dmPrintQuality) + " DPI");
  LogError("  Y Resolution: " + std::to_string(settings.dmYResolution) + " DPI");
  LogError(std::string("  Orientation: ") + OrientationName(settings));
  LogError("  Copies: " + std::to_string(settings.dmCopies));
}

// One page's image stretched onto the printable area.
void DrawPage(HDC printerDc, GpBitmap* image, std::uint32_t width, std::uint32_t height,
              const PageFit& fit) {
  HBITMAP converted = nullptr;
  if (gdip::GdipCreateHBITMAPFromBitmap(image, &converted, 0xFFFFFFFF) != Gdiplus::Ok ||
      !converted) {
    LogError("DEBUG: Failed to get HBITMAP from GDI+ Bitmap");
    return;
  }
  UniqueGdiObject bitmap(converted);
  UniqueDc memory(CreateCompatibleDC(printerDc));
  if (!memory) return;
  HGDIOBJ old = SelectObject(memory.get(), bitmap.get());
  SetStretchBltMode(printerDc, HALFTONE);
  SetBrushOrgEx(printerDc, 0, 0, nullptr);
  const BOOL stretched =
      StretchBlt(printerDc, fit.offsetX, fit.offsetY, fit.width, fit.height, memory.get(), 0, 0,
                 static_cast<int>(width), static_cast<int>(height), SRCCOPY);
  LogError(std::string("DEBUG: StretchBlt result: ") + (stretched ? "SUCCESS" : "FAILED"));
  SelectObject(memory.get(), old);
}

std::optional<int> SpoolerPlatform::PrintPages(const std::vector<std::string>& paths,
                                               PrintError& error) {
  const int total = static_cast<int>(paths.size());
  LogError("DEBUG C++: PrintWithLayoutWindows using GDI Print API with " + std::to_string(total) +
           " images as SINGLE job");
  const std::string defaultName = DefaultPrinter().value_or("");
  LogError("DEBUG C++: Default printer: " + defaultName);
  const std::wstring name = PlatformText(defaultName).value_or(std::wstring());
  if (!name.empty()) {
    if (UniquePrinter printer = OpenPrinterNamed(name)) {
      DWORD size = 0;
      GetPrinterW(printer.get(), 2, nullptr, 0, &size);
      std::vector<BYTE> buffer(size ? size : 1, 0);
      if (size && GetPrinterW(printer.get(), 2, buffer.data(), size, &size)) {
        const auto* info = reinterpret_cast<const PRINTER_INFO_2W*>(buffer.data());
        if (info->pDevMode) LogSettings(*info->pDevMode);
      }
    }
  }
  GdiplusSession session;
  UniqueDc dc;
  if (!name.empty()) {
    if (UniquePrinter printer = OpenPrinterNamed(name)) {
      const std::vector<BYTE> settings = DriverSettings(printer.get(), name);
      if (!settings.empty()) {
        const auto* devmode = reinterpret_cast<const DEVMODEW*>(settings.data());
        dc.reset(CreateDCW(nullptr, name.c_str(), nullptr, devmode));
        if (dc)
          LogError(std::string("DEBUG: Created DC with DEVMODE orientation=") +
                   OrientationName(*devmode));
      }
    }
  }
  if (!dc && !name.empty()) {
    LogError("DEBUG: Falling back to DC without DEVMODE");
    dc.reset(CreateDCW(nullptr, name.c_str(), nullptr, nullptr));
  }
  if (!dc) {
    LogError("DEBUG: Failed to create printer DC, error=" + std::to_string(GetLastError()));
    error = {"PRINT_FAILED", "Failed to create printer DC"};
    return std::nullopt;
  }
  const int dpiX = GetDeviceCaps(dc.get(), LOGPIXELSX);
  const int dpiY = GetDeviceCaps(dc.get(), LOGPIXELSY);
  const int areaWidth = GetDeviceCaps(dc.get(), HORZRES);
  const int areaHeight = GetDeviceCaps(dc.get(), VERTRES);
  LogError("DEBUG PRINTER DC INFO:");
  LogError("  Printer DPI: " + std::to_string(dpiX) + "x" + std::to_string(dpiY));
  LogError("  Printable area: " + std::to_string(areaWidth) + "x" + std::to_string(areaHeight) +
           " pixels");
  LogError("  Printable area: " + std::to_string(GetDeviceCaps(dc.get(), HORZSIZE)) + "x" +
           std::to_string(GetDeviceCaps(dc.get(), VERTSIZE)) + " mm");
  LogError("  Physical page: " + std::to_string(GetDeviceCaps(dc.get(), PHYSICALWIDTH)) + "x" +
           std::to_string(GetDeviceCaps(dc.get(), PHYSICALHEIGHT)) + " pixels");
  LogError("  Physical offset: " + std::to_string(GetDeviceCaps(dc.get(), PHYSICALOFFSETX)) + "x" +
           std::to_string(GetDeviceCaps(dc.get(), PHYSICALOFFSETY)) + " pixels");

  DOCINFOW document = {};
  document.cbSize = sizeof(document);
  document.lpszDocName = L"Korvela Print";
  if (StartDocW(dc.get(), &document) <= 0) {
    LogError("DEBUG: StartDoc failed, error=" + std::to_string(GetLastError()));
    error = {"PRINT_FAILED", "Failed to start print job"};
    return std::nullopt;
  }
  int printed = 0;
  for (int page = 1; page <= total; ++page) {
    const std::string& path = paths[static_cast<std::size_t>(page - 1)];
    LogError("DEBUG C++: Printing page " + std::to_string(page) + "/" + std::to_string(total) +
             ": " + path);
    GpBitmap* loaded = nullptr;
    const std::optional<std::wstring> file = PlatformText(path);
    const Gdiplus::GpStatus status =
        file ? gdip::GdipCreateBitmapFromFile(file->c_str(), &loaded) : Gdiplus::FileNotFound;
    if (!loaded) {
      LogError("DEBUG: Failed to load image, status=-1");
      continue;
    }
    GdiplusBitmap image(loaded);
    if (status != Gdiplus::Ok) {
      LogError("DEBUG: Failed to load image, status=" + std::to_string(static_cast<int>(status)));
      continue;
    }
    UINT width = 0;
    UINT height = 0;
    float xres = 0;
    float yres = 0;
    gdip::GdipGetImageWidth(image.get(), &width);
    gdip::GdipGetImageHeight(image.get(), &height);
    gdip::GdipGetImageHorizontalResolution(image.get(), &xres);
    gdip::GdipGetImageVerticalResolution(image.get(), &yres);
    LogError("DEBUG IMAGE INFO:");
    LogError("  Image size: " + std::to_string(width) + "x" + std::to_string(height) + " pixels");
    LogError("  Image DPI: " + FormatG(xres) + "x" + FormatG(yres));
    LogError("  Physical size: " + FormatG(width / xres * 25.4f) + "x" +
             FormatG(height / yres * 25.4f) + " mm");
    if (StartPage(dc.get()) <= 0) {
      LogError("DEBUG: StartPage failed for page " + std::to_string(page) +
               ", error=" + std::to_string(GetLastError()));
      continue;
    }
    const PageFit fit = FitToPrintableArea(width, height, areaWidth, areaHeight);
    LogError("DEBUG DRAWING (fit to page):");
    LogError("  Scale factor: " + FormatG(fit.scale) + " (scaleX=" + FormatG(fit.scaleX) +
             ", scaleY=" + FormatG(fit.scaleY) + ")");
    LogError("  Dest size: " + std::to_string(fit.width) + "x" + std::to_string(fit.height) +
             " pixels");
    LogError("  Offset: " + std::to_string(fit.offsetX) + "x" + std::to_string(fit.offsetY) +
             " pixels");
    LogError("  Expected physical: " + FormatG(fit.width / static_cast<float>(dpiX) * 25.4f) + "x" +
             FormatG(fit.height / static_cast<float>(dpiY) * 25.4f) + " mm");
    DrawPage(dc.get(), image.get(), width, height, fit);
    // A page counts only once the spooler took it.
    if (EndPage(dc.get()) > 0) {
      ++printed;
      LogError("DEBUG: Page " + std::to_string(page) + " sent to printer successfully");
    } else {
      LogError("DEBUG: EndPage failed for page " + std::to_string(page) +
               ", error=" + std::to_string(GetLastError()));
    }
  }
  const bool ended = EndDoc(dc.get()) > 0;
  if (!ended) {
    LogError("DEBUG: EndDoc failed, error=" + std::to_string(GetLastError()));
    printed = 0;  // the spooler refused the job: nothing was printed
  }
  LogError("DEBUG: Print job completed with " + std::to_string(printed) + "/" +
           std::to_string(total) + " pages");
  return printed;
}

}  // namespace

PrintingPlatform& ProductPrintingPlatform() {
  static SpoolerPlatform platform;
  return platform;
}

}  // namespace runner::printing
