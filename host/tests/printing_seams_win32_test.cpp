// The printing platform's code around its seams, with the dialogs and the
// shell replaced: what it reads back from a dialog, what it frees, what it
// answers meanwhile. Uses the print bench's printers (skipped without them).
#include <gtest/gtest.h>
#include <windows.h>
#include <winspool.h>
// After windows.h, which it needs.
#include <objbase.h>

#include <cstring>
#include <cwchar>
#include <vector>

#include "printer_handlers.h"
#include "printing_channel.h"
#include "printing_seams.h"
#include "recording_result.h"

namespace runner::printing {
namespace {

EncodableValue S(const char* text) { return EncodableValue(text); }

std::string Call(const char* method, EncodableValue arguments, EncodableValue* value = nullptr) {
  std::string text;
  HandlePrintingCall(MethodCall(method, std::make_unique<EncodableValue>(std::move(arguments))),
                     std::make_unique<RecordingResult>(&text, value));
  return text;
}

class SeamsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    saved = PrintingSeams();
    HANDLE printer = nullptr;
    if (!OpenPrinterW(const_cast<LPWSTR>(L"KorvelaPhoto"), &printer, nullptr)) {
      GTEST_SKIP() << "no print bench";
    }
    ClosePrinter(printer);
  }
  void TearDown() override { PrintingSeams() = saved; }
  Seams saved{};
};

// What the fake dialogs do, set by each test.
LONG paperAnswer = IDOK;
DEVMODEW paperChoice = {};
std::wstring seenDevice;
std::string duringDialog;

LONG FakePaperDialog(HANDLE, const std::wstring&, DEVMODEW* current, DEVMODEW* chosen) {
  seenDevice = current->dmDeviceName;
  duringDialog = Call("getPrintersWindows", EncodableValue());
  if (paperAnswer == IDOK) *chosen = paperChoice;
  return paperAnswer;
}

TEST_F(SeamsTest, ThePaperDialogsChoiceIsReadBackAndCallsMeanwhileAreBusy) {
  PrintingSeams().paperDialog = &FakePaperDialog;
  paperAnswer = IDOK;
  paperChoice = {};
  paperChoice.dmFields = DM_PAPERSIZE | DM_FORMNAME;
  paperChoice.dmPaperSize = 9;
  std::wcscpy(paperChoice.dmFormName, L"A4");
  EncodableValue answer;
  EXPECT_EQ(Call("pickPaperSizeWindows", S("KorvelaPhoto"), &answer), "success");
  EXPECT_EQ(answer, EncodableValue(EncodableMap{{S("id"), S("A4")},
                                                {S("name"), S("A4")},
                                                {S("width"), EncodableValue(210)},
                                                {S("height"), EncodableValue(297)}}));
  EXPECT_EQ(seenDevice, L"KorvelaPhoto");  // the dialog started from the printer's settings
  EXPECT_EQ(duringDialog, "PRINTER_BUSY: A printer dialog is open");

  paperChoice = {};
  paperChoice.dmFields = DM_PAPERWIDTH | DM_PAPERLENGTH;
  paperChoice.dmPaperWidth = 1000;
  paperChoice.dmPaperLength = 1500;
  Call("pickPaperSizeWindows", S("KorvelaPhoto"), &answer);
  EXPECT_EQ(answer.Get<EncodableMap>().at(S("id")), S("100x150 mm"));

  paperAnswer = IDCANCEL;
  EXPECT_EQ(Call("pickPaperSizeWindows", S("KorvelaPhoto"), &answer), "success");
  EXPECT_TRUE(answer.IsNull());
  paperAnswer = -1;
  EXPECT_EQ(Call("pickPaperSizeWindows", S("KorvelaPhoto")),
            "DEVMODE_ERROR: Failed to prompt for DEVMODE");
  EXPECT_EQ(Call("pickPaperSizeWindows", S("NoSuchPrinter")),
            "PRINTER_ERROR: Failed to open printer");
}

HGLOBAL handedNames = nullptr;
HGLOBAL handedMode = nullptr;
BOOL printAnswer = TRUE;

BOOL FakePrintDialog(PRINTDLGW* dialog) {
  EXPECT_EQ(dialog->lStructSize, sizeof(PRINTDLGW));
  EXPECT_EQ(dialog->Flags, static_cast<DWORD>(PD_RETURNDC | PD_USEDEVMODECOPIESANDCOLLATE));
  const wchar_t name[] = L"KorvelaPhoto";
  handedNames = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVNAMES) + sizeof(name));
  auto* names = static_cast<DEVNAMES*>(GlobalLock(handedNames));
  names->wDeviceOffset = sizeof(DEVNAMES) / sizeof(wchar_t);
  std::memcpy(names + 1, name, sizeof(name));
  GlobalUnlock(handedNames);
  handedMode = GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, sizeof(DEVMODEW));
  dialog->hDevNames = handedNames;
  dialog->hDevMode = handedMode;
  dialog->hDC = CreateCompatibleDC(nullptr);
  return printAnswer;
}

TEST_F(SeamsTest, ThePrintDialogsPrinterIsAnsweredAndItsMemoryFreed) {
  PrintingSeams().printDialog = &FakePrintDialog;
  printAnswer = TRUE;
  EncodableValue answer;
  EXPECT_EQ(Call("pickPrinterAndPaperWindows", EncodableValue(), &answer), "success");
  EXPECT_EQ(answer, EncodableValue(EncodableMap{{S("printerName"), S("KorvelaPhoto")},
                                                {S("printerDisplayName"), S("KorvelaPhoto")}}));
  EXPECT_EQ(GlobalFlags(handedNames), static_cast<UINT>(GMEM_INVALID_HANDLE));
  EXPECT_EQ(GlobalFlags(handedMode), static_cast<UINT>(GMEM_INVALID_HANDLE));
  printAnswer = FALSE;  // cancelled, with memory handed out all the same
  EXPECT_EQ(Call("pickPrinterAndPaperWindows", EncodableValue(), &answer), "success");
  EXPECT_TRUE(answer.IsNull());
  EXPECT_EQ(GlobalFlags(handedNames), static_cast<UINT>(GMEM_INVALID_HANDLE));
}

std::vector<std::wstring> shellCalls;
std::intptr_t shellAnswer = 42;

// Whether the calling thread was in a single-threaded COM apartment in each
// call, as the shell's verbs need.
std::vector<bool> shellApartments;

std::intptr_t FakeShell(const std::wstring& verb, const std::wstring& file, int show) {
  shellCalls.push_back(verb + L" " + file + L" " + std::to_wstring(show));
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  shellApartments.push_back(SUCCEEDED(CoGetApartmentType(&type, &qualifier)) &&
                            (type == APTTYPE_STA || type == APTTYPE_MAINSTA));
  return shellAnswer;
}

TEST_F(SeamsTest, ShellVerbsAreHandedTheFilesHiddenOrShown) {
  PrintingSeams().shellExecute = &FakeShell;
  wchar_t folder[MAX_PATH];
  GetTempPathW(MAX_PATH, folder);
  const std::wstring photo = std::wstring(folder) + L"korvela seam.jpg";
  const std::wstring program = std::wstring(folder) + L"korvela seam.exe";
  for (const std::wstring& path : {photo, program}) {
    CloseHandle(CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  }
  const auto utf8 = [](const std::wstring& wide) {
    std::string text(wide.size() * 3, '\0');
    text.resize(static_cast<std::size_t>(
        WideCharToMultiByte(CP_UTF8, 0, wide.c_str(), static_cast<int>(wide.size()), text.data(),
                            static_cast<int>(text.size()), nullptr, nullptr)));
    return text;
  };
  shellCalls.clear();
  shellApartments.clear();
  EXPECT_EQ(Call("printToPrinterWindows",
                 EncodableValue(EncodableMap{
                     {S("imagePaths"), EncodableValue(EncodableList{EncodableValue(utf8(photo))})},
                     {S("printerName"), S("KorvelaPhoto")},
                     {S("copies"), EncodableValue(2)}})),
            "success");
  EXPECT_EQ(Call("printImagesWindows", EncodableValue(EncodableList{EncodableValue(utf8(photo))})),
            "success");
  EXPECT_EQ(
      Call("printImagesWindows", EncodableValue(EncodableList{EncodableValue(utf8(program))})),
      "SHELL_EXECUTE_FAILED: Failed to open image with default application");
  ASSERT_EQ(shellCalls.size(), 3u);
  EXPECT_EQ(shellCalls[0], L"print " + photo + L" " + std::to_wstring(SW_HIDE));
  EXPECT_EQ(shellCalls[1], shellCalls[0]);
  EXPECT_EQ(shellCalls[2], L"open " + photo + L" " + std::to_wstring(SW_SHOW));
  EXPECT_EQ(shellApartments, std::vector<bool>(3, true));
  shellAnswer = 2;  // ERROR_FILE_NOT_FOUND from the shell
  EXPECT_EQ(Call("printImagesWindows", EncodableValue(EncodableList{EncodableValue(utf8(photo))})),
            "SHELL_EXECUTE_FAILED: Failed to open image with default application");
  shellAnswer = 42;
  for (const std::wstring& path : {photo, program}) DeleteFileW(path.c_str());
}

}  // namespace
}  // namespace runner::printing
