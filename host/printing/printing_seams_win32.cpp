// The real dialogs and shell verbs behind the printing seams.
#include <windows.h>
// After windows.h, which they need.
#include <shellapi.h>
#include <winspool.h>

#include "printing_seams.h"

namespace runner::printing {
namespace {

LONG RealPaperDialog(HANDLE printer, const std::wstring& name, DEVMODEW* current,
                     DEVMODEW* chosen) {
  return DocumentPropertiesW(nullptr, printer, const_cast<LPWSTR>(name.c_str()), chosen, current,
                             DM_IN_BUFFER | DM_IN_PROMPT | DM_OUT_BUFFER);
}

BOOL RealPrintDialog(PRINTDLGW* dialog) { return PrintDlgW(dialog); }

std::intptr_t RealShellExecute(const std::wstring& verb, const std::wstring& file, int show) {
  return reinterpret_cast<std::intptr_t>(
      ShellExecuteW(nullptr, verb.c_str(), file.c_str(), nullptr, nullptr, show));
}

}  // namespace

Seams& PrintingSeams() {
  static Seams seams = {&RealPaperDialog, &RealPrintDialog, &RealShellExecute};
  return seams;
}

}  // namespace runner::printing
