#include "storage/path_text.h"

#include "platform/platform.h"

namespace gp {

namespace {

// Calls visit(position) for every separator byte, stepping over double-byte characters. A lead
// byte right before the terminator stands alone.
template <typename Visit>
void ForEachBackslash(const char* text, Visit visit) {
  if (text == nullptr) return;
  for (const char* p = text; *p != '\0'; ++p) {
    if (IsCp932LeadByte(static_cast<unsigned char>(*p)) && p[1] != '\0') {
      ++p;
      continue;
    }
    if (*p == '\\' && !visit(p)) return;
  }
}

}  // namespace

const char* FindFirstBackslash(const char* text) {
  const char* found = nullptr;
  ForEachBackslash(text, [&](const char* p) {
    found = p;
    return false;
  });
  return found;
}

const char* FindLastBackslash(const char* text) {
  const char* found = nullptr;
  ForEachBackslash(text, [&](const char* p) {
    found = p;
    return true;
  });
  return found;
}

size_t CountBackslashes(const char* text) {
  size_t count = 0;
  ForEachBackslash(text, [&](const char*) {
    ++count;
    return true;
  });
  return count;
}

}  // namespace gp
