// The whole road of a print run under Wine, as the interface walks it: a
// background grid job on the photos of a folder, polled to its end, then
// the pages printed with "printWithLayoutWindows" to the default printer of
// the print bench. Leaves the pages and the printed PDF in the output
// folder. Run by scripts/demo.sh --print, which starts Wine and the bench.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "host_driver.h"

namespace {

using e2e::EncodableValue;
using runner::EncodableList;
using runner::EncodableMap;
namespace fs = std::filesystem;

using e2e::S;

bool IsPhoto(const fs::path& path) {
  std::string extension = path.extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension == ".jpg" || extension == ".jpeg" || extension == ".png" ||
         extension == ".bmp" || extension == ".gif";
}

}  // namespace

int main(int argc, char** argv) {
  const char* pdfFolder = std::getenv("KORVELA_PRINT_PDF_DIR");
  if (argc < 3 || !e2e::HostAvailable() || !pdfFolder) {
    std::fprintf(stderr,
                 "usage: print_demo PHOTO_FOLDER OUTPUT_FOLDER (with KORVELA_WINDOWS_BIN, "
                 "KORVELA_WINE_RUN and the print bench's KORVELA_PRINT_PDF_DIR set)\n");
    return 2;
  }
  std::vector<fs::path> photos;
  for (const auto& entry : fs::directory_iterator(argv[1])) {
    if (entry.is_regular_file() && IsPhoto(entry.path())) photos.push_back(entry.path());
  }
  std::sort(photos.begin(), photos.end());
  if (photos.empty()) {
    std::fprintf(stderr, "No photos in %s\n", argv[1]);
    return 1;
  }
  const fs::path output = fs::absolute(argv[2]);
  fs::create_directories(output);
  EncodableList images, pages;
  for (const fs::path& photo : photos) images.push_back(S(e2e::WindowsPath(photo.string())));
  for (std::size_t page = 1; page <= (photos.size() + 3) / 4; ++page) {
    pages.push_back(
        S(e2e::WindowsPath((output / ("page " + std::to_string(page) + ".jpg")).string())));
  }
  EncodableMap grid{{S("imagePaths"), EncodableValue(images)},
                    {S("outputPaths"), EncodableValue(pages)},
                    {S("showCutGrid"), EncodableValue(true)}};
  for (const char* key : {"rows", "columns"}) grid[S(key)] = EncodableValue(2);
  grid[S("pageWidth")] = EncodableValue(2480);
  grid[S("pageHeight")] = EncodableValue(3508);
  for (const char* key : {"marginLeft", "marginRight", "marginTop", "marginBottom"}) {
    grid[S(key)] = EncodableValue(60);
  }
  for (const auto& entry : fs::directory_iterator(pdfFolder)) fs::remove(entry.path());

  std::printf("Composing %zu photos onto %zu pages, then printing them...\n", photos.size(),
              pages.size());
  const e2e::HostRun run = e2e::RunHost(
      e2e::HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(grid))
          .PollGridJob(1)
          .Call("printing_channel", "printWithLayoutWindows",
                EncodableValue(EncodableMap{{S("imagePaths"), EncodableValue(pages)}})));
  if (run.exitCode != 0 || run.answers.empty()) {
    std::fprintf(stderr, "Korvela.exe failed:\n%s\n", run.err.c_str());
    return 1;
  }
  if (run.answers.back().SuccessValue() != EncodableValue(true)) {
    std::fprintf(stderr, "Printing failed: %s\n%s\n", run.answers.back().Error().c_str(),
                 run.err.c_str());
    return 1;
  }
  // cups-pdf writes the PDF when CUPS has run the job to its end.
  e2e::WaitForPrintJobs();
  for (int i = 0; i < 100; ++i) {
    for (const auto& entry : fs::directory_iterator(pdfFolder)) {
      const fs::path printed = output / "printed.pdf";
      fs::copy_file(entry.path(), printed, fs::copy_options::overwrite_existing);
      std::printf("Pages and the printed PDF are in: %s\n", output.string().c_str());
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::fprintf(stderr, "The printer wrote no PDF\n");
  return 1;
}
