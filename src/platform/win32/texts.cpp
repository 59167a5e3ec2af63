// Code page 932 conversions and upper-casing, with code page 932 named explicitly: the
// program's texts are the same bytes whatever the system's ANSI code page is.
#include <cstring>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"

namespace gp::platform {
namespace win32 {

namespace {

// Largest input handed to one conversion call (the calls take int lengths).
constexpr size_t kMaxConversion = 0x3FFFFFFF;

bool MultiToWide(UINT code_page, DWORD flags, std::string_view in, std::wstring* out) {
  out->clear();
  if (in.empty()) return true;
  if (in.size() > kMaxConversion) return false;
  const int n = MultiByteToWideChar(code_page, flags, in.data(), static_cast<int>(in.size()),
                                    nullptr, 0);
  if (n <= 0) return false;
  out->resize(static_cast<size_t>(n));
  return MultiByteToWideChar(code_page, flags, in.data(), static_cast<int>(in.size()),
                             out->data(), n) == n;
}

bool WideToMulti(UINT code_page, std::wstring_view in, bool strict, std::string* out) {
  out->clear();
  if (in.empty()) return true;
  if (in.size() > kMaxConversion) return false;
  // The default-character report is only available for code pages other than UTF-8.
  const bool utf8 = code_page == CP_UTF8;
  const DWORD flags = utf8 ? (strict ? WC_ERR_INVALID_CHARS : 0)
                           : (strict ? WC_NO_BEST_FIT_CHARS : 0);
  BOOL used_default = FALSE;
  BOOL* used = utf8 || !strict ? nullptr : &used_default;
  const int n = WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()),
                                    nullptr, 0, nullptr, used);
  if (n <= 0 || used_default) return false;
  out->resize(static_cast<size_t>(n));
  if (WideCharToMultiByte(code_page, flags, in.data(), static_cast<int>(in.size()), out->data(),
                          n, nullptr, used) != n) {
    return false;
  }
  return !used_default;
}

}  // namespace

bool WideFromCp932(std::string_view cp932, std::wstring* out) {
  return MultiToWide(kCodePage, MB_ERR_INVALID_CHARS, cp932, out);
}

bool Cp932FromWide(std::wstring_view wide, std::string* out) {
  return WideToMulti(kCodePage, wide, true, out);
}

bool WideFromUtf8(std::string_view utf8, std::wstring* out) {
  return MultiToWide(CP_UTF8, MB_ERR_INVALID_CHARS, utf8, out);
}

bool Utf8FromWide(std::wstring_view wide, std::string* out) {
  return WideToMulti(CP_UTF8, wide, true, out);
}

std::wstring WideFromCp932Lossy(std::string_view cp932) {
  std::wstring out;
  if (!MultiToWide(kCodePage, 0, cp932, &out)) out.clear();
  return out;
}

std::string Cp932FromWideLossy(std::wstring_view wide) {
  std::string out;
  if (!WideToMulti(kCodePage, wide, false, &out)) out.clear();
  return out;
}

std::wstring WidePath(const char* cp932) {
  std::wstring wide;
  if (cp932 == nullptr || !WideFromCp932(cp932, &wide)) return std::wstring();
  return wide;
}

uint32_t CopyOutWithLimit(const std::string& text, char* buffer, uint32_t limit) {
  const size_t needed = text.size() + 1;
  if (needed > 0xFFFFFFFFu) return 0;
  if (buffer == nullptr || needed > limit) return static_cast<uint32_t>(needed);
  std::memcpy(buffer, text.c_str(), needed);
  return static_cast<uint32_t>(text.size());
}

}  // namespace win32

bool Cp932ToUtf16(std::string_view cp932, std::u16string* out) {
  std::wstring wide;
  const bool ok = win32::WideFromCp932(cp932, &wide);
  out->assign(wide.begin(), wide.end());
  return ok;
}

bool Utf16ToCp932(std::u16string_view text, std::string* out) {
  const std::wstring wide(text.begin(), text.end());
  return win32::Cp932FromWide(wide, out);
}

bool Cp932ToUtf8(std::string_view cp932, std::string* out) {
  std::wstring wide;
  if (!win32::WideFromCp932(cp932, &wide)) {
    out->clear();
    return false;
  }
  return win32::Utf8FromWide(wide, out);
}

bool Utf8ToCp932(std::string_view utf8, std::string* out) {
  std::wstring wide;
  if (!win32::WideFromUtf8(utf8, &wide)) {
    out->clear();
    return false;
  }
  return win32::Cp932FromWide(wide, out);
}

std::string Cp932ToUtf8Lossy(std::string_view cp932) {
  std::string result;
  size_t i = 0;
  while (i < cp932.size()) {
    const size_t len =
        IsCp932LeadByte(static_cast<uint8_t>(cp932[i])) && i + 1 < cp932.size() ? 2 : 1;
    std::string piece;
    if (Cp932ToUtf8(cp932.substr(i, len), &piece)) {
      result += piece;
      i += len;
    } else {
      // Only the first byte is lost: a bad trail byte may begin the next character.
      result += '?';
      ++i;
    }
  }
  return result;
}

namespace {

// One double-byte character upper-cased through the Japanese locale's mapping; the character
// itself when it has no upper case or its upper case has no double-byte form.
void UpperCaseDoubleByte(std::string_view ch, std::string* out) {
  std::wstring wide;
  if (!win32::WideFromCp932(ch, &wide) || wide.empty()) {
    out->append(ch);
    return;
  }
  wchar_t mapped[8] = {};
  const int n = LCMapStringEx(L"ja-JP", LCMAP_UPPERCASE, wide.c_str(),
                              static_cast<int>(wide.size()), mapped, 8, nullptr, nullptr, 0);
  std::string back;
  if (n <= 0 || !win32::Cp932FromWide(std::wstring_view(mapped, static_cast<size_t>(n)), &back) ||
      back.size() != ch.size()) {
    out->append(ch);
    return;
  }
  out->append(back);
}

}  // namespace

std::string UpperCaseCp932(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    const uint8_t b = static_cast<uint8_t>(text[i]);
    if (IsCp932LeadByte(b) && i + 1 < text.size()) {
      UpperCaseDoubleByte(text.substr(i, 2), &out);
      i += 2;
      continue;
    }
    out.push_back(b >= 'a' && b <= 'z' ? static_cast<char>(b - 'a' + 'A') : static_cast<char>(b));
    ++i;
  }
  return out;
}

}  // namespace gp::platform
