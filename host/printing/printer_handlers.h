// The printer handlers of the printing channel: listing printers and
// papers, choosing and setting them, and printing. They read their
// arguments and build their answers here; the spooler, GDI, the dialogs and
// the shell are reached through a PrintingPlatform.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "method_call.h"
#include "method_result.h"
#include "printer_rules.h"

namespace runner::printing {

// An error answer: code and message.
struct PrintError {
  std::string code;
  std::string message;
};

enum class DialogOutcome { kChosen, kCancelled, kFailed };

class PrintingPlatform {
 public:
  virtual ~PrintingPlatform() = default;

  // The spooler's local and connected printers; nullopt when it cannot be read.
  virtual std::optional<std::vector<PrinterInfo>> Printers() = 0;
  // The default printer's name; nullopt when there is none.
  virtual std::optional<std::string> DefaultPrinter() = 0;
  // A printer's papers (Part "listing a printer's papers"), or its error.
  virtual std::optional<std::vector<DriverPaper>> Papers(const std::string& printer,
                                                         PrintError& error) = 0;
  virtual bool MakeDefaultPrinter(const std::string& printer) = 0;
  // The printer's default paper, by size in mm or by name; true only when
  // the driver took it and it was saved.
  virtual bool SetPaperBySize(const std::string& printer, int width, int height) = 0;
  virtual bool SetPaperByName(const std::string& printer, const std::string& paper) = 0;
  // The driver's paper dialog for a printer: the choice, cancel, or an error.
  virtual DialogOutcome PickPaper(const std::string& printer, DialogPaper& chosen,
                                  PrintError& error) = 0;
  // The print dialog: the chosen printer's name, or nullopt.
  virtual std::optional<std::string> PickPrinter() = 0;
  // One GDI job of the pages on the default printer: the pages printed, or
  // an error for the whole job.
  virtual std::optional<int> PrintPages(const std::vector<std::string>& paths,
                                        PrintError& error) = 0;
  // The shell's verb ("print" hidden, "open" shown) on a file: its result
  // (above 32 is success).
  virtual std::intptr_t RunShellVerb(const std::string& verb, const std::string& path) = 0;
  virtual bool FileExists(const std::string& path) = 0;
};

// The platform the handlers use: the product's, unless a test set another
// (nullptr restores the product's).
PrintingPlatform& Printing();
void SetPrintingPlatform(PrintingPlatform* platform);

// While a modal printer dialog is open, the platform thread still serves
// channel calls; printer calls made meanwhile are answered "PRINTER_BUSY"
// instead of reaching the spooler from inside the dialog.
class DialogOpen {
 public:
  DialogOpen();
  ~DialogOpen();
  DialogOpen(const DialogOpen&) = delete;
  DialogOpen& operator=(const DialogOpen&) = delete;
  static bool Now();
};

void HandleGetPrinters(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandleGetDefaultPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandleGetPrinterCapabilities(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePickPaperSize(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePickPrinterAndPaper(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandleSetDefaultPrinterAndPaper(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePrintWithLayout(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePrintImagesToPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePrintToPrinter(const MethodCall& call, std::unique_ptr<MethodResult> result);
void HandlePrintImages(const MethodCall& call, std::unique_ptr<MethodResult> result);

// The product's platform (the spooler, GDI and the shell); outside Windows
// one that has no printers.
PrintingPlatform& ProductPrintingPlatform();

}  // namespace runner::printing
