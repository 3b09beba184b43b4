// Korvela.exe starts, serves its channels and stops, under Wine.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <map>

#include "host_driver.h"

namespace e2e {
namespace {

using runner::EncodableList;
using runner::EncodableMap;
using ::testing::HasSubstr;

class HostShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!HostAvailable()) GTEST_SKIP() << "KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN are not set";
  }
};

const char* const kPrintingMethods[] = {
    "printImagesWindows",
    "getPrintersWindows",
    "getDefaultPrinterWindows",
    "printToPrinterWindows",
    "pickPaperSizeWindows",
    "pickPrinterAndPaperWindows",
    "getPrinterCapabilitiesWindows",
    "getAvailablePrinters",
    "printImagesToPrinter",
    "bakeImagesForPrinting",
    "getColorProfiles",
    "getSelectedColorProfile",
    "setSelectedColorProfile",
    "createGridImages",
    "createGridImagesFast",
    "createGridImagesFastAsync",
    "checkGridJobStatus",
    "printWithLayoutWindows",
    "setDefaultPrinterAndPaper",
};

TEST_F(HostShellTest, StartsUpInOrderShowsAfterTheFirstFrameAndEndsWithZero) {
  const HostRun run = RunHost(HostScript().RecordWindow());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  std::vector<std::string> startup;
  for (const std::string& line : run.record) {
    if (line.rfind("answer", 0) != 0) startup.push_back(line);
  }
  const std::vector<std::string> expected = {
      "engine-create assets=data\\flutter_assets icu=data\\icudtl.dat aot=data\\app.so "
      "entrypoint= argc=0 gpu=0 thread-policy=0",
      "view-controller-create 1272x693",
      "registrar DesktopDropPlugin",
      "plugin DesktopDropPlugin registrar=DesktopDropPlugin",
      "registrar FaceDetectionTflitePlugin",
      "plugin FaceDetectionTflitePlugin registrar=FaceDetectionTflitePlugin",
      "registrar FileSelectorWindows",
      "plugin FileSelectorWindows registrar=FileSelectorWindows",
      "registrar PdfxPlugin",
      "plugin PdfxPlugin registrar=PdfxPlugin",
      "registrar ScreenRetrieverWindowsPluginCApi",
      "plugin ScreenRetrieverWindowsPluginCApi registrar=ScreenRetrieverWindowsPluginCApi",
      "registrar UrlLauncherWindows",
      "plugin UrlLauncherWindows registrar=UrlLauncherWindows",
      "registrar WindowManagerPlugin",
      "plugin WindowManagerPlugin registrar=WindowManagerPlugin",
      "set-callback printing_channel",
      "set-callback thumbnail_channel",
      "set-callback media_info_channel",
      "set-callback face_rects_channel",
      "next-frame-callback-set",
      "force-redraw",
      "frame before-callback visible=0 rect=10,10,1280x720",
      "frame after-callback visible=1 rect=10,10,1280x720",
      "window visible=1 rect=10,10,1280x720",
      "script-done",
      "view-controller-destroy",
      "engine-destroy",
  };
  // The view's size is the client area, which depends on the window frame.
  ASSERT_EQ(startup.size(), expected.size()) << ::testing::PrintToString(startup);
  for (std::size_t i = 0; i < expected.size(); ++i) {
    if (i == 1) {
      EXPECT_THAT(startup[i], ::testing::StartsWith("view-controller-create "));
    } else {
      EXPECT_EQ(startup[i], expected[i]) << i;
    }
  }
}

TEST_F(HostShellTest, ThePrintingChannelsSetUpLineGoesToTheDebuggerOutput) {
  // Wine shows OutputDebugString lines on standard error with this channel.
  const HostRun run = [] {
    const ScopedEnvironment debugger{{"WINEDEBUG", "warn+debugstr"}};
    return RunHost(HostScript());
  }();
  ASSERT_EQ(run.exitCode, 0) << run.err;
  // Wine's form of a debugger-output line: the call and the quoted text.
  EXPECT_THAT(run.err,
              ::testing::ContainsRegex(
                  "debugstr:OutputDebugStringA \"DEBUG: SetupPrintingChannel called\\\\n\""));
  // Without the debugger channel the line appears nowhere: it was never
  // written to standard error itself.
  const HostRun quiet = RunHost(HostScript());
  ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
  EXPECT_THAT(quiet.err, ::testing::Not(HasSubstr("SetupPrintingChannel")));
  EXPECT_THAT(quiet.out, ::testing::Not(HasSubstr("SetupPrintingChannel")));
}

TEST_F(HostShellTest, WindowIsScaledForTheMonitorsDpi) {
  const HostRun at144 = RunHost(HostScript().Dpi(144).RecordWindow());
  ASSERT_EQ(at144.exitCode, 0) << at144.err;
  const int window = at144.Find("window ");
  ASSERT_GE(window, 0);
  EXPECT_EQ(at144.record[window], "window visible=1 rect=15,15,1920x1080");
}

TEST_F(HostShellTest, ARefusedViewControllerEndsWithOne) {
  const HostRun run = RunHost(HostScript().RefuseViewController());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_THAT(run.err, HasSubstr("Failed to create view controller.\n"));
  EXPECT_GE(run.Find("view-controller-refused"), 0);
  EXPECT_EQ(run.Find("plugin "), -1);
  EXPECT_EQ(run.Find("set-callback"), -1);
  // The engine refuses and frees the engine it was handed; the host must not
  // destroy it a second time.
  EXPECT_EQ(std::count(run.record.begin(), run.record.end(), "engine-destroy"), 1);
  EXPECT_EQ(run.Find("engine-destroy-unknown"), -1);
}

TEST_F(HostShellTest, CommandLineArgumentsReachTheEngineAsUtf8WithoutTheProgram) {
  HostOptions options;
  options.arguments = {"--mode=print",
                       "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D",
                       "caf\xC3\xA9"};
  const HostRun run = RunHost(HostScript(), options);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_THAT(run.record[0], HasSubstr(" argc=3 "));
  EXPECT_EQ(run.record[1], "engine-arg 0 --mode=print");
  EXPECT_EQ(run.record[2],
            "engine-arg 1 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D \xD7\xA2\xD7\x95\xD7\x9C\xD7\x9D");
  EXPECT_EQ(run.record[3], "engine-arg 2 caf\xC3\xA9");
}

TEST_F(HostShellTest, EveryPrintingNameIsDispatchedAndOthersAreNotImplemented) {
  HostScript script;
  for (const char* method : kPrintingMethods) {
    // The print dialog is modal and would wait for a user: its handler is
    // tested through its seam instead.
    if (std::string(method) == "pickPrinterAndPaperWindows") continue;
    script.Call("printing_channel", method, EncodableValue(EncodableMap{}));
  }
  const std::vector<std::string> strangers = {"GetPrintersWindows", "getPrinters",
                                              "createGridImagesFastAsyncX", ""};
  for (const std::string& method : strangers) script.Call("printing_channel", method);
  for (const char* channel : {"thumbnail_channel", "media_info_channel", "face_rects_channel"}) {
    script.Call(channel, "noSuchMethod");
  }
  script.CallBytes("printing_channel", {0x03, 0x05, 0x00, 0x00, 0x00, 0x00});
  const HostRun run = RunHost(script);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const int total = 18 + 4 + 3 + 1;
  ASSERT_EQ(static_cast<int>(run.answers.size()), total) << run.err;
  std::vector<std::string> called;
  for (const char* method : kPrintingMethods) {
    if (std::string(method) != "pickPrinterAndPaperWindows") called.push_back(method);
  }
  // Every name reaches its handler: those that need arguments answer the
  // empty map with their argument errors, the others succeed.
  const std::map<std::string, std::string> built = {
      {"printImagesWindows", "INVALID_ARGUMENTS: Expected array of strings"},
      {"printToPrinterWindows", "INVALID_ARGUMENTS: Missing required arguments"},
      {"pickPaperSizeWindows", "INVALID_ARGUMENTS: Expected printer name"},
      {"getPrinterCapabilitiesWindows", "INVALID_ARGUMENTS: Printer name is required"},
      {"printImagesToPrinter", "INVALID_ARGUMENTS: Missing imagePaths"},
      {"printWithLayoutWindows", "INVALID_ARGUMENTS: Missing imagePaths"},
      {"setDefaultPrinterAndPaper", "INVALID_ARGUMENTS: Missing printerName"},
      {"createGridImages", "INVALID_ARGUMENTS: Missing required parameters"},
      {"createGridImagesFast", "INVALID_ARGUMENTS: Missing required parameters"},
      {"createGridImagesFastAsync", "INVALID_ARGUMENTS: Missing required parameters"},
      {"checkGridJobStatus", "INVALID_ARGUMENTS: Expected job ID as integer"},
      {"bakeImagesForPrinting", "INVALID_ARGUMENTS: Missing or invalid 'requests' parameter"},
      {"setSelectedColorProfile", "INVALID_ARGUMENTS: profileId must be a string"},
  };
  for (int step = 1; step <= total; ++step) {
    const Answer* answer = run.AnswerTo(step);
    ASSERT_NE(answer, nullptr) << step;
    const std::string name = step <= 18 ? called[static_cast<std::size_t>(step - 1)] : "";
    const auto handler = built.find(name);
    if (handler != built.end()) {
      EXPECT_EQ(answer->Error(), handler->second) << step;
    } else if (step <= 18) {
      EXPECT_TRUE(answer->SuccessValue()) << name;
    } else {
      EXPECT_TRUE(answer->NotImplemented()) << step;
    }
  }
  EXPECT_THAT(
      run.err,
      HasSubstr("Unable to construct method call from message on channel printing_channel"));
}

TEST_F(HostShellTest, FaceResultsMessagesFromOutsideFreeNothing) {
  // Addresses no worker handed out: freeing any of them would crash the host
  // or corrupt its heap.
  const HostRun run = RunHost(HostScript()
                                  .FaceResults("0x1000")
                                  .FaceResults("0xdeadbeef0")
                                  .FaceResults("-1")
                                  .Call("printing_channel", "getColorProfiles"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  for (const char* value : {"0x1000", "0xdeadbeef0", "-1"}) {
    EXPECT_GE(run.Find(std::string("face-results ") + value + " result=0"), 0) << value;
  }
  ASSERT_NE(run.AnswerTo(1), nullptr);
  EXPECT_TRUE(run.AnswerTo(1)->SuccessValue());
}

TEST_F(HostShellTest, FaceResultsMessageWithoutARecordReturnsZero) {
  const HostRun run = RunHost(HostScript().FaceResultsNull());
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const int line = run.Find("face-results-null");
  ASSERT_GE(line, 0);
  EXPECT_EQ(run.record[line], "face-results-null result=0");
  EXPECT_EQ(run.record[line + 1], "script-done");
  EXPECT_TRUE(run.answers.empty());
}

}  // namespace
}  // namespace e2e
