#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "printing_channel.h"
#include "recording_result.h"

namespace runner::printing {
namespace {

std::string Dispatch(std::span<const PrintingMethod> table, const std::string& name) {
  std::string answer;
  DispatchPrintingCall(table, MethodCall(name, nullptr),
                       std::make_unique<RecordingResult>(&answer));
  return answer;
}

TEST(PrintingDispatchTest, TableHasTheNineteenNamesInOrder) {
  std::vector<std::string> names;
  for (const PrintingMethod& method : PrintingMethods()) names.emplace_back(method.name);
  EXPECT_EQ(names,
            (std::vector<std::string>{
                "printImagesWindows", "getPrintersWindows", "getDefaultPrinterWindows",
                "printToPrinterWindows", "pickPaperSizeWindows", "pickPrinterAndPaperWindows",
                "getPrinterCapabilitiesWindows", "getAvailablePrinters", "printImagesToPrinter",
                "bakeImagesForPrinting", "getColorProfiles", "getSelectedColorProfile",
                "setSelectedColorProfile", "createGridImages", "createGridImagesFast",
                "createGridImagesFastAsync", "checkGridJobStatus", "printWithLayoutWindows",
                "setDefaultPrinterAndPaper"}));
}

// Each row's handler records its own row; the first exact match wins.
std::string lastRow;
template <int Row>
void RowHandler(const MethodCall&, std::unique_ptr<MethodResult> result) {
  lastRow = std::to_string(Row);
  result->Success();
}

TEST(PrintingDispatchTest, EveryNameReachesItsOwnRowByExactComparison) {
  const std::array<PrintingMethod, 4> table = {{
      {"getPrinters", &RowHandler<0>},
      {"getPrintersWindows", &RowHandler<1>},
      {"getPrintersWindows", &RowHandler<2>},  // never reached: the first match wins
      {"waiting", nullptr},
  }};
  lastRow.clear();
  EXPECT_EQ(Dispatch(table, "getPrintersWindows"), "success");
  EXPECT_EQ(lastRow, "1");
  EXPECT_EQ(Dispatch(table, "getPrinters"), "success");
  EXPECT_EQ(lastRow, "0");
  lastRow.clear();
  for (const char* other :
       {"GetPrintersWindows", "getPrintersWindow", "getPrintersWindowsX", "", "getprinters"}) {
    EXPECT_EQ(Dispatch(table, other), "not implemented") << other;
  }
  EXPECT_EQ(lastRow, "");
  EXPECT_EQ(Dispatch(table, "waiting"), "not implemented");
}

TEST(PrintingDispatchTest, EveryNameHasItsHandler) {
  EXPECT_TRUE(WaitingPrintingMethods().empty());
}

TEST(PrintingDispatchTest, BuiltNamesReachTheirHandlers) {
  // Without arguments these handlers answer an argument error.
  for (const char* name :
       {"createGridImages", "createGridImagesFast", "createGridImagesFastAsync",
        "checkGridJobStatus", "bakeImagesForPrinting", "setSelectedColorProfile",
        "getPrinterCapabilitiesWindows", "pickPaperSizeWindows", "setDefaultPrinterAndPaper",
        "printWithLayoutWindows", "printImagesToPrinter", "printToPrinterWindows",
        "printImagesWindows"}) {
    std::string answer;
    HandlePrintingCall(MethodCall(name, nullptr), std::make_unique<RecordingResult>(&answer));
    EXPECT_THAT(answer, ::testing::StartsWith("INVALID_ARGUMENTS: ")) << name;
  }
}

}  // namespace
}  // namespace runner::printing
