// Whether this process can create windows on its desktop (Windows build only). Under Wine the
// desktop belongs to explorer.exe, which loads the graphics driver once, when the desktop comes
// up: a desktop that came up with a driver that cannot load (the X11 one without a display)
// refuses every window at once, and a test waiting for a dialog would wait in vain. The suites
// that show windows check this first and fail at once with the reason.
#pragma once
#if defined(_WIN32)

#include <string>

#include "platform/win32/windows_support.h"

namespace gp::test {

// Empty when a top-level window can be created and destroyed, otherwise what is wrong. The
// answer holds for the whole process: it is found once.
inline const std::string& DesktopProblem() {
  static const std::string problem = [] {
    HWND probe = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
    if (probe == nullptr) {
      const DWORD error = GetLastError();
      return "the Wine desktop is not ready: no window can be created" +
             (error != 0 ? " (error " + std::to_string(error) + ")" : std::string()) +
             "; prepare the prefix with scripts/wine-prefix.sh before the tests";
    }
    DestroyWindow(probe);
    return std::string();
  }();
  return problem;
}

}  // namespace gp::test

#endif
