#include "storage/owned_string.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace gp {

namespace {

// A one-byte buffer that holds only the terminator; what a string falls back to when an
// allocation fails, so that c_str() is always a valid text.
char* NewEmptyBuffer() {
  char* buffer = new (std::nothrow) char[1];
  if (buffer) buffer[0] = '\0';
  return buffer;
}

}  // namespace

OwnedString::OwnedString() : text_(NewEmptyBuffer()) {}

OwnedString::OwnedString(const char* text) : text_(NewEmptyBuffer()) { Assign(text); }

OwnedString::OwnedString(const OwnedString& other) : text_(NewEmptyBuffer()) { Assign(other); }

OwnedString& OwnedString::operator=(const OwnedString& other) {
  if (this != &other) Assign(other);
  return *this;
}

OwnedString::~OwnedString() { delete[] text_; }

void OwnedString::Assign(const char* text) {
  if (text == nullptr) {
    AssignBytes("", 0);
    return;
  }
  size_t length = std::strlen(text);
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max() - 1)) length = 0;
  AssignBytes(text, static_cast<int32_t>(length));
}

void OwnedString::Assign(const OwnedString& other) {
  if (this == &other) return;
  AssignBytes(other.text_ ? other.text_ : "", other.length_);
}

void OwnedString::AssignBytes(const char* text, int32_t length) {
  char* buffer = new (std::nothrow) char[static_cast<size_t>(length) + 1];
  delete[] text_;
  if (buffer == nullptr) {
    text_ = NewEmptyBuffer();
    length_ = 0;
    return;
  }
  std::memcpy(buffer, text, static_cast<size_t>(length));
  buffer[length] = '\0';
  text_ = buffer;
  length_ = length;
}

}  // namespace gp
