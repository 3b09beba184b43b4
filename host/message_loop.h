// The main thread's message loop, apart from the calls it makes.
#pragma once

namespace runner {

// Dispatches messages while `getMessage` answers a positive value.
// GetMessageW answers 0 for WM_QUIT and -1 when it fails (an invalid window
// or message pointer); a failure repeats forever, so it ends the loop too.
template <typename GetMessage, typename Dispatch>
void RunMessageLoop(GetMessage getMessage, Dispatch dispatch) {
  while (getMessage() > 0) dispatch();
}

}  // namespace runner
