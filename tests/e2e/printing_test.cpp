// Printers, papers and print jobs through Korvela.exe under Wine, on the
// print bench of scripts/print_bench.sh: a private CUPS with a PDF printer,
// a photo printer of our own PPD, and a queue that refuses jobs. What was
// printed is read back from the PDF files the bench writes.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <thread>

#include "host_driver.h"
#include "imaging/reading/photo_reader.h"
#include "printer_rules.h"
#include "test_photos.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using sheetsmith::RgbaImage;
using ::testing::HasSubstr;

namespace fs = std::filesystem;

class PrintingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
    const char* pdfs = std::getenv("KORVELA_PRINT_PDF_DIR");
    if (!pdfs) GTEST_SKIP() << "no print bench (scripts/test.sh starts one)";
    pdfFolder = pdfs;
    for (const auto& entry : fs::directory_iterator(pdfFolder)) fs::remove(entry.path());
  }

  // The PDF files the bench wrote, oldest first, waiting for `count`.
  std::vector<fs::path> Pdfs(std::size_t count) {
    EXPECT_TRUE(WaitForPrintJobs());
    std::vector<fs::path> files;
    for (int i = 0; i < 200; ++i) {
      files.clear();
      for (const auto& entry : fs::directory_iterator(pdfFolder)) files.push_back(entry.path());
      if (files.size() >= count) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    std::sort(files.begin(), files.end(), [](const fs::path& a, const fs::path& b) {
      return fs::last_write_time(a) < fs::last_write_time(b);
    });
    return files;
  }
  // "WxH rot R" of each page, a line each.
  static std::string PageSizes(const fs::path& pdf) {
    return CommandOutput("pdfinfo -f 1 -l 9 '" + pdf.string() +
                         "' 2>/dev/null | awk '/^Page .* size:/ {s = $4 \"x\" $6} "
                         "/^Page .* rot:/ {print s \" rot \" $4}'");
  }

  std::string pdfFolder;
  testsupport::TempDir dir{"korvela print"};
};

TEST_F(PrintingTest, PrintersAndPapersComeFromTheSpooler) {
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "getPrintersWindows")
                  .Call("printing_channel", "getAvailablePrinters")
                  .Call("printing_channel", "getDefaultPrinterWindows")
                  .Call("printing_channel", "getPrinterCapabilitiesWindows",
                        EncodableValue(EncodableMap{{S("printerName"), S("KorvelaPDF")}}))
                  .Call("printing_channel", "getPrinterCapabilitiesWindows",
                        EncodableValue(EncodableMap{{S("printerName"), S("NoSuchPrinter")}}))
                  .Call("printing_channel", "getPrinterCapabilitiesWindows",
                        EncodableValue(EncodableMap{{S("printerName"), EncodableValue(5)}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 6u);
  const auto printers = run.AnswerTo(1)->SuccessValue();
  ASSERT_TRUE(printers) << run.err;
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(), printers);
  std::map<std::string, EncodableMap> byName;
  for (const EncodableValue& record : printers->Get<EncodableList>()) {
    const auto& map = record.Get<EncodableMap>();
    byName[map.at(S("name")).Get<std::string>()] = map;
  }
  ASSERT_EQ(byName.size(), 3u) << ::testing::PrintToString(*printers);
  EXPECT_EQ(byName["KorvelaPDF"].at(S("isDefault")), EncodableValue(true));
  EXPECT_EQ(byName["KorvelaPhoto"].at(S("isDefault")), EncodableValue(false));
  EXPECT_EQ(byName["KorvelaPhoto"].at(S("description")), S("Photo printer with margins"));
  EXPECT_EQ(byName["KorvelaPhoto"].at(S("isOnline")), EncodableValue(true));
  const auto defaultRecord = run.AnswerTo(3)->SuccessValue();
  ASSERT_TRUE(defaultRecord);
  EXPECT_EQ(defaultRecord->Get<EncodableMap>().at(S("name")), S("KorvelaPDF"));
  EXPECT_EQ(defaultRecord->Get<EncodableMap>().at(S("description")), S("Default system printer"));

  const auto papers = run.AnswerTo(4)->SuccessValue();
  ASSERT_TRUE(papers) << run.AnswerTo(4)->Error();
  const auto& list = papers->Get<EncodableMap>().at(S("supportedPaperSizes")).Get<EncodableList>();
  EXPECT_EQ(list.size(), 65u);  // what the cups-pdf driver lists
  bool a4 = false;
  for (const EncodableValue& paper : list) {
    const auto& map = paper.Get<EncodableMap>();
    if (map.at(S("name")) == S("A4")) {
      a4 = true;
      // Wine's PostScript driver reports A4 as 2099 x 2970 tenths: 209 x 297.
      EXPECT_EQ(map.at(S("width")), EncodableValue(209));
      EXPECT_EQ(map.at(S("height")), EncodableValue(297));
    }
  }
  EXPECT_TRUE(a4);
  EXPECT_EQ(run.AnswerTo(5)->Error(), "PRINTER_ERROR: Failed to open printer");
  EXPECT_EQ(run.AnswerTo(6)->Error(), "INVALID_ARGUMENTS: Printer name is required");
}

// The fit the host computes, in device pixels.
struct PageFitView {
  int width, height, offsetX, offsetY;
};
PageFitView ExpectedFit(int width, int height, int areaWidth, int areaHeight) {
  const runner::printing::PageFit fit = runner::printing::FitToPrintableArea(
      static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), areaWidth, areaHeight);
  return {fit.width, fit.height, fit.offsetX, fit.offsetY};
}

const char kHebrewPaper[] = "\xD7\x92\xD7\x9C\xD7\x95\xD7\x99\xD7\x94";  // a postcard

EncodableValue SetPaper(const std::string& printer, EncodableMap paper) {
  paper[S("printerName")] = S(printer);
  return EncodableValue(std::move(paper));
}
EncodableValue Size(int width, int height) {
  return EncodableValue(
      EncodableMap{{S("width"), EncodableValue(width)}, {S("height"), EncodableValue(height)}});
}
EncodableValue Pages(const std::vector<std::string>& paths) {
  EncodableList list;
  for (const std::string& path : paths) list.push_back(S(WindowsPath(path)));
  return EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(list)}});
}

TEST_F(PrintingTest, PapersSetBySizeAndByNameAreThoseThePagesComeOutOn) {
  const std::string photo = dir.File("page.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(photo, testsupport::Quadrants(400, 600), 90));
  // Each setting is read back by the spooler's next job in the same host
  // process (a new process takes the printers from CUPS afresh).
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperSize"), Size(100, 150)}}))
                  .Call("printing_channel", "printWithLayoutWindows", Pages({photo}))
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperSize"), Size(150, 100)}}))
                  .Call("printing_channel", "printWithLayoutWindows", Pages({photo}))
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperName"), S("letter")}}))
                  .Call("printing_channel", "printWithLayoutWindows", Pages({photo}))
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperSize"), Size(200, 250)}}))
                  // A paper name in Hebrew: its lines, and every line after them,
                  // reach the log.
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperName"), S(kHebrewPaper)}}))
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperSize"), Size(102, 152)}})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  ASSERT_EQ(run.answers.size(), 9u);
  const std::size_t hebrew =
      run.err.find(std::string("DEBUG: Paper '") + kHebrewPaper + "' not found");
  ASSERT_NE(hebrew, std::string::npos) << run.err;
  EXPECT_NE(
      run.err.find("DEBUG: SetPrinterPaperSize called - printer: KorvelaPhoto, paper: 102x152mm",
                   hebrew),
      std::string::npos);
  EXPECT_EQ(run.AnswerTo(9)->SuccessValue(),
            EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(true)},
                                        {S("paperSet"), EncodableValue(true)}}));
  for (int step : {1, 3, 5}) {
    EXPECT_EQ(run.AnswerTo(step)->SuccessValue(),
              EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(true)},
                                          {S("paperSet"), EncodableValue(true)}}))
        << step << run.err;
  }
  for (int step : {2, 4, 6}) EXPECT_EQ(run.AnswerTo(step)->SuccessValue(), EncodableValue(true));
  const std::vector<fs::path> pdfs = Pdfs(3);
  ASSERT_EQ(pdfs.size(), 3u);
  // 100 x 150 mm is the 4x6 paper upright; 150 x 100 the same paper turned;
  // "letter" a US Letter page, the orientation left as the last call set it.
  EXPECT_EQ(PageSizes(pdfs[0]), "288x432 rot 0\n");
  EXPECT_EQ(PageSizes(pdfs[1]), "288x432 rot 90\n");
  EXPECT_EQ(PageSizes(pdfs[2]), "612x792 rot 90\n");
  // Wine's driver keeps no custom size (it reads code 256 as its own 4x6):
  // the paper is not reported as set.
  EXPECT_EQ(run.AnswerTo(7)->SuccessValue(),
            EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(true)},
                                        {S("paperSet"), EncodableValue(false)}}));
  EXPECT_THAT(run.err, HasSubstr("DEBUG: The driver kept paper 256 '4x6 Photo' instead"));
  EXPECT_THAT(run.err,
              HasSubstr("DEBUG: Found partial match paper 'US Letter' for 'letter' with "
                        "ID: 1\nDEBUG: Setting paper ID=1 Width=2159 Height=2794 (0.1mm)"));
  EXPECT_THAT(run.err, HasSubstr("DEBUG: Printer settings updated successfully"));
}

// "Photo 5x7" has no Windows paper code: the driver lists it by its size,
// cut to whole millimetres, and the interface offers that size back.
TEST_F(PrintingTest, APaperWithoutAWindowsCodeIsSetByTheSizeTheListGave) {
  const std::string photo = dir.File("five-by-seven.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(photo, testsupport::Quadrants(500, 700), 90));
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "getPrinterCapabilitiesWindows",
                        EncodableValue(EncodableMap{{S("printerName"), S("KorvelaPhoto")}}))
                  .Call("printing_channel", "setDefaultPrinterAndPaper",
                        SetPaper("KorvelaPhoto", {{S("paperSize"), Size(127, 177)}}))
                  .Call("printing_channel", "printWithLayoutWindows", Pages({photo})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto papers = run.AnswerTo(1)->SuccessValue();
  ASSERT_TRUE(papers) << run.err;
  std::optional<EncodableMap> fiveBySeven;
  for (const EncodableValue& paper :
       papers->Get<EncodableMap>().at(S("supportedPaperSizes")).Get<EncodableList>()) {
    if (paper.Get<EncodableMap>().at(S("name")) == S("Photo 5x7")) {
      fiveBySeven = paper.Get<EncodableMap>();
    }
  }
  ASSERT_TRUE(fiveBySeven) << ::testing::PrintToString(*papers);
  EXPECT_EQ(fiveBySeven->at(S("width")), EncodableValue(127));
  EXPECT_EQ(fiveBySeven->at(S("height")), EncodableValue(177));
  EXPECT_EQ(run.AnswerTo(2)->SuccessValue(),
            EncodableValue(EncodableMap{{S("printerSet"), EncodableValue(true)},
                                        {S("paperSet"), EncodableValue(true)}}))
      << run.err;
  EXPECT_EQ(run.AnswerTo(3)->SuccessValue(), EncodableValue(true)) << run.err;
  const std::vector<fs::path> pdfs = Pdfs(1);
  ASSERT_EQ(pdfs.size(), 1u);
  EXPECT_EQ(PageSizes(pdfs[0]), "360x504 rot 0\n");  // 5 x 7 inches
}

// Windows reads a text only up to a NUL. A path "marker.exe" NUL ".jpg"
// passes every check for a photo and would start the program; a photo path
// with a NUL after it would work on the photo. Neither happens: such text is
// a wrong argument, or that photo's failure.
TEST_F(PrintingTest, TextHoldingANulNeverReachesWindows) {
  const std::string marker = dir.File("marker.exe");
  fs::copy_file(fs::path(std::getenv("KORVELA_WINDOWS_BIN")) / "marker.exe", marker);
  // The marker does leave its file when it runs.
  ASSERT_EQ(RunWineProgram({marker}), 0);
  ASSERT_TRUE(fs::exists(marker + ".ran"));
  fs::remove(marker + ".ran");

  const std::string photo = dir.File("photo.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(photo, testsupport::Quadrants(300, 200), 90));
  const auto hiding = [](const std::string& path, const std::string& tail) {
    return S(WindowsPath(path) + std::string(1, '\0') + tail);
  };
  const EncodableValue program = hiding(marker, ".jpg");
  const EncodableValue photoAndMore = hiding(photo, "x.jpg");
  const EncodableValue programs(EncodableList{program});
  const HostRun run = RunHost(
      HostScript()
          .Call("printing_channel", "printImagesWindows", programs)
          .Call("printing_channel", "printImagesToPrinter",
                EncodableValue(EncodableMap{{S("imagePaths"), programs}}))
          .Call("printing_channel", "printToPrinterWindows",
                EncodableValue(
                    EncodableMap{{S("imagePaths"), programs}, {S("printerName"), S("KorvelaPDF")}}))
          .Call("printing_channel", "bakeImagesForPrinting",
                EncodableValue(EncodableMap{
                    {S("requests"), EncodableValue(EncodableList{EncodableValue(
                                        EncodableMap{{S("sourcePath"), photoAndMore},
                                                     {S("canvasWidth"), EncodableValue(60)},
                                                     {S("canvasHeight"), EncodableValue(40)}})})}}))
          .Call("media_info_channel", "getQuickMeta",
                EncodableValue(EncodableMap{{S("path"), photoAndMore}}))
          .Sleep(1500));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.AnswerTo(1)->Error(), "INVALID_ARGUMENTS: Expected string path");
  EXPECT_EQ(run.AnswerTo(2)->Error(), "PRINT_FAILED: Failed to print any images");
  EXPECT_EQ(run.AnswerTo(3)->Error(),
            "PRINT_FAILED: Failed to print image: " + program.Get<std::string>());
  const auto baked = run.AnswerTo(4)->SuccessValue();
  ASSERT_TRUE(baked) << run.AnswerTo(4)->Error();
  const auto& result =
      baked->Get<EncodableMap>().at(S("results")).Get<EncodableList>().at(0).Get<EncodableMap>();
  EXPECT_EQ(result.at(S("success")), EncodableValue(false));
  EXPECT_EQ(result.at(S("error")),
            S("Failed to render image with effects: the path is not one a file can have"));
  EXPECT_EQ(run.AnswerTo(5)->SuccessValue(), EncodableValue());
  EXPECT_FALSE(fs::exists(marker + ".ran"));
  EXPECT_TRUE(Pdfs(0).empty());
}

// A number that follows `label` in the text, or -1.
int NumberAfter(const std::string& text, const std::string& label, std::size_t from = 0) {
  const std::size_t at = text.find(label, from);
  return at == std::string::npos ? -1 : std::atoi(text.c_str() + at + label.size());
}

TEST_F(PrintingTest, EachImageIsFittedToThePrintableAreaAndCentred) {
  const std::string portrait = dir.File("portrait.jpg");
  const std::string landscape = dir.File("landscape.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(portrait, testsupport::Quadrants(600, 900), 95));
  ASSERT_TRUE(testsupport::WriteJpeg(landscape, testsupport::Quadrants(900, 600), 95));
  const HostRun run =
      RunHost(HostScript().Call("printing_channel", "printWithLayoutWindows",
                                Pages({portrait, dir.File("missing.jpg"), landscape})));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.answers.at(0).SuccessValue(), EncodableValue(true)) << run.err;
  EXPECT_THAT(run.err, HasSubstr("DEBUG: Print job completed with 2/3 pages"));
  EXPECT_THAT(run.err, HasSubstr("DEBUG: Failed to load image, status="));

  // The device as the job saw it.
  const int dpi = NumberAfter(run.err, "  Printer DPI: ");
  const int areaWidth = NumberAfter(run.err, "  Printable area: ");
  const int areaHeight = NumberAfter(run.err, "x", run.err.find("  Printable area: "));
  const int offsetX = NumberAfter(run.err, "  Physical offset: ");
  const int offsetY = NumberAfter(run.err, "x", run.err.find("  Physical offset: "));
  ASSERT_GT(dpi, 0) << run.err;
  ASSERT_GT(areaWidth, 0);
  ASSERT_GT(areaHeight, 0);

  const std::vector<fs::path> pdfs = Pdfs(1);
  ASSERT_EQ(pdfs.size(), 1u);
  EXPECT_EQ(PageSizes(pdfs[0]), "595x842 rot 0\n595x842 rot 0\n");  // A4, two pages
  const int raster = 50;                                            // dots per inch of the check
  const std::string prefix = dir.File("printed");
  ASSERT_EQ(std::system(("pdftoppm -r " + std::to_string(raster) + " -png '" + pdfs[0].string() +
                         "' '" + prefix + "'")
                            .c_str()),
            0);
  const struct {
    const char* file;
    int width, height;
  } printed[] = {{"-1.png", 600, 900}, {"-2.png", 900, 600}};
  for (const auto& page : printed) {
    const auto image = sheetsmith::LoadRgba(prefix + page.file);
    ASSERT_TRUE(image) << page.file;
    const PageFitView fit = ExpectedFit(page.width, page.height, areaWidth, areaHeight);
    // Device pixels to raster pixels.
    const auto rx = [&](double x) { return static_cast<int>((offsetX + x) * raster / dpi); };
    const auto ry = [&](double y) { return static_cast<int>((offsetY + y) * raster / dpi); };
    const int left = rx(fit.offsetX);
    const int top = ry(fit.offsetY);
    const int right = rx(fit.offsetX + fit.width);
    const int bottom = ry(fit.offsetY + fit.height);
    const auto colour = [&](int x, int y) {
      const std::uint8_t* p = image->At(x, y);
      const auto on = [](int v) { return v > 160; };
      const auto off = [](int v) { return v < 90; };
      if (on(p[0]) && on(p[1]) && on(p[2])) return 'W';
      if (on(p[0]) && off(p[1]) && off(p[2])) return 'R';
      if (off(p[0]) && on(p[1]) && off(p[2])) return 'G';
      if (off(p[0]) && off(p[1]) && on(p[2])) return 'B';
      if (on(p[0]) && on(p[1]) && off(p[2])) return 'Y';
      return '?';
    };
    const int midX = (left + right) / 2;
    const int midY = (top + bottom) / 2;
    const int qx = (right - left) / 4;
    const int qy = (bottom - top) / 4;
    EXPECT_EQ(colour(midX - qx, midY - qy), 'R') << page.file;
    EXPECT_EQ(colour(midX + qx, midY - qy), 'G') << page.file;
    EXPECT_EQ(colour(midX - qx, midY + qy), 'B') << page.file;
    EXPECT_EQ(colour(midX + qx, midY + qy), 'Y') << page.file;
    // White outside the fitted rectangle, where there is room for it.
    if (left > 2) {
      EXPECT_EQ(colour(left - 2, midY), 'W') << page.file;
    }
    if (top > 2) {
      EXPECT_EQ(colour(midX, top - 2), 'W') << page.file;
    }
    if (bottom + 2 < image->height) {
      EXPECT_EQ(colour(midX, bottom + 2), 'W') << page.file;
    }
    // Centred: the margins on either side differ by at most a raster pixel.
    EXPECT_NEAR(left - rx(0), rx(areaWidth) - right, 1.5) << page.file;
    EXPECT_NEAR(top - ry(0), ry(areaHeight) - bottom, 1.5) << page.file;
    // The image edges are where the fit puts them.
    EXPECT_EQ(colour(left + 2, top + 2), 'R') << page.file;
    EXPECT_EQ(colour(right - 3, bottom - 3), 'Y') << page.file;
  }
}

TEST_F(PrintingTest, AJobTheSpoolerRefusesOrAPrinterThatIsNotThereIsAFailure) {
  const std::string photo = dir.File("refused.jpg");
  ASSERT_TRUE(testsupport::WriteJpeg(photo, testsupport::Quadrants(300, 400), 90));
  auto to = [&](const std::string& printer) {
    EncodableValue arguments = Pages({photo});
    auto map = arguments.Get<EncodableMap>();
    map[S("printerName")] = S(printer);
    map[S("paperSize")] = Size(210, 297);
    return EncodableValue(map);
  };
  const HostRun run =
      RunHost(HostScript()
                  .Call("printing_channel", "printWithLayoutWindows", to("KorvelaRejects"))
                  .Call("printing_channel", "printWithLayoutWindows", to("NoSuchPrinter")));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.AnswerTo(1)->Error(), "PRINT_FAILED: Failed to print any pages") << run.err;
  EXPECT_EQ(run.AnswerTo(2)->Error(), "PRINT_FAILED: Failed to create printer DC");
  EXPECT_THAT(run.err, HasSubstr("DEBUG: EndDoc failed"));
  EXPECT_TRUE(Pdfs(0).empty());  // nothing reached any printer
}

}  // namespace
}  // namespace e2e
