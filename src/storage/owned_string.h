// A code page 932 byte string that always owns a NUL-terminated heap buffer. Callers test it
// for emptiness by its length.
#pragma once

#include <cstdint>

namespace gp {

class OwnedString {
 public:
  OwnedString();
  explicit OwnedString(const char* text);
  OwnedString(const OwnedString& other);
  OwnedString& operator=(const OwnedString& other);
  virtual ~OwnedString();

  // Frees the old buffer, then copies text (null counts as empty).
  void Assign(const char* text);
  void Assign(const OwnedString& other);

  int32_t length() const { return length_; }
  bool empty() const { return length_ == 0; }
  const char* c_str() const { return text_; }

 private:
  void AssignBytes(const char* text, int32_t length);

  int32_t length_ = 0;
  char* text_ = nullptr;
};

}  // namespace gp
