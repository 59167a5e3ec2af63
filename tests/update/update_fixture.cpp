#include "update_fixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>

#include "app/package_loader.h"
#include "base/endian.h"
#include "base/texts.h"
#include "cfb/cfb_writer.h"
#include "codec/crc32.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "update/package_tables.h"

namespace gp::test {

std::string FailureLine() { return std::string(kCaptionUtf8) + ": " + kFailureTextUtf8; }
std::string MissingLine() { return std::string(kCaptionUtf8) + ": " + kMissingTextUtf8; }
std::string DiskFullLine() { return std::string(kCaptionUtf8) + ": " + Utf8(texts::kTextDiskFull); }

builder::HeaderDescription MakeHeader(int generations, uint32_t version_check, uint32_t file_removal) {
  builder::HeaderDescription desc;
  desc.version_check = version_check;
  desc.file_removal = file_removal;
  desc.caption = Cp932(kCaptionUtf8);
  desc.comment = Cp932("アップデート");
  for (int g = 0; g < generations; ++g) {
    builder::GenerationDescription generation;
    generation.name = Cp932(std::to_string(g + 1) + "世代");
    desc.generations.push_back(generation);
  }
  return desc;
}

void SetRootFolder(char* buffer, const std::string& cp932) {
  ASSERT_LT(cp932.size(), 260u);
  std::memset(buffer, 0, 260);
  std::memcpy(buffer, cp932.data(), cp932.size());
}

void InstallPackage(PackageTables& p, const builder::HeaderDescription& desc,
                    const std::string& destination) {
  ASSERT_EQ(builder::CheckHeader(desc), "");
  p.Reset();
  ASSERT_TRUE(AllocateTextBuffers(p));
  const std::vector<uint8_t> header = builder::WriteHeader(desc);
  p.header_block.reset(new uint8_t[header.size()]);
  std::memcpy(p.header_block.get(), header.data(), header.size());
  p.header_length = static_cast<uint32_t>(header.size());
  ASSERT_EQ(ParseHeaderBlock(p), HeaderStatus::kOk);
  const std::pair<TextSlot, const char*> texts[] = {
      {kSlotFailureText, kFailureTextUtf8},
      {kSlotMissingFileText, kMissingTextUtf8},
      {kSlotMessageCaption, kCaptionUtf8},
  };
  for (const auto& [slot, utf8] : texts) {
    const std::string cp932 = Cp932(utf8);
    std::memset(p.Text(slot), 0, 256);
    std::memcpy(p.Text(slot), cp932.data(), cp932.size());
  }
  SetRootFolder(p.destination_folder.get(), destination);
}

void InstallWorkDocfile(WorkDocfileState& work_docfile, const TempDir& dir,
                        const std::map<std::string, std::vector<uint8_t>>& streams) {
  cfb::CompoundFileWriter writer;
  std::map<std::string, int> storages;  // storage path -> id
  for (const auto& [path, bytes] : streams) {
    int parent = cfb::CompoundFileWriter::kRoot;
    std::string prefix;
    size_t start = 0;
    for (;;) {
      const size_t cut = path.find('\\', start);
      std::u16string name;
      ASSERT_TRUE(platform::Cp932ToUtf16(path.substr(start, cut - start), &name));
      if (cut == std::string::npos) {
        ASSERT_EQ(writer.AddStreamBytes(parent, name, bytes), cfb::Status::kOk) << path;
        break;
      }
      prefix += path.substr(start, cut - start) + "\\";
      auto found = storages.find(prefix);
      if (found == storages.end()) {
        int id = 0;
        ASSERT_EQ(writer.AddStorage(parent, name, &id), cfb::Status::kOk) << path;
        found = storages.emplace(prefix, id).first;
      }
      parent = found->second;
      start = cut + 1;
    }
  }
  std::vector<uint8_t> file;
  ASSERT_EQ(writer.WriteToVector(&file), cfb::Status::kOk);
  // The docfile is held open exclusively: let go of the previous one before replacing it.
  work_docfile.DestroyAccess();
  WriteBytes(dir / "work.cfb", file);
  auto* access = new DocfileAccess();
  work_docfile.access = access;
  ASSERT_TRUE(access->OpenDocfile(dir.Program("work.cfb").c_str()));
}

uint32_t Crc(const std::vector<uint8_t>& bytes) {
  return Crc32Update(0, bytes.data(), static_cast<int64_t>(bytes.size()));
}

std::vector<uint8_t> Bytes(const std::string& text) {
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::vector<std::string> JournalRecords(FolderJournalState& journal) {
  std::vector<std::string> records;
  platform::File& file = journal.file;
  if (!file.IsOpen()) return records;
  uint64_t end = 0;
  EXPECT_TRUE(file.Seek(0, platform::Origin::kEnd, &end));
  EXPECT_TRUE(file.Seek(0, platform::Origin::kBegin));
  std::vector<uint8_t> bytes(end);
  uint32_t done = 0;
  EXPECT_TRUE(file.Read(bytes.data(), static_cast<uint32_t>(end), &done));
  EXPECT_EQ(done, end);
  EXPECT_TRUE(file.Seek(0, platform::Origin::kEnd));
  size_t pos = 0;
  while (pos + 4 <= bytes.size()) {
    const uint32_t length = LoadU32(bytes.data() + pos);
    if (pos + 4 + length + 1 > bytes.size()) {
      ADD_FAILURE() << "journal record cut short";
      break;
    }
    records.emplace_back(reinterpret_cast<const char*>(bytes.data() + pos + 4), length);
    EXPECT_EQ(bytes[pos + 4 + length], 0) << "record terminator";
    pos += 4 + length + 1;
  }
  EXPECT_EQ(pos, bytes.size());
  return records;
}

std::tm LocalWriteTime(const std::filesystem::path& path) {
  const auto file_time = std::filesystem::last_write_time(path);
  const auto system_time = std::chrono::file_clock::to_sys(file_time);
  const std::time_t seconds = std::chrono::system_clock::to_time_t(
      std::chrono::time_point_cast<std::chrono::system_clock::duration>(system_time));
  std::tm fields = *std::localtime(&seconds);
  return fields;
}

}  // namespace gp::test
