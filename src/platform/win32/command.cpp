// What the genpatch command takes from its process on Windows: the wide command line split by
// the system's rules, and the program's own file name, each turned into UTF-8 once, here. The
// narrow argv of the C runtime went through the ANSI code page and has lost every character
// outside it.
#include "platform/command.h"
#include "platform/win32/windows_support.h"

#include <shellapi.h>

namespace gp::platform {

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) {
    std::string utf8;
    // A lone surrogate has no UTF-8 form; such an argument names nothing that exists.
    if (!win32::Utf8FromWide(wide[i], &utf8)) utf8 = "?";
    args.push_back(std::move(utf8));
  }
  LocalFree(wide);
  return args;
}

std::string OwnFileHostPath() {
  // Long paths (\\?\ and beyond MAX_PATH) included: the buffer grows until the name fits.
  std::wstring wide(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, wide.data(), static_cast<DWORD>(wide.size()));
    if (n == 0) return std::string();
    if (n < wide.size()) {
      wide.resize(n);
      break;
    }
    if (wide.size() >= 32768) return std::string();
    wide.resize(wide.size() * 2);
  }
  std::string utf8;
  if (!win32::Utf8FromWide(wide, &utf8)) return std::string();
  return utf8;
}

}  // namespace gp::platform
