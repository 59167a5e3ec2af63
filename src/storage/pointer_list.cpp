#include "storage/pointer_list.h"

#include <cstddef>
#include <limits>
#include <new>

namespace gp {

PointerList::~PointerList() { delete[] items_; }

void PointerList::Clear() {
  delete[] items_;
  items_ = nullptr;
  count_ = 0;
}

int32_t PointerList::Append(void* p) {
  if (count_ == std::numeric_limits<int32_t>::max()) return -1;
  void** grown = new (std::nothrow) void*[static_cast<size_t>(count_) + 1];
  if (grown == nullptr) return -1;
  for (int32_t i = 0; i < count_; ++i) grown[i] = items_[i];
  grown[count_] = p;
  delete[] items_;
  items_ = grown;
  return count_++;
}

void* PointerList::Get(int32_t i) const {
  if (i < 0 || i >= count_) return nullptr;
  return items_[i];
}

}  // namespace gp
