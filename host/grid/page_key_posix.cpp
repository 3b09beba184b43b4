// Page keys where there is no Windows to ask: either slash, ASCII letters in
// one case, compared byte by byte.
#include "page_queue.h"

namespace runner::printing {

std::string PageKey(const std::string& path) {
  std::string key = path;
  for (char& c : key) {
    if (c == '/') c = '\\';
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return key;
}

int ComparePageKeys(const std::string& a, const std::string& b) { return a.compare(b); }

}  // namespace runner::printing
