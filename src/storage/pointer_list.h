// A growable array of pointers. It never owns what its elements point to.
#pragma once

#include <cstdint>

namespace gp {

class PointerList {
 public:
  PointerList() = default;
  PointerList(const PointerList&) = delete;
  PointerList& operator=(const PointerList&) = delete;
  virtual ~PointerList();

  // Frees the array and starts a new empty one; the elements are not released.
  void Clear();
  // Grows the array by one, stores p last and returns its index; -1 (and the list unchanged)
  // when memory runs out.
  int32_t Append(void* p);
  int32_t Count() const { return count_; }
  // Element i, or null when i is not a valid index.
  void* Get(int32_t i) const;

 private:
  void** items_ = nullptr;  // exactly count_ elements
  int32_t count_ = 0;
};

}  // namespace gp
