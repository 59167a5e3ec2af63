// Process-wide overrides of the Windows and system folders (host paths, UTF-8). Set only by
// the genpatch command; the package program always asks the system.
#pragma once

#include <string>

namespace gp::platform::win32 {

struct FolderOverrides {
  std::string windows_folder;
  std::string system_folder;

  static FolderOverrides& Get();
  void Reset();
};

}  // namespace gp::platform::win32
