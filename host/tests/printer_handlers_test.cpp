// The printer handlers over a platform of the tests' own, and the printing
// rules they use.
#include "printer_handlers.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "printing_channel.h"
#include "recording_result.h"

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

class FakePlatform : public PrintingPlatform {
 public:
  std::optional<std::vector<PrinterInfo>> printers = std::vector<PrinterInfo>{};
  std::optional<std::string> defaultPrinter;
  std::vector<DriverPaper> papers;
  bool acceptDefault = true;
  bool acceptPaper = true;
  std::vector<std::string> calls;  // what the handlers asked of the platform
  DialogOutcome dialog = DialogOutcome::kCancelled;
  DialogPaper dialogPaper;
  std::optional<std::string> pickedPrinter;
  int printedPages = 0;
  std::intptr_t shellAnswer = 42;
  std::function<void()> duringDialog;

  std::optional<std::vector<PrinterInfo>> Printers() override { return printers; }
  std::optional<std::string> DefaultPrinter() override { return defaultPrinter; }
  std::optional<std::vector<DriverPaper>> Papers(const std::string& printer,
                                                 PrintError& error) override {
    calls.push_back("papers " + printer);
    if (printer != "Office") {
      error = {"PRINTER_ERROR", "Failed to open printer"};
      return std::nullopt;
    }
    return papers;
  }
  bool MakeDefaultPrinter(const std::string& printer) override {
    calls.push_back("default " + printer);
    return acceptDefault;
  }
  bool SetPaperBySize(const std::string& printer, int width, int height) override {
    calls.push_back("size " + printer + " " + std::to_string(width) + "x" + std::to_string(height));
    return acceptPaper;
  }
  bool SetPaperByName(const std::string& printer, const std::string& paper) override {
    calls.push_back("name " + printer + " " + paper);
    return acceptPaper;
  }
  DialogOutcome PickPaper(const std::string& printer, DialogPaper& chosen,
                          PrintError& error) override {
    calls.push_back("pick paper " + printer);
    const DialogOpen open;
    if (duringDialog) duringDialog();
    chosen = dialogPaper;
    error = {"DEVMODE_ERROR", "Failed to prompt for DEVMODE"};
    return dialog;
  }
  std::optional<std::string> PickPrinter() override {
    const DialogOpen open;
    if (duringDialog) duringDialog();
    return pickedPrinter;
  }
  std::optional<int> PrintPages(const std::vector<std::string>& paths, PrintError&) override {
    std::string line = "print";
    for (const std::string& path : paths) line += " " + path;
    calls.push_back(line);
    return printedPages;
  }
  std::intptr_t RunShellVerb(const std::string& verb, const std::string& path) override {
    calls.push_back(verb + " " + path);
    return shellAnswer;
  }
  bool FileExists(const std::string& path) override {
    return path.find("gone") == std::string::npos;
  }
};

class PrinterHandlersTest : public ::testing::Test {
 protected:
  void SetUp() override { SetPrintingPlatform(&fake); }
  void TearDown() override { SetPrintingPlatform(nullptr); }
  std::string Call(const char* method, EncodableValue arguments = EncodableValue(),
                   EncodableValue* value = nullptr) {
    std::string text;
    HandlePrintingCall(MethodCall(method, std::make_unique<EncodableValue>(std::move(arguments))),
                       std::make_unique<RecordingResult>(&text, value));
    return text;
  }
  FakePlatform fake;
};

TEST_F(PrinterHandlersTest, PrintersAreListedWithTheExactDefaultAndTheOfflineBit) {
  fake.printers = std::vector<PrinterInfo>{{"Office", "", 0x80}, {"office", "Upstairs", 0x8}};
  fake.defaultPrinter = "office";
  EncodableValue listed;
  EXPECT_EQ(Call("getAvailablePrinters", EncodableValue(), &listed), "success");
  const auto& records = listed.Get<EncodableList>();
  ASSERT_EQ(records.size(), 2u);
  const auto& first = records[0].Get<EncodableMap>();
  const auto& second = records[1].Get<EncodableMap>();
  EXPECT_EQ(first.at(S("isDefault")), EncodableValue(false));  // differs in case only
  EXPECT_EQ(second.at(S("isDefault")), EncodableValue(true));
  EXPECT_EQ(first.at(S("isOnline")), EncodableValue(false));  // the offline bit
  EXPECT_EQ(second.at(S("isOnline")), EncodableValue(true));  // paused is not offline
  EXPECT_EQ(first.at(S("description")), S(""));
  EXPECT_EQ(second.at(S("description")), S("Upstairs"));
  EXPECT_EQ(first.at(S("supportedPaperSizes")),
            EncodableValue(EncodableList{S("A4"), S("Letter"), S("4x6")}));
  EncodableValue same;
  Call("getPrintersWindows", EncodableValue(), &same);
  EXPECT_EQ(same, listed);

  fake.printers = std::nullopt;  // an unreadable spooler
  Call("getPrintersWindows", EncodableValue(), &listed);
  EXPECT_EQ(listed, EncodableValue(EncodableList{}));
  fake.defaultPrinter.reset();
  EncodableValue none = S("x");
  Call("getDefaultPrinterWindows", EncodableValue(), &none);
  EXPECT_TRUE(none.IsNull());
}

TEST_F(PrinterHandlersTest, PapersSkipTheTooSmallAndNameTheNameless) {
  fake.papers = {{9, "A4", 2100, 2970},
                 {9, "", 2100, 2970},
                 {70, "Tiny", 5, 2970},
                 {1, "Letter", 2159, 2794},
                 {1, "Letter", 2159, 2794}};
  EncodableValue answer;
  EXPECT_EQ(Call("getPrinterCapabilitiesWindows",
                 EncodableValue(EncodableMap{{S("printerName"), S("Office")}}), &answer),
            "success");
  const auto& papers = answer.Get<EncodableMap>().at(S("supportedPaperSizes")).Get<EncodableList>();
  ASSERT_EQ(papers.size(), 4u);
  EXPECT_EQ(papers[0], EncodableValue(EncodableMap{{S("id"), S("A4")},
                                                   {S("name"), S("A4")},
                                                   {S("width"), EncodableValue(210)},
                                                   {S("height"), EncodableValue(297)},
                                                   {S("isDefault"), EncodableValue(false)}}));
  EXPECT_EQ(papers[1].Get<EncodableMap>().at(S("id")), S("DMPAPER_9"));
  EXPECT_EQ(papers[1].Get<EncodableMap>().at(S("name")), S("DMPAPER_9"));
  EXPECT_EQ(papers[2].Get<EncodableMap>().at(S("width")), EncodableValue(215));
  EXPECT_EQ(papers[3].Get<EncodableMap>().at(S("id")), S("Letter"));  // both listed
  for (EncodableValue bad : {EncodableValue(EncodableMap{{S("printerName"), S("")}}),
                             EncodableValue(EncodableMap{{S("printerName"), EncodableValue(4)}}),
                             EncodableValue(EncodableMap{}), S("Office")}) {
    EXPECT_EQ(Call("getPrinterCapabilitiesWindows", bad),
              "INVALID_ARGUMENTS: Printer name is required");
  }
  EXPECT_EQ(Call("getPrinterCapabilitiesWindows",
                 EncodableValue(EncodableMap{{S("printerName"), S("Nobody")}})),
            "PRINTER_ERROR: Failed to open printer");
}

TEST_F(PrinterHandlersTest, PaperDialogAnswersTheChoiceCancelOrFailure) {
  EXPECT_EQ(Call("pickPaperSizeWindows", EncodableValue(42)),
            "INVALID_ARGUMENTS: Expected printer name");
  EXPECT_EQ(Call("pickPaperSizeWindows", S("")), "INVALID_ARGUMENTS: Empty printer name");
  EncodableValue answer = S("x");
  EXPECT_EQ(Call("pickPaperSizeWindows", S("Office"), &answer), "success");
  EXPECT_TRUE(answer.IsNull());  // cancelled
  fake.dialog = DialogOutcome::kFailed;
  EXPECT_EQ(Call("pickPaperSizeWindows", S("Office")),
            "DEVMODE_ERROR: Failed to prompt for DEVMODE");
  fake.dialog = DialogOutcome::kChosen;
  fake.dialogPaper = {74, "", 0, 0};
  Call("pickPaperSizeWindows", S("Office"), &answer);
  EXPECT_EQ(answer, EncodableValue(EncodableMap{{S("id"), S("DMPAPER_74")},
                                                {S("name"), S("DMPAPER_74")},
                                                {S("width"), EncodableValue(102)},
                                                {S("height"), EncodableValue(152)}}));
}

TEST_F(PrinterHandlersTest, PrinterCallsDuringAnOpenDialogAreAnsweredBusy) {
  std::string during;
  fake.duringDialog = [&] { during = Call("getPrintersWindows"); };
  fake.pickedPrinter = "Office";
  EncodableValue answer;
  EXPECT_EQ(Call("pickPrinterAndPaperWindows", EncodableValue(), &answer), "success");
  EXPECT_EQ(answer, EncodableValue(EncodableMap{{S("printerName"), S("Office")},
                                                {S("printerDisplayName"), S("Office")}}));
  EXPECT_EQ(during, "PRINTER_BUSY: A printer dialog is open");
  EXPECT_EQ(Call("getPrintersWindows"), "success");  // served again once it closed
  fake.pickedPrinter.reset();
  Call("pickPrinterAndPaperWindows", EncodableValue(), &answer);
  EXPECT_TRUE(answer.IsNull());
}

TEST_F(PrinterHandlersTest, DefaultPrinterAndPaperByNameOrBySize) {
  EXPECT_EQ(Call("setDefaultPrinterAndPaper", S("Office")),
            "INVALID_ARGUMENTS: Expected map of arguments");
  EXPECT_EQ(Call("setDefaultPrinterAndPaper", EncodableValue(EncodableMap{})),
            "INVALID_ARGUMENTS: Missing printerName");
  const auto set = [&](EncodableMap arguments) {
    EncodableValue answer;
    Call("setDefaultPrinterAndPaper", EncodableValue(std::move(arguments)), &answer);
    return answer;
  };
  const EncodableValue both =
      set({{S("printerName"), S("Office")},
           {S("paperName"), S("Letter")},
           {S("paperSize"), EncodableValue(EncodableMap{{S("width"), EncodableValue(100)},
                                                        {S("height"), EncodableValue(150)}})}});
  EXPECT_EQ(both, EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(true)},
                                              {S("paperSet"), EncodableValue(true)}}));
  set({{S("printerName"), S("Office")},
       {S("paperSize"), EncodableValue(EncodableMap{{S("width"), EncodableValue(101.9)},
                                                    {S("height"), EncodableValue(152)}})}});
  // Sizes that are not numbers the printer could hold leave the paper alone.
  for (const double bad :
       {0.0, std::nan(""), std::numeric_limits<double>::infinity(), 3277.0, -5.0, 1e12}) {
    const EncodableValue answer =
        set({{S("printerName"), S("Office")},
             {S("paperSize"), EncodableValue(EncodableMap{{S("width"), EncodableValue(bad)},
                                                          {S("height"), EncodableValue(150)}})}});
    EXPECT_EQ(answer.Get<EncodableMap>().at(S("paperSet")), EncodableValue(false)) << bad;
  }
  fake.acceptDefault = false;
  fake.acceptPaper = false;
  const EncodableValue refused = set({{S("printerName"), S("Office")}, {S("paperName"), S("A4")}});
  EXPECT_EQ(refused, EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(false)},
                                                 {S("paperSet"), EncodableValue(false)}}));
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"default Office", "name Office Letter", "default Office",
                                      "size Office 101x152", "default Office", "default Office",
                                      "default Office", "default Office", "default Office",
                                      "default Office", "default Office", "name Office A4"}));
}

TEST_F(PrinterHandlersTest, PrintWithLayoutPrintsOnlyWhereItWasAsked) {
  EXPECT_EQ(Call("printWithLayoutWindows",
                 EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(EncodableList{})}})),
            "NO_IMAGES: No images to print");
  EXPECT_EQ(Call("printWithLayoutWindows",
                 EncodableValue(EncodableMap{
                     {S("imagePaths"), EncodableValue(EncodableList{EncodableValue(1)})}})),
            "NO_VALID_PATHS: No valid file paths");
  fake.printedPages = 2;
  const EncodableValue pages(EncodableList{S("a.jpg"), EncodableValue(3), S("b.jpg")});
  EXPECT_EQ(
      Call("printWithLayoutWindows",
           EncodableValue(EncodableMap{{S("imagePaths"), pages}, {S("printerName"), S("Office")}})),
      "success");  // a printer without a paper size changes nothing
  EXPECT_EQ(
      Call("printWithLayoutWindows", EncodableValue(EncodableMap{{S("imagePaths"), pages},
                                                                 {S("printerName"), S("Office")},
                                                                 {S("paperSize"), S("A4")}})),
      "success");  // the printer becomes the default, the paper is left
  // A printer that cannot be made the default prints nowhere else.
  fake.acceptDefault = false;
  EXPECT_EQ(Call("printWithLayoutWindows",
                 EncodableValue(EncodableMap{{S("imagePaths"), pages},
                                             {S("printerName"), S("Gone")},
                                             {S("paperSize"), EncodableValue(EncodableMap{})}})),
            "PRINT_FAILED: Failed to create printer DC");
  fake.printedPages = 0;
  EXPECT_EQ(Call("printWithLayoutWindows", EncodableValue(EncodableMap{{S("imagePaths"), pages}})),
            "PRINT_FAILED: Failed to print any pages");
  EXPECT_EQ(fake.calls,
            (std::vector<std::string>{"print a.jpg b.jpg", "default Office", "print a.jpg b.jpg",
                                      "default Gone", "print a.jpg b.jpg"}));
}

TEST_F(PrinterHandlersTest, ShellPathsCopiesAndOnlyPhotosOpened) {
  const EncodableValue numbers(EncodableList{EncodableValue(1), EncodableValue(2)});
  EXPECT_EQ(Call("printImagesToPrinter", EncodableValue(EncodableMap{{S("imagePaths"), numbers}})),
            "PRINT_FAILED: Failed to print any images");
  EXPECT_EQ(
      Call("printToPrinterWindows", EncodableValue(EncodableMap{{S("imagePaths"), numbers},
                                                                {S("printerName"), S("Office")}})),
      "success");
  const EncodableValue one(EncodableList{S("C:\\p.jpg")});
  for (const auto& [copies, expected] : {std::pair{EncodableValue(3), 3},
                                         {EncodableValue(0), 0},
                                         {EncodableValue(2.0), 1},
                                         {EncodableValue(100000), kMaxCopies}}) {
    fake.calls.clear();
    EXPECT_EQ(
        Call("printToPrinterWindows",
             EncodableValue(EncodableMap{
                 {S("imagePaths"), one}, {S("printerName"), S("Office")}, {S("copies"), copies}})),
        "success");
    EXPECT_EQ(static_cast<int>(fake.calls.size()), expected);
  }
  fake.shellAnswer = 31;
  EXPECT_EQ(Call("printToPrinterWindows",
                 EncodableValue(EncodableMap{{S("imagePaths"), one}, {S("printerName"), S("X")}})),
            "PRINT_FAILED: Failed to print image: C:\\p.jpg");
  EXPECT_EQ(Call("printImagesToPrinter", EncodableValue(EncodableMap{{S("imagePaths"), one}})),
            "PRINT_FAILED: Failed to print any images");
  fake.shellAnswer = 42;
  fake.calls.clear();
  EXPECT_EQ(
      Call("printImagesWindows", EncodableValue(EncodableList{S("C:\\p.jpg"), EncodableValue(7)})),
      "INVALID_ARGUMENTS: Expected string path");
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"open C:\\p.jpg"}));
  EXPECT_EQ(Call("printImagesWindows", EncodableValue(EncodableList{S("C:\\gone.jpg")})),
            "FILE_NOT_FOUND: Image file not found: C:\\gone.jpg");
  // Not a photo: never handed to the shell, which would run it.
  fake.calls.clear();
  EXPECT_EQ(Call("printImagesWindows", EncodableValue(EncodableList{S("C:\\setup.exe")})),
            "SHELL_EXECUTE_FAILED: Failed to open image with default application");
  EXPECT_TRUE(fake.calls.empty());
  EXPECT_EQ(Call("printImagesWindows", S("C:\\p.jpg")),
            "INVALID_ARGUMENTS: Expected array of strings");
  EXPECT_EQ(Call("printImagesWindows", EncodableValue(EncodableList{})), "success");
}

// A text holding a NUL would reach the platform cut at the NUL: "run.exe"
// NUL ".jpg" passes for a photo here and names a program there. Each handler
// answers it as it answers a missing or wrong argument, and no text with a
// NUL ever reaches the platform.
TEST_F(PrinterHandlersTest, TextHoldingANulIsAMissingOrWrongArgument) {
  const EncodableValue hidden(std::string("C:\\run.exe\0.jpg", 15));
  const EncodableValue printer(std::string("Office\0Other", 12));
  const EncodableValue paths(EncodableList{hidden});
  fake.papers = {{9, "A4", 2100, 2970}};
  const struct {
    const char* method;
    EncodableValue arguments;
    std::string answer;
  } cases[] = {
      {"printImagesWindows", paths, "INVALID_ARGUMENTS: Expected string path"},
      {"printImagesToPrinter", EncodableValue(EncodableMap{{S("imagePaths"), paths}}),
       "PRINT_FAILED: Failed to print any images"},
      {"printToPrinterWindows",
       EncodableValue(EncodableMap{{S("imagePaths"), paths}, {S("printerName"), S("Office")}}),
       "PRINT_FAILED: Failed to print image: " + hidden.Get<std::string>()},
      {"printToPrinterWindows",
       EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(EncodableList{S("a.jpg")})},
                                   {S("printerName"), printer}}),
       "INVALID_ARGUMENTS: Missing required arguments"},
      {"getPrinterCapabilitiesWindows", EncodableValue(EncodableMap{{S("printerName"), printer}}),
       "INVALID_ARGUMENTS: Printer name is required"},
      {"pickPaperSizeWindows", printer, "INVALID_ARGUMENTS: Expected printer name"},
      {"setDefaultPrinterAndPaper", EncodableValue(EncodableMap{{S("printerName"), printer}}),
       "INVALID_ARGUMENTS: Missing printerName"},
      // A paper name that is no text counts as not given.
      {"setDefaultPrinterAndPaper",
       EncodableValue(EncodableMap{{S("printerName"), S("Office")},
                                   {S("paperName"), EncodableValue(std::string("A4\0x", 4))}}),
       "success"},
      // A printer that is no text is not made the default; the job goes to
      // the default printer, as for a printer name of another kind.
      {"printWithLayoutWindows",
       EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(EncodableList{S("a.jpg")})},
                                   {S("printerName"), printer},
                                   {S("paperSize"), EncodableValue(EncodableMap{})}}),
       "success"},
  };
  fake.printedPages = 1;
  for (const auto& c : cases) {
    EXPECT_EQ(Call(c.method, c.arguments), c.answer) << c.method;
  }
  for (const std::string& call : fake.calls) {
    EXPECT_EQ(call.find('\0'), std::string::npos) << call;
  }
  EXPECT_EQ(fake.calls, (std::vector<std::string>{"default Office", "print a.jpg"}));
}

TEST(PrinterRulesTest, PaperBySizeWithinTenMillimetresEitherWayRound) {
  const auto find = [](std::vector<DriverPaper> papers, int w, int h) {
    return FindPaperIdBySize(papers, w, h, [](const std::string&) {});
  };
  EXPECT_EQ(find({{74, "4x6", 1020, 1520}, {120, "Near", 1010, 1500}}, 100, 150), 120);
  EXPECT_EQ(find({{74, "6x4", 1520, 1020}}, 100, 150), 74);  // turned
  EXPECT_EQ(find({{5, "a", 1100, 1500}}, 100, 150), 5);      // diff 10
  EXPECT_EQ(find({{5, "a", 1110, 1500}}, 100, 150), 0);      // diff 11
  EXPECT_EQ(find({}, 100, 150), 0);
  // Sizes far apart do not overflow the difference.
  EXPECT_EQ(find({{5, "huge", 2147483647, -2147483647 - 1}}, 3276, 3276), 0);
  EXPECT_EQ(find({{1, "first", 1000, 1500}, {2, "second", 1000, 1500}}, 100, 150), 1);
}

TEST(PrinterRulesTest, PaperByNameExactThenPartial) {
  const std::vector<DriverPaper> papers = {
      {1, "US Letter", 2159, 2794}, {70, "A4 Photo", 2100, 2970}, {9, "A4", 2100, 2970}};
  EXPECT_EQ(FindPaperByName(papers, "A4"), 2u);      // exact wins over an earlier partial
  EXPECT_EQ(FindPaperByName(papers, "letter"), 0u);  // partial, any case
  EXPECT_EQ(FindPaperByName(papers, "Legal"), std::nullopt);
  const std::vector<DriverPaper> withEmpty = {{3, "Tabloid", 2794, 4318}, {7, "", 1000, 1000}};
  EXPECT_EQ(FindPaperByName(withEmpty, "Postcard"), 1u);  // an empty name is in every name
}

TEST(PrinterRulesTest, LandscapeOnlyWhenRequestAndPaperLieDifferently) {
  EXPECT_TRUE(LandscapeFor(150, 100, 102, 152));  // a portrait paper turned
  EXPECT_FALSE(LandscapeFor(100, 150, 102, 152));
  EXPECT_FALSE(LandscapeFor(150, 100, 152, 102));  // the paper is already landscape
  EXPECT_TRUE(LandscapeFor(100, 150, 152, 102));
  EXPECT_FALSE(LandscapeFor(100, 100, 100, 100));  // square: portrait
  EXPECT_FALSE(LandscapeFor(150, 100, 150, 100));  // a custom size is the paper itself
}

TEST(PrinterRulesTest, DialogPaperText) {
  const auto record = [](DialogPaper p) { return DialogPaperRecord(p).Get<EncodableMap>(); };
  EXPECT_EQ(record({9, "A4", 2100, 2970}).at(S("id")), S("A4"));
  EXPECT_EQ(record({9, "", 0, 0}).at(S("width")), EncodableValue(210));
  EXPECT_EQ(record({0, "", 1000, 1500}).at(S("name")), S("100x150 mm"));
  const auto none = record({0, "", 0, 0});
  EXPECT_EQ(none.at(S("id")), S("0x0 mm"));
  EXPECT_EQ(none.at(S("width")), EncodableValue(210));
  EXPECT_EQ(none.at(S("height")), EncodableValue(297));
  EXPECT_EQ(record({2, "", 0, 0}).at(S("height")), EncodableValue(297));  // not in the table
}

TEST(PrinterRulesTest, PagesFitTheirPrintableAreaCentred) {
  const PageFit portrait = FitToPrintableArea(2480, 3508, 4760, 6814);
  EXPECT_NEAR(portrait.scale, 1.919, 0.001);
  EXPECT_EQ(portrait.width, 4760);
  EXPECT_EQ(portrait.height, 6733);
  EXPECT_EQ(portrait.offsetX, 0);
  EXPECT_EQ(portrait.offsetY, 40);
  const PageFit landscape = FitToPrintableArea(3508, 2480, 4760, 6814);
  EXPECT_NEAR(landscape.scale, 1.357, 0.001);
  EXPECT_EQ(landscape.width, 4760);
  EXPECT_EQ(landscape.height, 3365);
  EXPECT_EQ(landscape.offsetY, 1724);
}

// The fit is computed in single precision, and it shows: for these square
// images on a printable width of 4760, float and double truncate the fitted
// side differently (289 and 293 wide fill the width exactly in float and
// fall a pixel short in double; 553 and 561 the other way round).
TEST(PrinterRulesTest, TheFitIsSinglePrecisionWhereDoubleWouldDiffer) {
  const struct {
    std::uint32_t side;
    int fitted;
  } cases[] = {{289, 4760}, {293, 4760}, {553, 4759}, {561, 4759}};
  for (const auto& c : cases) {
    const PageFit fit = FitToPrintableArea(c.side, c.side, 4760, 6814);
    EXPECT_EQ(fit.width, c.fitted) << c.side;
    EXPECT_EQ(fit.height, c.fitted) << c.side;
    EXPECT_EQ(fit.offsetX, (4760 - c.fitted) / 2) << c.side;
    EXPECT_EQ(fit.offsetY, (6814 - c.fitted) / 2) << c.side;
  }
}

TEST(PrinterRulesTest, PhotoPathsByExtension) {
  for (const char* photo : {"C:\\a.jpg", "C:\\a.JPEG", "b.png", "c.Tiff", "d.webp"}) {
    EXPECT_TRUE(IsPhotoPath(photo)) << photo;
  }
  for (const char* other :
       {"C:\\a.exe", "C:\\photo.jpg.bat", "C:\\x.jpg\\run", "noext", "C:\\a.lnk", "C:\\a.url"}) {
    EXPECT_FALSE(IsPhotoPath(other)) << other;
  }
}

}  // namespace
}  // namespace runner::printing
