#include "printer_handlers.h"

#include "arguments.h"
#include "logging.h"

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

// What the shell answers for a file it cannot find (SE_ERR_FNF).
constexpr std::intptr_t kShellFileNotFound = 2;

PrintingPlatform* chosenPlatform = nullptr;
int openDialogs = 0;  // platform thread only

// Printer calls wait for no dialog: answered at once while one is open.
bool AnsweredBusy(std::unique_ptr<MethodResult>& result) {
  if (!DialogOpen::Now()) return false;
  result->Error("PRINTER_BUSY", "A printer dialog is open");
  return true;
}

// The call's argument map; null after answering the argument error.
const EncodableMap* ArgumentMap(const MethodCall& call, MethodResult& result) {
  const auto* arguments = call.arguments()->GetIf<EncodableMap>();
  if (!arguments) result.Error("INVALID_ARGUMENTS", "Expected map of arguments");
  return arguments;
}

// The "imagePaths" list of the two job handlers, which must be a non-empty
// list in a map; null after answering the argument error.
const EncodableList* ImagePathList(const MethodCall& call, MethodResult& result,
                                   const EncodableMap*& arguments) {
  arguments = ArgumentMap(call, result);
  if (!arguments) return nullptr;
  const EncodableValue* list = FindValue(*arguments, "imagePaths");
  if (!list || !list->Is<EncodableList>()) {
    result.Error("INVALID_ARGUMENTS", "Missing imagePaths");
    return nullptr;
  }
  if (list->Get<EncodableList>().empty()) {
    result.Error("NO_IMAGES", "No images to print");
    return nullptr;
  }
  return &list->Get<EncodableList>();
}

}  // namespace

PrintingPlatform& Printing() {
  return chosenPlatform ? *chosenPlatform : ProductPrintingPlatform();
}

void SetPrintingPlatform(PrintingPlatform* platform) { chosenPlatform = platform; }

DialogOpen::DialogOpen() { ++openDialogs; }
DialogOpen::~DialogOpen() { --openDialogs; }
bool DialogOpen::Now() { return openDialogs > 0; }

void HandleGetPrinters(const MethodCall&, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  EncodableList records;
  if (const std::optional<std::vector<PrinterInfo>> printers = Printing().Printers()) {
    const std::string defaultName = Printing().DefaultPrinter().value_or("");
    for (const PrinterInfo& printer : *printers) {
      records.push_back(PrinterRecord(printer, defaultName));
    }
  }
  result->Success(EncodableValue(std::move(records)));
}

void HandleGetDefaultPrinter(const MethodCall&, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const std::optional<std::string> name = Printing().DefaultPrinter();
  if (!name) {
    result->Success();
    return;
  }
  result->Success(DefaultPrinterRecord(*name));
}

void HandleGetPrinterCapabilities(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const auto* arguments = call.arguments()->GetIf<EncodableMap>();
  const std::string* printer = arguments ? ReadPlatformText(*arguments, "printerName") : nullptr;
  if (!printer || printer->empty()) {
    result->Error("INVALID_ARGUMENTS", "Printer name is required");
    return;
  }
  PrintError error;
  const std::optional<std::vector<DriverPaper>> papers = Printing().Papers(*printer, error);
  if (!papers) {
    result->Error(error.code, error.message);
    return;
  }
  result->Success(EncodableValue(
      EncodableMap{{S("supportedPaperSizes"), EncodableValue(PaperRecords(*papers))}}));
}

void HandlePickPaperSize(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const auto* printer = call.arguments()->GetIf<std::string>();
  if (!printer || !IsPlatformText(*printer)) {
    result->Error("INVALID_ARGUMENTS", "Expected printer name");
    return;
  }
  if (printer->empty()) {
    result->Error("INVALID_ARGUMENTS", "Empty printer name");
    return;
  }
  DialogPaper chosen;
  PrintError error;
  switch (Printing().PickPaper(*printer, chosen, error)) {
    case DialogOutcome::kCancelled:
      result->Success();
      return;
    case DialogOutcome::kFailed:
      result->Error(error.code, error.message);
      return;
    case DialogOutcome::kChosen:
      result->Success(DialogPaperRecord(chosen));
      return;
  }
}

void HandlePickPrinterAndPaper(const MethodCall&, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const std::optional<std::string> printer = Printing().PickPrinter();
  if (!printer || printer->empty()) {
    result->Success();
    return;
  }
  result->Success(
      EncodableValue(EncodableMap{{S("printerName"), EncodableValue(*printer)},
                                  {S("printerDisplayName"), EncodableValue(*printer)}}));
}

void HandleSetDefaultPrinterAndPaper(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = ArgumentMap(call, *result);
  if (!arguments) return;
  const std::string* printer = ReadPlatformText(*arguments, "printerName");
  if (!printer) {
    result->Error("INVALID_ARGUMENTS", "Missing printerName");
    return;
  }
  const bool printerSet = !printer->empty() && Printing().MakeDefaultPrinter(*printer);
  bool paperSet = false;
  if (const std::string* paperName = ReadPlatformText(*arguments, "paperName")) {
    LogError("DEBUG: SetDefaultPrinterAndPaper - paperName: " + *paperName);
    paperSet = Printing().SetPaperByName(*printer, *paperName);
  } else if (const EncodableValue* paperSize = FindValue(*arguments, "paperSize");
             paperSize && paperSize->Is<EncodableMap>()) {
    const PaperSize size = ReadPaperSize(paperSize);
    if (size.width >= 1 && size.height >= 1) {
      paperSet = Printing().SetPaperBySize(*printer, size.width, size.height);
    }
  }
  result->Success(EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(printerSet)},
                                              {S("paperSet"), EncodableValue(paperSet)}}));
}

void HandlePrintWithLayout(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = nullptr;
  const EncodableList* list = ImagePathList(call, *result, arguments);
  if (!list) return;
  const std::vector<std::string> pages = StringElements(*list);
  if (pages.empty()) {
    result->Error("NO_VALID_PATHS", "No valid file paths");
    return;
  }
  const EncodableValue* printerValue = FindValue(*arguments, "printerName");
  const EncodableValue* paperValue = FindValue(*arguments, "paperSize");
  if (printerValue && paperValue) {
    const auto* printer = printerValue->GetIf<std::string>();
    if (printer && !printer->empty() && IsPlatformText(*printer)) {
      // A printer that cannot be made the default must not leave the job
      // to whichever printer is the default.
      if (!Printing().MakeDefaultPrinter(*printer)) {
        LogError("DEBUG: Could not make " + *printer + " the default printer");
        result->Error("PRINT_FAILED", "Failed to create printer DC");
        return;
      }
      const PaperSize size = ReadPaperSize(paperValue);
      if (size.width >= 1 && size.height >= 1) {
        Printing().SetPaperBySize(*printer, size.width, size.height);
      }
    }
  }
  PrintError error;
  const std::optional<int> printed = Printing().PrintPages(pages, error);
  if (!printed) {
    result->Error(error.code, error.message);
    return;
  }
  if (*printed > 0) {
    result->Success(EncodableValue(true));
  } else {
    result->Error("PRINT_FAILED", "Failed to print any pages");
  }
}

void HandlePrintImagesToPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = nullptr;
  const EncodableList* list = ImagePathList(call, *result, arguments);
  if (!list) return;
  bool anyHandedOver = false;
  for (const std::string& path : StringElements(*list)) {
    // A path the shell would read only in part fails like a missing file.
    const std::intptr_t answer =
        IsPlatformText(path) ? Printing().RunShellVerb("print", path) : kShellFileNotFound;
    if (answer > 32) {
      anyHandedOver = true;
    } else {
      LogError("DEBUG: ShellExecute print failed for file, error=" + std::to_string(answer));
    }
  }
  if (!anyHandedOver) {
    result->Error("PRINT_FAILED", "Failed to print any images");
    return;
  }
  result->Success();
}

void HandlePrintToPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = ArgumentMap(call, *result);
  if (!arguments) return;
  const EncodableValue* list = FindValue(*arguments, "imagePaths");
  if (!list || !list->Is<EncodableList>() || !ReadPlatformText(*arguments, "printerName")) {
    result->Error("INVALID_ARGUMENTS", "Missing required arguments");
    return;
  }
  const int copies = CopiesToPrint(FindValue(*arguments, "copies"));
  for (const std::string& path : StringElements(list->Get<EncodableList>())) {
    for (int copy = 0; copy < copies; ++copy) {
      if (!IsPlatformText(path) || Printing().RunShellVerb("print", path) <= 32) {
        result->Error("PRINT_FAILED", "Failed to print image: " + path);
        return;
      }
    }
  }
  result->Success(EncodableValue(true));
}

void HandlePrintImages(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const auto* list = call.arguments()->GetIf<EncodableList>();
  if (!list) {
    result->Error("INVALID_ARGUMENTS", "Expected array of strings");
    return;
  }
  for (const EncodableValue& element : *list) {
    const auto* path = element.GetIf<std::string>();
    if (!path || !IsPlatformText(*path)) {
      result->Error("INVALID_ARGUMENTS", "Expected string path");
      return;
    }
    if (!Printing().FileExists(*path)) {
      result->Error("FILE_NOT_FOUND", "Image file not found: " + *path);
      return;
    }
    // Only photos are opened: the shell would run a program as readily.
    if (!IsPhotoPath(*path) || Printing().RunShellVerb("open", *path) <= 32) {
      result->Error("SHELL_EXECUTE_FAILED", "Failed to open image with default application");
      return;
    }
  }
  result->Success(EncodableValue(true));
}

}  // namespace runner::printing
