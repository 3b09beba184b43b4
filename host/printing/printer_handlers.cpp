// The printer calls: arguments read, the rules applied, the spooler asked,
// answers built.
#include "printer_handlers.h"

#include "arguments.h"
#include "logging.h"
#include "long_calls.h"

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

// Answers decided off the platform thread.
Answer Failure(std::string code, std::string message) {
  return [code = std::move(code), message = std::move(message)](MethodResult& result) {
    result.Error(code, message);
  };
}
Answer Success(EncodableValue value) {
  return [value = std::move(value)](MethodResult& result) { result.Success(value); };
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
  std::optional<std::string> paperName;
  if (const std::string* name = ReadPlatformText(*arguments, "paperName")) paperName = *name;
  std::optional<PaperSize> paperSize;
  if (const EncodableValue* size = FindValue(*arguments, "paperSize");
      size && size->Is<EncodableMap>()) {
    paperSize = ReadPaperSize(size);
  }
  // In the print queue: a job already under way keeps the printer and paper
  // it started with.
  RunLongCall(
      std::move(result), LongCallLane::kPrintQueue,
      [printer = *printer, paperName, paperSize]() -> Answer {
        const bool printerSet = !printer.empty() && Printing().MakeDefaultPrinter(printer);
        bool paperSet = false;
        if (paperName) {
          LogError("DEBUG: SetDefaultPrinterAndPaper - paperName: " + *paperName);
          paperSet = Printing().SetPaperByName(printer, *paperName);
        } else if (paperSize && paperSize->width >= 1 && paperSize->height >= 1) {
          paperSet = Printing().SetPaperBySize(printer, paperSize->width, paperSize->height);
        }
        return Success(EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(printerSet)},
                                                   {S("paperSet"), EncodableValue(paperSet)}}));
      });
}

void HandlePrintWithLayout(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = nullptr;
  const EncodableList* list = ImagePathList(call, *result, arguments);
  if (!list) return;
  std::vector<std::string> pages = StringElements(*list);
  if (pages.empty()) {
    result->Error("NO_VALID_PATHS", "No valid file paths");
    return;
  }
  // The printer and paper to set first, when both are given.
  std::optional<std::string> printer;
  PaperSize paper;
  const EncodableValue* printerValue = FindValue(*arguments, "printerName");
  const EncodableValue* paperValue = FindValue(*arguments, "paperSize");
  if (printerValue && paperValue) {
    const auto* name = printerValue->GetIf<std::string>();
    if (name && !name->empty() && IsPlatformText(*name)) {
      printer = *name;
      paper = ReadPaperSize(paperValue);
    }
  }
  RunLongCall(std::move(result), LongCallLane::kPrintQueue,
              [pages = std::move(pages), printer, paper]() -> Answer {
                if (printer) {
                  // A printer that cannot be made the default must not leave
                  // the job to whichever printer is the default.
                  if (!Printing().MakeDefaultPrinter(*printer)) {
                    LogError("DEBUG: Could not make " + *printer + " the default printer");
                    return Failure("PRINT_FAILED", "Failed to create printer DC");
                  }
                  if (paper.width >= 1 && paper.height >= 1) {
                    Printing().SetPaperBySize(*printer, paper.width, paper.height);
                  }
                }
                PrintError error;
                const std::optional<int> printed = Printing().PrintPages(pages, error);
                if (!printed) return Failure(error.code, error.message);
                if (*printed > 0) return Success(EncodableValue(true));
                return Failure("PRINT_FAILED", "Failed to print any pages");
              });
}

void HandlePrintImagesToPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const EncodableMap* arguments = nullptr;
  const EncodableList* list = ImagePathList(call, *result, arguments);
  if (!list) return;
  RunLongCall(
      std::move(result), LongCallLane::kPrintQueue, [paths = StringElements(*list)]() -> Answer {
        bool anyHandedOver = false;
        for (const std::string& path : paths) {
          // A path the shell would read only in part fails like a missing file.
          const std::intptr_t answer =
              IsPlatformText(path) ? Printing().RunShellVerb("print", path) : kShellFileNotFound;
          if (answer > 32) {
            anyHandedOver = true;
          } else {
            LogError("DEBUG: ShellExecute print failed for file, error=" + std::to_string(answer));
          }
        }
        if (!anyHandedOver) return Failure("PRINT_FAILED", "Failed to print any images");
        return Success(EncodableValue());
      });
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
  RunLongCall(std::move(result), LongCallLane::kPrintQueue,
              [paths = StringElements(list->Get<EncodableList>()), copies]() -> Answer {
                for (const std::string& path : paths) {
                  for (int copy = 0; copy < copies; ++copy) {
                    if (!IsPlatformText(path) || Printing().RunShellVerb("print", path) <= 32) {
                      return Failure("PRINT_FAILED", "Failed to print image: " + path);
                    }
                  }
                }
                return Success(EncodableValue(true));
              });
}

void HandlePrintImages(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  if (AnsweredBusy(result)) return;
  const auto* list = call.arguments()->GetIf<EncodableList>();
  if (!list) {
    result->Error("INVALID_ARGUMENTS", "Expected array of strings");
    return;
  }
  // Each element is checked as its turn comes, after the photos before it
  // were opened, as the shell is reached one photo at a time.
  RunLongCall(std::move(result), LongCallLane::kPrintQueue, [list = *list]() -> Answer {
    for (const EncodableValue& element : list) {
      const auto* path = element.GetIf<std::string>();
      if (!path || !IsPlatformText(*path)) {
        return Failure("INVALID_ARGUMENTS", "Expected string path");
      }
      if (!Printing().FileExists(*path)) {
        return Failure("FILE_NOT_FOUND", "Image file not found: " + *path);
      }
      // Only photos are opened: the shell would run a program as readily.
      if (!IsPhotoPath(*path) || Printing().RunShellVerb("open", *path) <= 32) {
        return Failure("SHELL_EXECUTE_FAILED", "Failed to open image with default application");
      }
    }
    return Success(EncodableValue(true));
  });
}

}  // namespace runner::printing
