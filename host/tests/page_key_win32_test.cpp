// Two spellings of one page path are one page to the page queue, as they
// are one file to Windows (run under Wine here).
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "imaging/system/file_io.h"
#include "page_queue.h"
#include "test_photos.h"

namespace runner::printing {
namespace {

bool SamePage(const std::string& a, const std::string& b) {
  return ComparePageKeys(PageKey(a), PageKey(b)) == 0;
}

// The 8.3 name the system gives an existing file or folder.
std::string ShortName(const std::string& path) {
  const std::wstring wide = sheetsmith::WideFromUtf8(path);
  wchar_t buffer[MAX_PATH];
  const DWORD size = GetShortPathNameW(wide.c_str(), buffer, MAX_PATH);
  if (size == 0 || size >= MAX_PATH) return {};
  return sheetsmith::Utf8FromWide(std::wstring(buffer, size));
}

TEST(PageKeyTest, SpellingsOfOneFileAreOnePage) {
  testsupport::TempDir dir("korvela page keys");
  const std::string folder = dir.File("Magnet Sheets For Grandma");
  ASSERT_TRUE(CreateDirectoryW(sheetsmith::WideFromUtf8(folder).c_str(), nullptr));
  const std::string page = folder + "\\Ärger page one.jpg";
  {
    sheetsmith::UniqueFile made = sheetsmith::OpenFile(page, "wb");
    ASSERT_TRUE(made);
  }
  const std::string shortFolder = ShortName(folder);
  ASSERT_FALSE(shortFolder.empty());
  ASSERT_NE(shortFolder, folder);
  const std::string unwritten = folder + "\\page two.jpg";

  const struct {
    std::string a, b;
    bool same;
  } cases[] = {
      {page, folder + "/Ärger page one.jpg", true},
      {page, folder + "\\ärger PAGE ONE.JPG", true},   // case beyond ASCII
      {page, folder + "\\x\\..\\Ärger page one.jpg", true},
      {page, folder + "\\.\\Ärger page one.jpg", true},
      {page, page + ".", true},
      {page, page + " . ", true},
      {page, "\\\\?\\" + page, true},
      {page, shortFolder + "\\Ärger page one.jpg", true},
      {page, ShortName(page), true},
      {unwritten, shortFolder + "\\PAGE TWO.jpg", true},  // not on disk yet
      {page, unwritten, false},
      {page, folder + "\\Arger page one.jpg", false},
      {folder + "\\straße.jpg", folder + "\\STRASSE.jpg", false},  // no folding to two letters
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SamePage(c.a, c.b), c.same) << c.a << " | " << c.b;
  }
}

// A request for a page spelt another way waits for the one composing it.
TEST(PageKeyTest, TheQueueHoldsARequestForTheSamePageSpeltAnotherWay) {
  testsupport::TempDir dir("korvela page queue");
  PageQueue queue;
  PageQueue::Place first = queue.Enter({dir.File("Seite Ä.jpg")});
  PageQueue::Place second = queue.Enter({dir.File("sub\\..\\seite ä.JPG.")});
  std::atomic<bool> turned{false};
  std::thread waiter([&] {
    second.WaitForTurn();
    turned = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_FALSE(turned.load());
  first.Leave();
  waiter.join();
  EXPECT_TRUE(turned.load());
}

}  // namespace
}  // namespace runner::printing
