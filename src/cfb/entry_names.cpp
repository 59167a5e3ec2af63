#include "cfb/entry_names.h"

#include "cfb/cfb_format.h"

namespace gp::cfb {

char16_t UpperCaseUnit(char16_t c) {
  if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 0x20) : c;
  // Latin-1 Supplement.
  if (c == 0xB5) return 0x039C;
  if (c == 0xFF) return 0x0178;
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 0x20);
  if (c < 0x100) return c;
  // Latin Extended-A: pairs of upper (even) and lower (odd) letters, with shifted pairs in
  // 0x139-0x148 and 0x179-0x17E.
  if (c <= 0x17F) {
    if (c == 0x131) return u'I';
    if (c == 0x17F) return u'S';
    if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
      return (c % 2 == 0) ? static_cast<char16_t>(c - 1) : c;
    }
    if (c == 0x138 || c == 0x149) return c;
    return (c % 2 == 1) ? static_cast<char16_t>(c - 1) : c;
  }
  // Greek.
  if (c >= 0x3B1 && c <= 0x3CB && c != 0x3C2) return static_cast<char16_t>(c - 0x20);
  if (c == 0x3C2) return 0x3A3;
  if (c == 0x3AC) return 0x386;
  if (c >= 0x3AD && c <= 0x3AF) return static_cast<char16_t>(c - 0x25);
  if (c == 0x3CC) return 0x38C;
  if (c == 0x3CD || c == 0x3CE) return static_cast<char16_t>(c - 0x3F);
  // Cyrillic.
  if (c >= 0x430 && c <= 0x44F) return static_cast<char16_t>(c - 0x20);
  if (c >= 0x450 && c <= 0x45F) return static_cast<char16_t>(c - 0x50);
  if (c >= 0x460 && c <= 0x481 && c % 2 == 1) return static_cast<char16_t>(c - 1);
  if (c >= 0x48A && c <= 0x4BF && c % 2 == 1) return static_cast<char16_t>(c - 1);
  if (c >= 0x4D0 && c <= 0x52F && c % 2 == 1) return static_cast<char16_t>(c - 1);
  // Armenian.
  if (c >= 0x561 && c <= 0x586) return static_cast<char16_t>(c - 0x30);
  // Full-width Latin.
  if (c >= 0xFF41 && c <= 0xFF5A) return static_cast<char16_t>(c - 0x20);
  return c;
}

int CompareNames(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  for (size_t i = 0; i < a.size(); ++i) {
    const char16_t ua = UpperCaseUnit(a[i]);
    const char16_t ub = UpperCaseUnit(b[i]);
    if (ua != ub) return ua < ub ? -1 : 1;
  }
  return 0;
}

bool IsValidName(std::u16string_view name) {
  if (name.empty() || name.size() > kMaxNameUnits) return false;
  for (char16_t c : name) {
    if (c == 0 || c == u'/' || c == u'\\' || c == u':' || c == u'!') return false;
  }
  return true;
}

}  // namespace gp::cfb
