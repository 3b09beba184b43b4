// Numbers as text, through the C library's own formatting.
#include "imaging/system/text.h"

#include <cstdio>

namespace sheetsmith {

std::string FormatG(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

}  // namespace sheetsmith
