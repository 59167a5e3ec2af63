#include "storage/run_temp_folder.h"

#include <string>
#include <vector>

#include "platform/platform.h"
#include "storage/file_helpers.h"

namespace gp {

namespace {

constexpr char kRunFolderPrefix[] = "~gp";
constexpr size_t kRunFolderPrefixLength = sizeof(kRunFolderPrefix) - 1;
constexpr uint32_t kFolderQueryLimit = 256;

// The process id of a run folder's name; false for any other name.
bool ParseRunFolderName(const std::string& name, uint32_t* id) {
  if (name.size() <= kRunFolderPrefixLength || name.size() > kRunFolderPrefixLength + 10 ||
      name.compare(0, kRunFolderPrefixLength, kRunFolderPrefix) != 0) {
    return false;
  }
  uint64_t value = 0;
  for (size_t i = kRunFolderPrefixLength; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  if (value > 0xFFFFFFFFu) return false;
  *id = static_cast<uint32_t>(value);
  return true;
}

// Deletes the files directly in folder (ending with a backslash), then the folder when it is
// empty. True when the folder is gone.
bool EmptyAndRemove(const std::string& folder) {
  std::vector<std::string> names;
  platform::FolderEnumerator entries;
  std::string name;
  for (bool more = entries.First((folder + "*.*").c_str(), &name); more;
       more = entries.Next(&name)) {
    if (name != "." && name != "..") names.push_back(name);
  }
  entries.Close();
  for (const std::string& file : names) {
    const std::string path = folder + file;
    const uint32_t attributes = platform::ReadAttributes(path.c_str());
    if (attributes == platform::kInvalidAttributes ||
        (attributes & platform::kAttrDirectory) != 0) {
      continue;
    }
    ForceDeleteFile(path.c_str());
  }
  std::string bare = folder;
  if (!bare.empty() && bare.back() == '\\') bare.pop_back();
  return platform::RemoveFolder(bare.c_str());
}

}  // namespace

std::string RunTempFolderName(uint32_t process_id) {
  return kRunFolderPrefix + std::to_string(process_id);
}

int RemoveEndedRunFolders(const std::string& temp_folder) {
  const uint32_t own = platform::CurrentProcessId();
  std::vector<std::string> ended;
  platform::FolderEnumerator entries;
  std::string name;
  for (bool more = entries.First((temp_folder + kRunFolderPrefix + "*").c_str(), &name); more;
       more = entries.Next(&name)) {
    uint32_t id = 0;
    if (!ParseRunFolderName(name, &id) || id == own || platform::ProcessExists(id)) continue;
    const uint32_t attributes = platform::ReadAttributes((temp_folder + name).c_str());
    if (attributes == platform::kInvalidAttributes ||
        (attributes & platform::kAttrDirectory) == 0) {
      continue;
    }
    ended.push_back(name);
  }
  entries.Close();
  int removed = 0;
  for (const std::string& folder : ended) {
    if (EmptyAndRemove(temp_folder + folder + "\\")) ++removed;
  }
  return removed;
}

RunTempFolder::RunTempFolder(bool remove_ended_runs) {
  char system[kFolderQueryLimit];
  const uint32_t n = platform::SystemTempFolder(system, sizeof(system));
  if (n == 0 || n >= sizeof(system)) return;
  std::string temp(system);
  if (temp.back() != '\\') temp += '\\';
  if (remove_ended_runs) RemoveEndedRunFolders(temp);
  const std::string folder = temp + RunTempFolderName(platform::CurrentProcessId());
  // A folder of this id left by an ended run that had the same id is ours now: emptied first.
  if (platform::ReadAttributes(folder.c_str()) != platform::kInvalidAttributes) {
    EmptyAndRemove(folder + "\\");
  }
  if (!platform::MakeFolder(folder.c_str())) return;
  path_ = folder + "\\";
  platform::SetTempFolderOverride(path_);
}

RunTempFolder::~RunTempFolder() {
  if (path_.empty()) return;
  platform::SetTempFolderOverride(std::string());
  EmptyAndRemove(path_);
}

}  // namespace gp
