// The three platform calls that a test cannot drive for real under Wine:
// the driver's modal paper dialog, the modal print dialog, and the shell's
// verbs (which would start other programs). The product calls the real ones;
// a test build puts its own here.
#pragma once

#include <windows.h>
// After windows.h, which it needs.
#include <commdlg.h>

#include <cstdint>
#include <string>

namespace runner::printing {

struct Seams {
  // DocumentPropertiesW in mode 14 (in, prompt, out): IDOK, IDCANCEL or another value.
  LONG(*paperDialog)
  (HANDLE printer, const std::wstring& name, DEVMODEW* current, DEVMODEW* chosen);
  // PrintDlgW.
  BOOL (*printDialog)(PRINTDLGW* dialog);
  // ShellExecuteW with no owner, parameters or folder: its result as a number.
  std::intptr_t (*shellExecute)(const std::wstring& verb, const std::wstring& file, int show);
};

Seams& PrintingSeams();

}  // namespace runner::printing
