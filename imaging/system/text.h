// Numbers as the programs write them in files and log lines.
#pragma once

#include <string>

namespace sheetsmith {

// printf's %g (6 significant digits) of a float or double.
std::string FormatG(double value);

}  // namespace sheetsmith
