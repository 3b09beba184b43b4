// Times a 16-photo background grid job through Korvela.exe under Wine
// against sheetsmith.exe alone on the same job. Prints figures; asserts
// nothing. Needs KORVELA_WINDOWS_BIN and KORVELA_WINE_RUN like the
// end-to-end tests, and the photos folder as its argument; with a second
// folder holding the same photos as phone HEICs (bench_NN.heic), their bake
// is timed too.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "host_driver.h"
#include "job_file_writer.h"

namespace {

using e2e::EncodableValue;
using runner::EncodableList;
using runner::EncodableMap;

using e2e::S;

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || !e2e::HostAvailable()) {
    std::fprintf(
        stderr,
        "usage: host_bench PHOTO_FOLDER [HEIC_FOLDER] (with KORVELA_WINDOWS_BIN and "
        "KORVELA_WINE_RUN set)\n");
    return 2;
  }
  const std::string photos = argv[1];
  runner::printing::GridRequest request;
  for (int i = 1; i <= 16; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "/bench_%02d.jpg", i);
    request.imagePaths.push_back(photos + name);
  }
  for (int p = 1; p <= 4; ++p)
    request.outputPaths.push_back(photos + "/host_page" + std::to_string(p) + ".jpg");
  request.rows = request.columns = 2;
  request.pageWidth = 1854;
  request.pageHeight = 2445;
  request.marginLeft = request.marginRight = 18;
  request.marginTop = request.marginBottom = 16;

  EncodableList images, outputs;
  for (const auto& path : request.imagePaths) images.push_back(S(e2e::WindowsPath(path)));
  for (const auto& path : request.outputPaths) outputs.push_back(S(e2e::WindowsPath(path)));
  EncodableMap arguments{{S("imagePaths"), EncodableValue(images)},
                         {S("outputPaths"), EncodableValue(outputs)}};
  for (const char* key : {"rows", "columns"}) arguments[S(key)] = EncodableValue(2);
  arguments[S("pageWidth")] = EncodableValue(1854);
  arguments[S("pageHeight")] = EncodableValue(2445);
  arguments[S("marginLeft")] = EncodableValue(18);
  arguments[S("marginRight")] = EncodableValue(18);
  arguments[S("marginTop")] = EncodableValue(16);
  arguments[S("marginBottom")] = EncodableValue(16);

  const auto hostStart = std::chrono::steady_clock::now();
  const e2e::HostRun run = e2e::RunHost(
      e2e::HostScript()
          .Call("printing_channel", "createGridImagesFastAsync", EncodableValue(arguments))
          .PollGridJob(1));
  const double hostWall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - hostStart)
          .count();
  int totalTimeMs = -1;
  if (!run.answers.empty()) {
    if (const auto status = run.answers.back().SuccessValue()) {
      if (const auto* map = status->GetIf<EncodableMap>()) {
        if (const auto found = map->find(S("totalTimeMs")); found != map->end()) {
          totalTimeMs = found->second.Get<std::int32_t>();
        }
      }
    }
  }
  std::printf(
      "host background job (2x2, 4 pages): totalTimeMs=%d, whole host run %.0f ms "
      "(start-up, polls and shut-down included), polls=%zu\n",
      totalTimeMs, hostWall, run.answers.size() - 1);

  // sheetsmith.exe alone, under Wine, on the same job.
  runner::printing::GridRequest alone = request;
  alone.imagePaths.clear();
  alone.outputPaths.clear();
  for (const auto& path : request.imagePaths) alone.imagePaths.push_back(e2e::WindowsPath(path));
  for (int p = 1; p <= 4; ++p) {
    alone.outputPaths.push_back(
        e2e::WindowsPath(photos + "/alone_page" + std::to_string(p) + ".jpg"));
  }
  const std::string job = photos + "/alone_job.txt";
  FILE* file = std::fopen(job.c_str(), "wb");
  const std::string text = runner::printing::BuildGridConfig(alone).text;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
  const std::string command = std::string("\"") + std::getenv("KORVELA_WINE_RUN") + "\" \"" +
                              std::getenv("KORVELA_WINDOWS_BIN") + "/sheetsmith.exe\" \"" +
                              e2e::WindowsPath(job) + "\" > /dev/null 2>&1";
  const auto aloneStart = std::chrono::steady_clock::now();
  const int code = std::system(command.c_str());
  const double aloneWall =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - aloneStart)
          .count();
  std::printf("sheetsmith.exe alone under Wine (same job): %.0f ms, exit status %d\n", aloneWall,
              code);

  // Baking the same 16 photos onto 1000 x 1000 canvases with the default
  // thread count, one thread and two; then the phone HEICs, when given, with
  // the default count. Each bake is timed as a whole host run less an idle
  // host run, so start-up and shut-down are left out.
  const auto bakeRequests = [](const std::vector<std::string>& paths) {
    EncodableList requests;
    for (const auto& path : paths) {
      requests.push_back(EncodableValue(EncodableMap{{S("sourcePath"), S(e2e::WindowsPath(path))},
                                                     {S("canvasWidth"), EncodableValue(1000)},
                                                     {S("canvasHeight"), EncodableValue(1000)}}));
    }
    return requests;
  };
  std::vector<std::string> heics;
  if (argc > 2) {
    for (int i = 1; i <= 16; ++i) {
      char name[32];
      std::snprintf(name, sizeof name, "/bench_%02d.heic", i);
      heics.push_back(argv[2] + std::string(name));
    }
  }
  struct Bake {
    const char* what;
    std::vector<std::string> paths;
    int threads;
  };
  std::vector<Bake> bakes = {{"16 x 4000x3000 JPEG", request.imagePaths, 0},
                             {"16 x 4000x3000 JPEG", request.imagePaths, 1},
                             {"16 x 4000x3000 JPEG", request.imagePaths, 2}};
  if (!heics.empty()) bakes.push_back({"16 x 4000x3000 phone HEIC", heics, 0});
  for (const Bake& b : bakes) {
    const EncodableValue bake(EncodableMap{{S("requests"), EncodableValue(bakeRequests(b.paths))},
                                           {S("maxThreads"), EncodableValue(b.threads)}});
    const auto idleStart = std::chrono::steady_clock::now();
    e2e::RunHost(e2e::HostScript());
    const double idle =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - idleStart)
            .count();
    const auto start = std::chrono::steady_clock::now();
    const e2e::HostRun baked =
        e2e::RunHost(e2e::HostScript().Call("printing_channel", "bakeImagesForPrinting", bake));
    const double wall =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::string used = "?";
    const std::string marker = "INFO: Starting parallel baking with ";
    if (const auto at = baked.err.find(marker); at != std::string::npos) {
      const auto from = at + marker.size();
      used = baked.err.substr(from, baked.err.find(' ', from) - from);
    }
    int successes = -1;
    if (!baked.answers.empty()) {
      if (const auto reply = baked.answers[0].SuccessValue()) {
        successes = reply->Get<EncodableMap>().at(S("successCount")).Get<std::int32_t>();
      }
    }
    std::printf(
        "bake %s -> 1000x1000, maxThreads=%d (%s threads): %.0f ms "
        "(host run %.0f ms less an idle run %.0f ms), %d baked\n",
        b.what, b.threads, used.c_str(), wall - idle, wall, idle, successes);
  }
  return 0;
}
