// Backslash search in code page 932 paths. The second byte of a double-byte character may be
// 0x5C (ソ, 表, 能, 十, 予 ...); these searches step over double-byte characters, so such a
// byte never counts as a folder separator.
#pragma once

#include <cstddef>

namespace gp {

// The first / last backslash of a NUL-terminated text, or null when there is none.
const char* FindFirstBackslash(const char* text);
const char* FindLastBackslash(const char* text);
// The number of backslashes in the text.
size_t CountBackslashes(const char* text);

}  // namespace gp
