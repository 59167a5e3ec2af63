// A fresh folder in the temporary folder for one test, removed with everything in it at the
// end; the current directory is restored first. Uses only the platform interface, so that the
// same tests run on Windows and on Linux.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

namespace gp::platform::testing {

inline void RemoveTree(const std::string& folder) {
  FolderEnumerator entries;
  std::string name;
  std::string pattern = folder + "\\*.*";
  std::vector<std::string> names;
  for (bool more = entries.First(pattern.c_str(), &name); more; more = entries.Next(&name)) {
    if (name != "." && name != "..") names.push_back(name);
  }
  entries.Close();
  for (const std::string& entry : names) {
    const std::string path = folder + "\\" + entry;
    const uint32_t attributes = ReadAttributes(path.c_str());
    if (attributes != kInvalidAttributes && (attributes & kAttrDirectory)) {
      WriteAttributes(path.c_str(), kAttrNormal);
      RemoveTree(path);
    } else {
      WriteAttributes(path.c_str(), kAttrNormal);
      RemoveFile(path.c_str());
    }
  }
  RemoveFolder(folder.c_str());
}

inline std::string CurrentFolderText() {
  char buffer[1024];
  const uint32_t length = CurrentFolder(buffer, sizeof buffer);
  return length > 0 && length < sizeof buffer ? std::string(buffer, length) : std::string();
}

class ScratchFolder {
 public:
  ScratchFolder() : saved_cwd_(CurrentFolderText()) {
    char temp[260];
    const uint32_t length = TempFolder(temp, 256);
    EXPECT_GT(length, 0u);
    EXPECT_LT(length, 256u);
    char name[260];
    if (MakeTempFileName(temp, "gpt", 0, name) == 0) {
      ADD_FAILURE() << "no temporary name in " << temp;
      return;
    }
    // The unique name becomes a folder.
    RemoveFile(name);
    if (!MakeFolder(name)) ADD_FAILURE() << "cannot make " << name;
    path_ = name;
  }
  ~ScratchFolder() {
    if (!saved_cwd_.empty()) ChangeFolder(saved_cwd_.c_str());
    if (!path_.empty()) RemoveTree(path_);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  const std::string& path() const { return path_; }
  std::string Path(std::string_view relative) const {
    return path_ + "\\" + std::string(relative);
  }

 private:
  std::string saved_cwd_;
  std::string path_;
};

inline bool WriteWholeFile(const std::string& path, std::string_view content) {
  File file;
  if (!file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways)) return false;
  uint32_t done = 0;
  return file.Write(content.data(), static_cast<uint32_t>(content.size()), &done) &&
         done == content.size();
}

// The whole content, or "<missing>" when the file cannot be opened.
inline std::string ReadWholeFile(const std::string& path) {
  File file;
  if (!file.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting)) {
    return "<missing>";
  }
  std::string content;
  char buffer[4096];
  uint32_t done = 0;
  while (file.Read(buffer, sizeof buffer, &done) && done > 0) content.append(buffer, done);
  return content;
}

}  // namespace gp::platform::testing
