#include "storage/folder_journal.h"

#include <cstring>

#include "base/endian.h"
#include "storage/file_helpers.h"
#include "storage/path_text.h"

namespace gp {

namespace {

constexpr uint32_t kPathLimit = 260;
// Folder walks stop at this depth: a deeper tree than any path of 260 bytes can name is a loop
// (a link back up) or not ours to clean.
constexpr int kMaxDepth = 130;

// Reads one record: u32 length L (< 260), then L bytes and the 0 byte. False on a short or
// implausible record.
bool ReadRecord(platform::File& file, std::string* text) {
  uint8_t length_bytes[4];
  uint32_t done = 0;
  if (!file.Read(length_bytes, 4, &done) || done < 4) return false;
  const uint32_t length = LoadU32(length_bytes);
  if (length >= kPathLimit) return false;  // also catches negative values as signed
  char buffer[kPathLimit + 1];
  if (!file.Read(buffer, length + 1, &done) || done < length + 1) return false;
  text->assign(buffer, length);
  return true;
}

void RemoveEmptyFoldersAt(const char* path, int depth) {
  if (depth > kMaxDepth) return;
  char saved[kPathLimit];
  const uint32_t n = platform::CurrentFolder(saved, sizeof(saved));
  if (n == 0 || n >= sizeof(saved)) return;
  if (!platform::ChangeFolder(path)) {
    platform::ChangeFolder(saved);
    return;
  }
  platform::FolderEnumerator it;
  std::string name;
  for (bool more = it.First("*.*", &name); more; more = it.Next(&name)) {
    if (name == "." || name == "..") continue;
    RemoveEmptyFoldersAt(name.c_str(), depth + 1);
  }
  it.Close();
  platform::ChangeFolder(saved);
  platform::RemoveFolder(path);
}

}  // namespace

void FolderJournalState::Reset() {
  file.Close();
  name.clear();
}

void OpenFolderJournal(FolderJournalState& journal) {
  journal.Reset();
  char folder[kPathLimit];
  const uint32_t n = platform::TempFolder(folder, sizeof(folder));
  if (n == 0 || n >= sizeof(folder)) return;
  char name[kPathLimit];
  if (platform::MakeTempFileName(folder, "DIF", 0, name) == 0) return;
  journal.name = name;
  journal.file.Open(name, platform::kAccessRead | platform::kAccessWrite, platform::kShareNone,
                    platform::Disposition::kCreateAlways, platform::Hint::kRandomAccess);
}

void AppendFolderJournal(FolderJournalState& journal, const char* text) {
  if (text == nullptr || !journal.file.IsOpen()) return;
  const size_t length = std::strlen(text);
  if (length >= kPathLimit) return;  // does not fit a record; the writer never makes one
  uint8_t length_bytes[4];
  StoreU32(length_bytes, static_cast<uint32_t>(length));
  uint32_t done = 0;
  journal.file.Seek(0, platform::Origin::kEnd);
  journal.file.Write(length_bytes, 4, &done);
  journal.file.Write(text, static_cast<uint32_t>(length) + 1, &done);
}

void ReplayFolderJournal(FolderJournalState& journal) {
  if (!journal.file.IsOpen()) {
    // A journal file created but not opened is still ours to delete.
    if (!journal.name.empty()) ForceDeleteFile(journal.name.c_str());
    journal.name.clear();
    return;
  }
  char saved[kPathLimit];
  const uint32_t n = platform::CurrentFolder(saved, sizeof(saved));
  const bool have_saved = n != 0 && n < sizeof(saved);
  journal.file.Seek(0, platform::Origin::kBegin);
  std::string base;
  std::string created;
  while (ReadRecord(journal.file, &base)) {
    const bool entered = platform::ChangeFolder(base.c_str());
    if (!ReadRecord(journal.file, &created)) break;
    if (entered) RemoveEmptyTopFolder(created.c_str());
  }
  if (have_saved) platform::ChangeFolder(saved);
  journal.file.Close();
  ForceDeleteFile(journal.name.c_str());
  journal.name.clear();
}

void RemoveEmptyFolders(const char* path) {
  if (path == nullptr || path[0] == '\0') return;
  RemoveEmptyFoldersAt(path, 0);
}

void RemoveEmptyTopFolder(const char* relative_path) {
  if (relative_path == nullptr) return;
  const char* slash = FindFirstBackslash(relative_path);
  const std::string first =
      slash ? std::string(relative_path, slash) : std::string(relative_path);
  RemoveEmptyFolders(first.c_str());
}

}  // namespace gp
