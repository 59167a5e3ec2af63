// A fresh folder under the temporary folder for one test, removed with everything in it when
// the test ends. Paths are code page 932 program paths.
#pragma once

#include <string>

namespace gp::testing_win32 {

class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder, without a trailing backslash; empty when it could not be made.
  const std::string& path() const { return path_; }
  // path() + "\" + name.
  std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

 private:
  std::string path_;
};

// Writes bytes to a new file (replacing one); false on failure.
bool WriteWholeFile(const std::string& path, const std::string& bytes);
// Reads a whole file; false on failure.
bool ReadWholeFile(const std::string& path, std::string* bytes);
// Removes a folder tree (clearing read-only attributes on the way).
void RemoveTree(const std::wstring& folder);

}  // namespace gp::testing_win32
