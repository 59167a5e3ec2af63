// Code page 932 texts as the program holds them: byte strings in which a lead byte and the byte
// after it form one character (whose second byte may be 0x5C, the backslash).
#pragma once

#include <cstdint>

namespace gp {

// True when byte b may begin a double-byte character of code page 932.
inline bool IsCp932LeadByte(uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// The single-byte characters that Windows refuses in a file or folder name, separators aside:
// control characters and < > : " | ? *.
inline bool IsForbiddenInWindowsName(uint8_t b) {
  return b < 0x20 || b == '<' || b == '>' || b == ':' || b == '"' || b == '|' || b == '?' ||
         b == '*';
}

}  // namespace gp
