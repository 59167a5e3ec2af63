// The one place that includes <windows.h>, with the helpers the Windows code shares: code page
// 932 <-> UTF-16 conversions, a handle that closes itself, the length rules of the folder
// queries. Used by platform/win32, the Win32 user-interface host and the window driver of the
// tests; nothing else includes it.
#pragma once

#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

// Our interfaces have methods with these names; the macros would rename them.
#undef MessageBox

#include <cstdint>
#include <string>
#include <string_view>

namespace gp::platform::win32 {

// The code page of every text of the program.
inline constexpr UINT kCodePage = 932;

// Strict conversions: false when a byte sequence (or character) has no form on the other side.
bool WideFromCp932(std::string_view cp932, std::wstring* out);
bool Cp932FromWide(std::wstring_view wide, std::string* out);
bool WideFromUtf8(std::string_view utf8, std::wstring* out);
bool Utf8FromWide(std::wstring_view wide, std::string* out);

// For display only: invalid bytes become the system's replacement character.
std::wstring WideFromCp932Lossy(std::string_view cp932);
// For texts from the system (window texts): unmappable characters become '?'.
std::string Cp932FromWideLossy(std::wstring_view wide);

// A program path (code page 932, null-terminated) as a wide path. An empty result for a null
// pointer or bytes that are not code page 932: such a name opens nothing.
std::wstring WidePath(const char* cp932);

// Stores a code page 932 text with the length rules of the folder queries: when it fits in
// limit bytes with its NUL, copies it and returns its length; otherwise returns the size needed
// (with the NUL) and leaves the buffer untouched.
uint32_t CopyOutWithLimit(const std::string& text, char* buffer, uint32_t limit);

// A kernel handle closed on destruction.
class ScopedHandle {
 public:
  ScopedHandle() = default;
  explicit ScopedHandle(HANDLE h) : handle_(h) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;

  HANDLE Get() const { return handle_; }
  bool Valid() const { return handle_ != nullptr && handle_ != INVALID_HANDLE_VALUE; }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) CloseHandle(handle_);
    handle_ = h;
  }

 private:
  HANDLE handle_ = nullptr;
};

}  // namespace gp::platform::win32
