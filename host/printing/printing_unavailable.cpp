// Outside Windows there is no spooler: no printers, and every operation fails.
#include "printer_handlers.h"

namespace runner::printing {
namespace {

class NoPrinters : public PrintingPlatform {
 public:
  std::optional<std::vector<PrinterInfo>> Printers() override { return std::vector<PrinterInfo>{}; }
  std::optional<std::string> DefaultPrinter() override { return std::nullopt; }
  std::optional<std::vector<DriverPaper>> Papers(const std::string&, PrintError& error) override {
    error = {"PRINTER_ERROR", "Failed to open printer"};
    return std::nullopt;
  }
  bool MakeDefaultPrinter(const std::string&) override { return false; }
  bool SetPaperBySize(const std::string&, int, int) override { return false; }
  bool SetPaperByName(const std::string&, const std::string&) override { return false; }
  DialogOutcome PickPaper(const std::string&, DialogPaper&, PrintError& error) override {
    error = {"PRINTER_ERROR", "Failed to open printer"};
    return DialogOutcome::kFailed;
  }
  std::optional<std::string> PickPrinter() override { return std::nullopt; }
  std::optional<int> PrintPages(const std::vector<std::string>&, PrintError& error) override {
    error = {"PRINT_FAILED", "Failed to create printer DC"};
    return std::nullopt;
  }
  std::intptr_t RunShellVerb(const std::string&, const std::string&) override { return 2; }
  bool FileExists(const std::string&) override { return false; }
};

}  // namespace

PrintingPlatform& ProductPrintingPlatform() {
  static NoPrinters platform;
  return platform;
}

}  // namespace runner::printing
