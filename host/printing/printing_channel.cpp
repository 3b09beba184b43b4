// The printing channel's routing of each method to its handler.
#include "printing_channel.h"

#include "baking_handler.h"
#include "color_profiles.h"
#include "grid_jobs.h"
#include "printer_handlers.h"

namespace runner::printing {

const std::array<PrintingMethod, 19>& PrintingMethods() {
  static const std::array<PrintingMethod, 19> methods = {{
      {"printImagesWindows", &HandlePrintImages},
      {"getPrintersWindows", &HandleGetPrinters},
      {"getDefaultPrinterWindows", &HandleGetDefaultPrinter},
      {"printToPrinterWindows", &HandlePrintToPrinter},
      {"pickPaperSizeWindows", &HandlePickPaperSize},
      {"pickPrinterAndPaperWindows", &HandlePickPrinterAndPaper},
      {"getPrinterCapabilitiesWindows", &HandleGetPrinterCapabilities},
      {"getAvailablePrinters", &HandleGetPrinters},
      {"printImagesToPrinter", &HandlePrintImagesToPrinter},
      {"bakeImagesForPrinting", &HandleBakeImagesForPrinting},
      {"getColorProfiles", &HandleGetColorProfiles},
      {"getSelectedColorProfile", &HandleGetSelectedColorProfile},
      {"setSelectedColorProfile", &HandleSetSelectedColorProfile},
      {"createGridImages", &HandleCreateGridImages},
      {"createGridImagesFast", &HandleCreateGridImages},
      {"createGridImagesFastAsync", &HandleCreateGridImagesFastAsync},
      {"checkGridJobStatus", &HandleCheckGridJobStatus},
      {"printWithLayoutWindows", &HandlePrintWithLayout},
      {"setDefaultPrinterAndPaper", &HandleSetDefaultPrinterAndPaper},
  }};
  return methods;
}

void DispatchPrintingCall(std::span<const PrintingMethod> table, const MethodCall& call,
                          std::unique_ptr<MethodResult> result) {
  const std::string& name = call.method_name();
  for (const PrintingMethod& method : table) {
    if (method.name == name) {
      if (method.handler) {
        method.handler(call, std::move(result));
      } else {
        result->NotImplemented();
      }
      return;
    }
  }
  result->NotImplemented();
}

void HandlePrintingCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  DispatchPrintingCall(PrintingMethods(), call, std::move(result));
}

std::vector<std::string> WaitingPrintingMethods() {
  std::vector<std::string> waiting;
  for (const PrintingMethod& method : PrintingMethods()) {
    if (!method.handler) waiting.emplace_back(method.name);
  }
  return waiting;
}

}  // namespace runner::printing
