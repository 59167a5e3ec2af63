#include "storage/file_helpers.h"

#include "platform/platform.h"

namespace gp {

bool FileExists(const char* path) {
  if (path == nullptr || path[0] == '\0') return false;
  return platform::FindFirstExists(path);
}

bool ForceDeleteFile(const char* path) {
  if (path == nullptr) return false;
  const uint32_t attributes = platform::ReadAttributes(path);
  constexpr uint32_t kCleared =
      platform::kAttrReadOnly | platform::kAttrHidden | platform::kAttrSystem;
  // For a missing file both calls fail; the delete's result is what callers see.
  platform::WriteAttributes(path, attributes & ~kCleared);
  return platform::RemoveFile(path);
}

}  // namespace gp
