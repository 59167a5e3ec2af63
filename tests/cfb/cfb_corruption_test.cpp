// Damaged compound files, made from valid ones: every case ends in a clean error (or, where the
// damage touches nothing the reader relies on, in streams of their stated sizes), never in a
// crash, a hang or a read outside the file.
#include <gtest/gtest.h>

#include <functional>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"
#include "cfb_test_files.h"

namespace gp::cfb {
namespace {

using testing::AddStreams;
using testing::PatternBytes;
using testing::ReadAllStreams;
using testing::StreamMap;

std::vector<uint8_t> MakeFile(const StreamMap& tree, int version = 3) {
  CompoundFileWriter writer(version);
  EXPECT_EQ(AddStreams(&writer, tree), Status::kOk);
  std::vector<uint8_t> file;
  EXPECT_EQ(writer.WriteToVector(&file), Status::kOk);
  return file;
}

StreamMap SmallTree() {
  StreamMap tree;
  tree["0/DiffOption2.dat"] = PatternBytes(200, 1);
  tree["1/list.dat"] = PatternBytes(54, 2);
  tree["1/_/0.dif"] = PatternBytes(5000, 3);
  tree["1/_/1.dif"] = PatternBytes(0, 4);
  tree["big"] = PatternBytes(9000, 5);
  return tree;
}

// Offsets of the parts of a version 3 file, from its header.
struct Layout {
  uint32_t sector_size = 512;
  uint32_t first_dir = 0;
  uint32_t first_fat = 0;
  uint32_t first_mini_fat = 0;
  size_t Offset(uint32_t sector) const { return (static_cast<size_t>(sector) + 1) * sector_size; }
  size_t FatEntry(uint32_t sector) const { return Offset(first_fat) + 4 * sector; }
};

Layout ReadLayout(const std::vector<uint8_t>& file) {
  Layout l;
  l.sector_size = 1u << LoadU16(file.data() + kHeaderSectorShift);
  l.first_dir = LoadU32(file.data() + kHeaderFirstDirectorySector);
  l.first_fat = LoadU32(file.data() + kHeaderDifat);
  l.first_mini_fat = LoadU32(file.data() + kHeaderFirstMiniFatSector);
  return l;
}

// Offset of the directory entry with that name (ASCII), in the first directory sector.
size_t EntryOffset(const std::vector<uint8_t>& file, const char* name) {
  const Layout l = ReadLayout(file);
  for (size_t at = l.Offset(l.first_dir); at + kEntrySize <= file.size(); at += kEntrySize) {
    bool same = true;
    for (size_t i = 0;; ++i) {
      const uint16_t unit = LoadU16(file.data() + at + 2 * i);
      if (unit != static_cast<uint8_t>(name[i])) {
        same = false;
        break;
      }
      if (name[i] == 0) break;
    }
    if (same) return at;
  }
  ADD_FAILURE() << "no entry " << name;
  return 0;
}

Status OpenAndFind(const std::vector<uint8_t>& file, const std::vector<std::u16string>& path,
                   std::vector<uint8_t>* data) {
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  Status status = reader.Open(&source);
  if (status != Status::kOk) return status;
  uint32_t node = CompoundFileReader::kRootEntry;
  for (const std::u16string& name : path) {
    status = reader.FindChild(node, name, &node);
    if (status != Status::kOk) return status;
  }
  StreamReader stream;
  status = reader.OpenStream(node, &stream);
  if (status != Status::kOk) return status;
  data->resize(static_cast<size_t>(stream.size()));
  size_t done = 0;
  status = stream.Read(data->data(), data->size(), &done);
  if (status == Status::kOk && done != data->size()) return Status::kBadChain;
  return status;
}

TEST(Corruption, EveryStructuralByteChangedGivesErrorOrConsistentStreams) {
  const std::vector<uint8_t> valid = MakeFile(SmallTree());
  const Layout l = ReadLayout(valid);
  std::vector<size_t> positions;
  for (size_t i = 0; i < kHeaderDifat + 8; ++i) positions.push_back(i);
  for (size_t i = 0; i < l.sector_size; ++i) positions.push_back(l.Offset(l.first_fat) + i);
  for (size_t i = 0; i < 64; ++i) positions.push_back(l.Offset(l.first_mini_fat) + i);
  for (size_t i = 0; i < l.sector_size * 2; ++i) positions.push_back(l.Offset(l.first_dir) + i);
  int errors = 0;
  int runs = 0;
  for (size_t pos : positions) {
    ASSERT_LT(pos, valid.size());
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0xFF}, static_cast<uint8_t>(valid[pos] ^ 0x01),
                          }) {
      if (value == valid[pos]) continue;
      std::vector<uint8_t> file = valid;
      file[pos] = value;
      StreamMap streams;
      // ReadAllStreams itself checks that each stream delivered exactly its stated size.
      const Status status = ReadAllStreams(file, &streams);
      ++runs;
      if (status != Status::kOk) ++errors;
    }
  }
  // Most structural bytes matter: signature, versions, shifts, sector numbers, links.
  EXPECT_GT(errors, runs / 10) << errors << " errors in " << runs << " runs";
}

TEST(Corruption, TruncatedFilesNeverReadOutside) {
  const std::vector<uint8_t> valid = MakeFile(SmallTree());
  int errors = 0;
  for (size_t cut = 0; cut < valid.size(); cut += 97) {
    std::vector<uint8_t> file(valid.begin(), valid.begin() + static_cast<long>(cut));
    file.shrink_to_fit();  // so that ASan sees any read past the end
    StreamMap streams;
    if (ReadAllStreams(file, &streams) != Status::kOk) ++errors;
  }
  EXPECT_GT(errors, 0);
}

TEST(Corruption, DirectoryChainPointingAtItself) {
  std::vector<uint8_t> file = MakeFile(SmallTree());
  const Layout l = ReadLayout(file);
  // The small tree's directory spans more than one sector: make its first link to itself.
  StoreU32(file.data() + l.FatEntry(l.first_dir), l.first_dir);
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  EXPECT_EQ(reader.Open(&source), Status::kBadChain);
}

TEST(Corruption, StreamChainsPointingAtThemselves) {
  {
    std::vector<uint8_t> file = MakeFile(SmallTree());
    const Layout l = ReadLayout(file);
    const uint32_t start = LoadU32(file.data() + EntryOffset(file, "big") + kEntryStartSector);
    StoreU32(file.data() + l.FatEntry(start), start);
    std::vector<uint8_t> data;
    EXPECT_EQ(OpenAndFind(file, {u"big"}, &data), Status::kBadChain);
    StreamMap streams;
    EXPECT_EQ(ReadAllStreams(file, &streams), Status::kBadChain);
  }
  {
    std::vector<uint8_t> file = MakeFile(SmallTree());
    const Layout l = ReadLayout(file);
    const uint32_t start =
        LoadU32(file.data() + EntryOffset(file, "DiffOption2.dat") + kEntryStartSector);
    StoreU32(file.data() + l.Offset(l.first_mini_fat) + 4 * start, start);
    std::vector<uint8_t> data;
    EXPECT_EQ(OpenAndFind(file, {u"0", u"DiffOption2.dat"}, &data), Status::kBadChain);
  }
}

// The check made before another reader (ole32) is handed a file: the same refusals as reading
// every stream, without reading their data.
TEST(Corruption, CheckEveryStreamRefusesLoopsInTheTreeAndInChains) {
  const std::vector<uint8_t> valid = MakeFile(SmallTree());
  const Layout l = ReadLayout(valid);
  const size_t list = EntryOffset(valid, "list.dat");
  const uint32_t list_id =
      static_cast<uint32_t>((list - l.Offset(l.first_dir)) / kEntrySize);
  std::vector<uint8_t> sibling = valid;
  StoreU32(sibling.data() + list + kEntryLeft, list_id);
  std::vector<uint8_t> chain = valid;
  const uint32_t start = LoadU32(chain.data() + EntryOffset(chain, "big") + kEntryStartSector);
  StoreU32(chain.data() + l.FatEntry(start), start);
  std::vector<uint8_t> mini_chain = valid;
  const uint32_t mini_start =
      LoadU32(mini_chain.data() + EntryOffset(mini_chain, "DiffOption2.dat") + kEntryStartSector);
  StoreU32(mini_chain.data() + l.Offset(l.first_mini_fat) + 4 * mini_start, mini_start);
  struct Case {
    const std::vector<uint8_t>* file;
    Status expected;
  };
  for (const Case& c : {Case{&valid, Status::kOk}, Case{&sibling, Status::kBadDirectory},
                        Case{&chain, Status::kBadChain}, Case{&mini_chain, Status::kBadChain}}) {
    MemoryByteSource source(c.file->data(), c.file->size());
    CompoundFileReader reader;
    ASSERT_EQ(reader.Open(&source), Status::kOk);
    EXPECT_EQ(reader.CheckEveryStream(), c.expected);
  }
}

TEST(Corruption, SizesBeyondTheFile) {
  for (const char* name : {"big", "DiffOption2.dat"}) {
    for (uint32_t size : {4000u, 1u << 20, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
      std::vector<uint8_t> file = MakeFile(SmallTree());
      StoreU32(file.data() + EntryOffset(file, name) + kEntrySize64, size);
      StreamMap streams;
      const Status status = ReadAllStreams(file, &streams);
      if (size >= (1u << 20)) {
        EXPECT_NE(status, Status::kOk) << name << " " << size;
      }
    }
  }
  // The mini stream itself (the root's size) beyond the file.
  std::vector<uint8_t> file = MakeFile(SmallTree());
  StoreU32(file.data() + EntryOffset(file, "Root Entry") + kEntrySize64, 0x10000000);
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  EXPECT_EQ(reader.Open(&source), Status::kTooLarge);
}

TEST(Corruption, DirectoryCyclesAreFound) {
  const std::vector<uint8_t> valid = MakeFile(SmallTree());
  const size_t list = EntryOffset(valid, "list.dat");
  const size_t storage1 = EntryOffset(valid, "1");
  const Layout l = ReadLayout(valid);
  const uint32_t storage1_id =
      static_cast<uint32_t>((storage1 - l.Offset(l.first_dir)) / kEntrySize);
  const uint32_t list_id = static_cast<uint32_t>((list - l.Offset(l.first_dir)) / kEntrySize);
  struct Case {
    size_t offset;
    uint32_t value;
  };
  for (const Case& c : {Case{list + kEntryLeft, list_id}, Case{list + kEntryRight, list_id},
                        Case{list + kEntryLeft, storage1_id},
                        Case{storage1 + kEntryChild, storage1_id},
                        Case{storage1 + kEntryChild, 0u},
                        Case{list + kEntryRight, 5000u}}) {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + c.offset, c.value);
    StreamMap streams;
    EXPECT_EQ(ReadAllStreams(file, &streams), Status::kBadDirectory)
        << c.offset << " " << c.value;
    // A look-up for a name that is not there must end too.
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    ASSERT_EQ(reader.Open(&source), Status::kOk);
    uint32_t storage = 0, child = 0;
    if (reader.FindChild(CompoundFileReader::kRootEntry, u"1", &storage) == Status::kOk) {
      EXPECT_NE(reader.FindChild(storage, u"nothing", &child), Status::kOk);
    }
  }
}

TEST(Corruption, BadNameLengthsAndRootType) {
  for (uint16_t length : {uint16_t{0}, uint16_t{1}, uint16_t{3}, uint16_t{66}, uint16_t{0xFFFF}}) {
    std::vector<uint8_t> file = MakeFile(SmallTree());
    StoreU16(file.data() + EntryOffset(file, "big") + kEntryNameLength, length);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), Status::kBadDirectory) << length;
  }
  std::vector<uint8_t> file = MakeFile(SmallTree());
  file[EntryOffset(file, "Root Entry") + kEntryType] = kTypeStorage;
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  EXPECT_EQ(reader.Open(&source), Status::kBadDirectory);
}

TEST(Corruption, HeaderSectorNumbersOutsideTheFile) {
  const std::vector<uint8_t> valid = MakeFile(SmallTree());
  struct Case {
    size_t offset;
    uint32_t value;
    Status expected;
  };
  for (const Case& c : {Case{kHeaderDifat, 100000, Status::kBadSector},
                        Case{kHeaderDifat, kFreeSector, Status::kBadSector},
                        Case{kHeaderFirstDirectorySector, 100000, Status::kBadSector},
                        Case{kHeaderFirstDirectorySector, kEndOfChain, Status::kBadDirectory},
                        Case{kHeaderFirstMiniFatSector, 100000, Status::kBadSector},
                        Case{kHeaderFatSectors, 0, Status::kBadHeader},
                        Case{kHeaderFatSectors, 0xFFFFFFFF, Status::kBadHeader},
                        Case{kHeaderMiniStreamCutoff, 512, Status::kBadHeader},
                        Case{kHeaderSignature, 0, Status::kNotCompoundFile}}) {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + c.offset, c.value);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), c.expected) << c.offset;
  }
  for (size_t field : {kHeaderMajorVersion, kHeaderSectorShift, kHeaderByteOrder,
                       kHeaderMiniSectorShift}) {
    std::vector<uint8_t> file = valid;
    StoreU16(file.data() + field, 4);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), Status::kBadHeader) << field;
  }
}

TEST(Corruption, DifatChainLoopsAndEndsEarly) {
  // More than 109 + 127 FAT sectors: two DIFAT sectors.
  StreamMap tree;
  tree["big"] = PatternBytes(16u << 20, 11);
  const std::vector<uint8_t> valid = MakeFile(tree);
  ASSERT_EQ(LoadU32(valid.data() + kHeaderDifatSectors), 2u);
  const uint32_t first = LoadU32(valid.data() + kHeaderFirstDifatSector);
  const size_t next_at = (static_cast<size_t>(first) + 2) * 512 - 4;
  {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + next_at, first);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), Status::kBadChain);
  }
  {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + next_at, kEndOfChain);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), Status::kBadChain);
  }
  {
    std::vector<uint8_t> file = valid;
    StoreU32(file.data() + kHeaderFirstDifatSector, 0x7FFFFFFF);
    MemoryByteSource source(file.data(), file.size());
    CompoundFileReader reader;
    EXPECT_EQ(reader.Open(&source), Status::kBadSector);
  }
}

}  // namespace
}  // namespace gp::cfb
