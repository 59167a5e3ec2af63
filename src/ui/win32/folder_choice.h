// How the folder chooser hands a chosen folder to its caller's 256-byte buffer.
#pragma once

#include <string_view>

namespace gp::ui::win32 {

inline constexpr size_t kFolderBufferSize = 256;

// An empty choice, or one that does not fit the buffer with its terminator (256 bytes or
// more), leaves the buffer as it was and gives false. Otherwise the buffer is cleared and
// receives the folder.
bool StoreChosenFolder(std::string_view cp932, char* buffer);

}  // namespace gp::ui::win32
