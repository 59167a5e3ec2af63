// The per-entry file operations: whole files, patches, stream extraction, folder creation with
// its journal, time stamps and attributes, and every failure with its message, its result and
// what it leaves on disk.
#include "update/file_operations.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/compact_diff_encoder.h"
#include "format/compact.h"
#include "platform/platform.h"
#include "storage/docfile_access.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "update/compact_patch.h"
#include "stream_builders.h"
#include "update/package_tables.h"
#include "update_fixture.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Bytes;
using test::Crc;
using test::DiffBytes;
using test::StampDescription;
using Transcript = std::vector<std::string>;

std::vector<uint8_t> Random(size_t size, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(size);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

class FileOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Install(1);
    OpenFolderJournal(context().journal);
    ASSERT_TRUE(context().journal.file.IsOpen());
  }
  void TearDown() override { ui_.Renew(); }

  void Install(uint32_t version_check) {
    test::InstallPackage(context().package, test::MakeHeader(2, version_check), dir_.Program());
  }

  // A program path below the test folder; relative uses backslashes.
  std::string P(const std::string& relative) const {
    return relative.empty() ? dir_.Program() : dir_.Program() + "\\" + relative;
  }
  fs::path H(const std::string& relative) const { return dir_ / relative; }
  std::string Put(const std::string& relative, const std::vector<uint8_t>& bytes) const {
    fs::create_directories(H(relative).parent_path());
    test::WriteBytes(H(relative), bytes);
    return P(relative);
  }

  // The names of temporary "tmp" files left in the temporary folder.
  std::vector<std::string> TmpFiles() const {
    std::vector<std::string> left;
    for (const std::string& name : temp_.Files()) {
      std::string lower = name;
      std::transform(lower.begin(), lower.end(), lower.begin(),
                     [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
      if (lower.rfind("tmp", 0) == 0) left.push_back(name);
    }
    return left;
  }

  // ApplyFileEntry, checking that its temporary file is gone afterwards.
  bool Apply(const std::string& old_path, const std::string& stream, const std::string& target,
             uint32_t crc) {
    const bool result =
        ApplyFileEntry(context(), old_path.c_str(), stream.c_str(), target.c_str(), crc);
    EXPECT_TRUE(TmpFiles().empty()) << "temporary file left: " << TmpFiles().front();
    return result;
  }

  bool Patch(const std::string& old_path, const std::string& target, uint32_t crc,
             const std::vector<uint8_t>& diff) {
    const std::string diff_path = Put("diff.bin", diff);
    return PatchFile(context(), old_path.c_str(), target.c_str(), crc, diff_path.c_str());
  }

  bool Whole(const std::string& target, const std::vector<uint8_t>& stream) {
    const std::string source = Put("whole.bin", stream);
    return WriteWholeFile(context(), target.c_str(), source.c_str());
  }

  Transcript Messages() { return ui_.Transcript(); }

  RunContext& context() { return ui_.context(); }

  test::TempFolderScope temp_;
  test::ScriptedRun ui_;
  test::TempDir dir_;
  test::TempDir work_;
};

void ExpectStamp(const fs::path& path, int year, int month, int day, int hour, int minute,
                 int second) {
  const std::tm t = test::LocalWriteTime(path);
  EXPECT_EQ(t.tm_year + 1900, year);
  EXPECT_EQ(t.tm_mon + 1, month);
  EXPECT_EQ(t.tm_mday, day);
  EXPECT_EQ(t.tm_hour, hour);
  EXPECT_EQ(t.tm_min, minute);
  EXPECT_EQ(t.tm_sec, second);
}

// ---------------------------------------------------------------------------------------------
// Patching

TEST_F(FileOperationsTest, TheWorkedExampleGivesCDExyAB) {
  const std::vector<uint8_t> diff = {0xD3, 0x07, 0x0B, 0x0C, 0x0F, 0x25, 0x34, 0x00, 0x20, 0x00,
                                     0x00, 0x00,                          //
                                     0x03, 0x80, 0x02, 0x00, 0x00, 0x00,  //
                                     0x02, 0x00, 0x78, 0x79,              //
                                     0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00};
  ASSERT_EQ(diff.size(), 32u);
  const std::string old_path = Put("old.txt", Bytes("ABCDEFGH"));
  ASSERT_TRUE(Patch(old_path, P("new.txt"), Crc(Bytes("ABCDEFGH")), diff));
  EXPECT_EQ(test::ReadBytes(H("new.txt")), Bytes("CDExyAB"));
  ExpectStamp(H("new.txt"), 2003, 11, 12, 15, 37, 52);
  EXPECT_EQ(platform::ReadAttributes(P("new.txt").c_str()) & platform::kAttrReadOnly, 0u);
  EXPECT_EQ(test::ReadBytes(H("old.txt")), Bytes("ABCDEFGH")) << "the old file is only read";
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, TheHeadersAttributesAreGivenToTheTarget) {
  StampDescription stamp;
  stamp.attributes = platform::kAttrReadOnly | platform::kAttrArchive;
  const std::string old_path = Put("old.txt", Bytes("ABCDEFGH"));
  ASSERT_TRUE(Patch(old_path, P("new.txt"), Crc(Bytes("ABCDEFGH")),
                    DiffBytes(stamp).ShortCopy(8, 0).bytes()));
  EXPECT_NE(platform::ReadAttributes(P("new.txt").c_str()) & platform::kAttrReadOnly, 0u);
  ASSERT_TRUE(Whole(P("whole.txt"), test::WholeFileBytes(Bytes("w"), {1}, stamp)));
  EXPECT_NE(platform::ReadAttributes(P("whole.txt").c_str()) & platform::kAttrReadOnly, 0u);
  platform::WriteAttributes(P("new.txt").c_str(), platform::kAttrArchive);
  platform::WriteAttributes(P("whole.txt").c_str(), platform::kAttrArchive);
}

TEST_F(FileOperationsTest, CommandEdgeCases) {
  const std::vector<uint8_t> old = Random(100500, 1);
  const std::string old_path = Put("old.bin", old);
  const uint32_t crc = Crc(old);
  auto slice = [&](size_t offset, size_t length) {
    return std::vector<uint8_t>(old.begin() + static_cast<std::ptrdiff_t>(offset),
                                old.begin() + static_cast<std::ptrdiff_t>(offset + length));
  };

  // Exactly 12 bytes: an empty target with the header's time.
  ASSERT_TRUE(Patch(old_path, P("t1"), crc, DiffBytes().bytes()));
  EXPECT_TRUE(test::ReadBytes(H("t1")).empty());
  ExpectStamp(H("t1"), 2003, 11, 12, 15, 37, 52);

  // A literal run of length 0 appends nothing; the next command follows at once.
  ASSERT_TRUE(Patch(old_path, P("t2"), crc, DiffBytes().Literal("").Literal("ab").bytes()));
  EXPECT_EQ(test::ReadBytes(H("t2")), Bytes("ab"));

  // 0x803C at offset 0: the first 60 bytes.
  ASSERT_TRUE(Patch(old_path, P("t3"), crc, DiffBytes().Word(0x803C).U32(0).bytes()));
  EXPECT_EQ(test::ReadBytes(H("t3")), slice(0, 60));

  // A long copy of 100,000 bytes (pieces of 32,767, 32,767, 32,767 and 1,699).
  ASSERT_TRUE(Patch(old_path, P("t4"), crc, DiffBytes().LongCopy(500, 100000).bytes()));
  EXPECT_EQ(test::ReadBytes(H("t4")), slice(500, 100000));

  // Offsets going backwards and ranges copied twice are applied as written.
  ASSERT_TRUE(Patch(old_path, P("t5"), crc,
                    DiffBytes()
                        .ShortCopy(10, 90000)
                        .ShortCopy(10, 5)
                        .ShortCopy(10, 90000)
                        .LongCopy(5, 10)
                        .bytes()));
  std::vector<uint8_t> expected = slice(90000, 10);
  for (const auto& part : {slice(5, 10), slice(90000, 10), slice(5, 10)}) {
    expected.insert(expected.end(), part.begin(), part.end());
  }
  EXPECT_EQ(test::ReadBytes(H("t5")), expected);

  // The largest short copy and literal run, and a copy that ends exactly at the old file's end.
  const std::vector<uint8_t> literal = Random(32767, 9);
  ASSERT_TRUE(Patch(old_path, P("t6"), crc,
                    DiffBytes()
                        .ShortCopy(32767, 0)
                        .Literal(literal)
                        .ShortCopy(5, static_cast<uint32_t>(old.size() - 5))
                        .LongCopy(static_cast<uint32_t>(old.size()), 0)
                        .bytes()));
  expected = slice(0, 32767);
  expected.insert(expected.end(), literal.begin(), literal.end());
  const auto tail = slice(old.size() - 5, 5);
  expected.insert(expected.end(), tail.begin(), tail.end());
  EXPECT_EQ(test::ReadBytes(H("t6")), expected);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, RandomDiffsRebuildTheirTargets) {
  std::mt19937 random(20240607);
  for (int round = 0; round < 25; ++round) {
    SCOPED_TRACE(round);
    const size_t old_size = random() % 3 == 0 ? random() % 64 : random() % 70000;
    const std::vector<uint8_t> old = Random(old_size, static_cast<uint32_t>(round) + 100);
    const std::string old_path = Put("old.bin", old);
    DiffBytes diff;
    std::vector<uint8_t> expected;
    const int commands = static_cast<int>(random() % 40);
    for (int c = 0; c < commands; ++c) {
      const uint32_t kind = random() % 3;
      if (kind == 0 || old.empty()) {
        const std::vector<uint8_t> data =
            Random(random() % 3 == 0 ? random() % 40000 % 32768 : random() % 8, random());
        diff.Literal(data);
        expected.insert(expected.end(), data.begin(), data.end());
      } else {
        const uint32_t offset = static_cast<uint32_t>(random() % (old.size() + 1));
        const uint32_t room = static_cast<uint32_t>(old.size() - offset);
        if (kind == 1 && room > 0) {
          const uint16_t length =
              static_cast<uint16_t>(1 + random() % std::min<uint32_t>(room, 32767));
          diff.ShortCopy(length, offset);
          expected.insert(expected.end(), old.begin() + offset, old.begin() + offset + length);
        } else {
          const uint32_t length = room == 0 ? 0 : static_cast<uint32_t>(random() % (room + 1));
          diff.LongCopy(offset, length);
          expected.insert(expected.end(), old.begin() + offset, old.begin() + offset + length);
        }
      }
    }
    ASSERT_TRUE(
        Patch(old_path, P("target.bin"), old.empty() ? 0xFFFFFFFFu : Crc(old), diff.bytes()));
    ASSERT_EQ(test::ReadBytes(H("target.bin")), expected);
  }
  EXPECT_TRUE(Messages().empty());
}

// Compact diffs taken over the x86 branch filter: the program filters the old file's blocks as
// it reads them and turns the rebuilt bytes back. Calls (E8, near targets) every 16 bytes, over
// several blocks, and a new file that moved them and changed some.
TEST_F(FileOperationsTest, FilteredCompactDiffsRebuildTheirTargets) {
  // Calls every 16 bytes to places in the file, some of them across the insertion below, so
  // that both the filter and the address prediction change what the diff holds.
  std::vector<uint8_t> old = Random(3 * 65536 + 1234, 7);
  for (size_t i = 0; i + 5 <= old.size(); i += 16) {
    old[i] = 0xE8;
    const auto target = static_cast<uint32_t>((i * 7919) % old.size());
    StoreU32(&old[i + 1], target - static_cast<uint32_t>(i + 5));
  }
  std::vector<uint8_t> changed(old.begin(), old.begin() + 70000);
  const std::vector<uint8_t> inserted = Random(333, 8);
  changed.insert(changed.end(), inserted.begin(), inserted.end());
  changed.insert(changed.end(), old.begin() + 70000, old.end());
  for (size_t i = 1; i < changed.size(); i += 4099) changed[i] ^= 0x55;
  const std::string old_path = Put("old.bin", old);
  context().package.compact = true;
  for (const auto filter : {builder::CompactDiffFilter::kX86, builder::CompactDiffFilter::kX86Predict}) {
    for (const auto version : {builder::CompactDiffVersion::kRaw, builder::CompactDiffVersion::kCoded}) {
      const std::vector<uint8_t> diff =
          builder::EncodeCompactDiff(old, changed, {}, nullptr, nullptr, version, filter);
      ASSERT_TRUE(Patch(old_path, P("target.bin"), Crc(old), diff));
      EXPECT_EQ(test::ReadBytes(H("target.bin")), changed);
    }
  }
  EXPECT_TRUE(Messages().empty());
}

// The check made while a diff is extracted takes the stream in pieces of any size and refuses
// it when any byte of the header or a section is changed, or the stream is cut or longer.
TEST(CompactDiffCheckTest, TakesTheStreamInAnyPiecesAndRefusesDamage) {
  const std::vector<uint8_t> old = Random(20000, 3);
  std::vector<uint8_t> changed = old;
  for (size_t i = 5; i < changed.size(); i += 777) changed[i] ^= 0x21;
  changed.insert(changed.begin() + 9000, 50, 0x42);
  const std::vector<uint8_t> diff = builder::EncodeCompactDiff(
      old, changed, {}, nullptr, nullptr, builder::CompactDiffVersion::kRaw);
  auto check = [](const std::vector<uint8_t>& bytes, size_t piece, uint64_t size) {
    CompactDiffCheck c;
    c.Start(size);
    for (size_t at = 0; at < bytes.size(); at += piece) {
      c.Take(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    format::CompactDiffHeader header;
    return c.Passed(&header) && header.new_size == 20050;
  };
  for (const size_t piece : {size_t{1}, size_t{7}, size_t{61}, size_t{4096}, diff.size()}) {
    EXPECT_TRUE(check(diff, piece, diff.size())) << piece;
  }
  format::CompactDiffHeader header;
  ASSERT_TRUE(format::ParseCompactDiffHeader(diff.data(), diff.size(), diff.size(), &header));
  for (const uint64_t at : {uint64_t{14}, header.offset[0], header.offset[1] + 3, diff.size() - 1}) {
    std::vector<uint8_t> bad = diff;
    bad[at] ^= 0x10;
    EXPECT_FALSE(check(bad, 7, bad.size())) << at;
  }
  EXPECT_FALSE(check(std::vector<uint8_t>(diff.begin(), diff.end() - 1), 7, diff.size()));
  std::vector<uint8_t> longer = diff;
  longer.push_back(0);
  EXPECT_FALSE(check(longer, 7, diff.size()));
}

// An old file larger than the blocks kept in memory: copies that alternate between regions 64 MiB
// apart (the same cache slot), and copies across block boundaries, still take the right bytes.
TEST_F(FileOperationsTest, CopiesFromAnOldFileLargerThanTheCacheTakeTheRightBytes) {
  const size_t mib = size_t{1} << 20;
  std::vector<uint8_t> old(64 * mib + 3 * 65536 + 77);
  for (size_t i = 0; i < old.size(); ++i) {
    old[i] = static_cast<uint8_t>((static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15u) >> 56);
  }
  const std::string old_path = Put("big.bin", old);
  DiffBytes diff;
  std::vector<uint8_t> expected;
  auto copy = [&](size_t offset, uint16_t length) {
    diff.ShortCopy(length, static_cast<uint32_t>(offset));
    expected.insert(expected.end(), old.begin() + offset, old.begin() + offset + length);
  };
  for (int round = 0; round < 3; ++round) {
    copy(100, 5000);
    copy(64 * mib + 100, 5000);                // same slot as the block before
    copy(65536 - 10, 30);                       // across two blocks
    copy(64 * mib + 2 * 65536 - 3, 300);        // across two blocks near the end
    copy(old.size() - 77, 77);                  // the short last block
  }
  ASSERT_TRUE(Patch(old_path, P("target.bin"), Crc(old), diff.bytes()));
  EXPECT_EQ(test::ReadBytes(H("target.bin")), expected);
}

TEST_F(FileOperationsTest, WithoutTheVersionCheckMissingAndForeignOldFilesAreTolerated) {
  Install(0);
  const std::vector<uint8_t> diff = DiffBytes().Literal("new").bytes();
  // Missing: success, nothing written.
  EXPECT_TRUE(Patch(P("missing.txt"), P("t.new1"), 1234, diff));
  EXPECT_FALSE(fs::exists(H("t.new1")));
  EXPECT_TRUE(Patch("", P("t.new1"), 1234, diff)) << "an empty path counts as missing";
  EXPECT_FALSE(fs::exists(H("t.new1")));
  // Another checksum: success, the target is a copy of the old file.
  const std::string old_path = Put("old.txt", Bytes("someone else's version"));
  EXPECT_TRUE(Patch(old_path, P("t.new1"), Crc(Bytes("ours")), diff));
  EXPECT_EQ(test::ReadBytes(H("t.new1")), Bytes("someone else's version"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, WithTheVersionCheckMissingAndForeignOldFilesFail) {
  const std::vector<uint8_t> diff = DiffBytes().Literal("new").bytes();
  EXPECT_FALSE(Patch(P("missing.txt"), P("t.new1"), 1234, diff));
  EXPECT_FALSE(fs::exists(H("t.new1")));
  EXPECT_EQ(Messages(), Transcript{test::MissingLine()});
  const std::string old_path = Put("old.txt", Bytes("someone else's version"));
  EXPECT_FALSE(Patch(old_path, P("t.new1"), Crc(Bytes("ours")), diff));
  EXPECT_FALSE(fs::exists(H("t.new1")));
  EXPECT_EQ(Messages(), (Transcript{test::MissingLine(), test::FailureLine()}));
  // A folder where the old file should be has no checksum.
  fs::create_directories(H("folder"));
  EXPECT_FALSE(Patch(P("folder"), P("t.new1"), 1234, diff));
  EXPECT_EQ(Messages().size(), 3u);
  EXPECT_FALSE(fs::exists(H("t.new1")));
  // All boxes: message caption, OK, no owner.
  for (const auto& m : ui_->messages()) {
    EXPECT_EQ(m.type, ui::kMbOk);
    EXPECT_FALSE(m.owned);
  }
}

TEST_F(FileOperationsTest, ATargetThatCannotBeCreatedFailsWithNothingWritten) {
  const std::string old_path = Put("old.txt", Bytes("ABCDEFGH"));
  EXPECT_FALSE(Patch(old_path, P("no folder\\t.new1"), Crc(Bytes("ABCDEFGH")),
                     DiffBytes().Literal("x").bytes()));
  EXPECT_FALSE(fs::exists(H("no folder")));
  EXPECT_EQ(Messages(), Transcript{test::FailureLine()});
}

TEST_F(FileOperationsTest, ADiffWithoutItsTimeLeavesAnEmptyTarget) {
  const std::string old_path = Put("old.txt", Bytes("ABCDEFGH"));
  const uint32_t crc = Crc(Bytes("ABCDEFGH"));
  for (size_t size : {size_t{0}, size_t{5}, size_t{8}, size_t{11}}) {
    std::vector<uint8_t> cut = DiffBytes().bytes();
    cut.resize(size);
    EXPECT_FALSE(Patch(old_path, P("t.new1"), crc, cut)) << size;
    ASSERT_TRUE(fs::exists(H("t.new1")));
    EXPECT_TRUE(test::ReadBytes(H("t.new1")).empty());
  }
  EXPECT_EQ(Messages(), Transcript(4, test::FailureLine()));
}

TEST_F(FileOperationsTest, AFailingCommandLeavesWhatWasWrittenBefore) {
  const std::vector<uint8_t> old = Bytes("ABCDEFGH");
  const std::string old_path = Put("old.txt", old);
  struct Case {
    const char* why;
    std::vector<uint8_t> diff;
  };
  auto prefix = [] { return DiffBytes().Literal("ok").ShortCopy(2, 0); };  // writes "okAB"
  auto cut = [](std::vector<uint8_t> bytes, size_t drop) {
    bytes.resize(bytes.size() - drop);
    return bytes;
  };
  const Case cases[] = {
      {"half a command word", cut(prefix().Word(2).bytes(), 1)},
      {"literal data cut short", cut(prefix().Literal("xyz").bytes(), 1)},
      {"short-copy offset cut short", cut(prefix().ShortCopy(1, 0).bytes(), 2)},
      {"long-copy operands cut short", cut(prefix().LongCopy(0, 1).bytes(), 3)},
      {"short-copy offset one past the old file", prefix().ShortCopy(1, 9).bytes()},
      {"short copy from the old file's end", prefix().ShortCopy(1, 8).bytes()},
      {"short copy reaching past the old file", prefix().ShortCopy(4, 6).bytes()},
      {"long copy reaching past the old file", prefix().LongCopy(4, 5).bytes()},
      {"long copy from far beyond", prefix().LongCopy(0xFFFFFFF0u, 0x20).bytes()},
      {"long copy of 4 GiB", prefix().LongCopy(0, 0xFFFFFFFFu).bytes()},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Patch(old_path, P("t.new1"), Crc(old), c.diff)) << c.why;
    EXPECT_EQ(test::ReadBytes(H("t.new1")), Bytes("okAB")) << c.why;
  }
  EXPECT_EQ(Messages(), Transcript(std::size(cases), test::FailureLine()));
}

TEST_F(FileOperationsTest, ADateTheCalendarRejectsKeepsTheCurrentTime) {
  StampDescription bad;
  bad.month = 13;
  const std::string old_path = Put("old.txt", Bytes("ABCDEFGH"));
  const auto before = fs::file_time_type::clock::now() - std::chrono::minutes(2);
  ASSERT_TRUE(
      Patch(old_path, P("p.txt"), Crc(Bytes("ABCDEFGH")), DiffBytes(bad).ShortCopy(3, 0).bytes()));
  ASSERT_TRUE(Whole(P("w.txt"), test::WholeFileBytes(Bytes("abc"), {3}, bad)));
  EXPECT_EQ(test::ReadBytes(H("p.txt")), Bytes("ABC"));
  EXPECT_EQ(test::ReadBytes(H("w.txt")), Bytes("abc"));
  EXPECT_GT(fs::last_write_time(H("p.txt")), before);
  EXPECT_GT(fs::last_write_time(H("w.txt")), before);
  bad.month = 2;
  bad.day = 30;
  ASSERT_TRUE(Whole(P("w2.txt"), test::WholeFileBytes(Bytes("abc"), {3}, bad)));
  EXPECT_GT(fs::last_write_time(H("w2.txt")), before);
  EXPECT_TRUE(Messages().empty());
}

// ---------------------------------------------------------------------------------------------
// Whole files

TEST_F(FileOperationsTest, WholeFilesAreTheirBlocksInOrder) {
  const std::vector<uint8_t> content = Random(32772, 3);
  StampDescription stamp;
  stamp.year = 2019;
  stamp.month = 6;
  stamp.day = 30;
  stamp.hour = 23;
  stamp.minute = 59;
  stamp.second = 58;
  stamp.millisecond = 250;
  ASSERT_TRUE(Whole(P("big.bin"), test::WholeFileBytes(content, {32767, 5}, stamp)));
  EXPECT_EQ(test::ReadBytes(H("big.bin")), content);
  ExpectStamp(H("big.bin"), 2019, 6, 30, 23, 59, 58);
  // Empty blocks are allowed; exactly 12 bytes give an empty file.
  ASSERT_TRUE(Whole(P("small.bin"), test::WholeFileBytes(Bytes("abc"), {0, 1, 0, 2, 0})));
  EXPECT_EQ(test::ReadBytes(H("small.bin")), Bytes("abc"));
  ASSERT_TRUE(Whole(P("empty.bin"), test::WholeFileBytes({}, {})));
  EXPECT_TRUE(test::ReadBytes(H("empty.bin")).empty());
  ExpectStamp(H("empty.bin"), 2003, 11, 12, 15, 37, 52);
  // An existing target is replaced.
  ASSERT_TRUE(Whole(P("small.bin"), test::WholeFileBytes(Bytes("z"), {1})));
  EXPECT_EQ(test::ReadBytes(H("small.bin")), Bytes("z"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, MalformedWholeFileStreamsFail) {
  struct Case {
    const char* why;
    std::vector<uint8_t> stream;
    std::vector<uint8_t> left;
  };
  const std::vector<uint8_t> big = Random(32768, 5);
  std::vector<uint8_t> half_length = test::WholeFileBytes(Bytes("ab"), {2});
  half_length.push_back(1);
  const Case cases[] = {
      {"a stream shorter than its header", std::vector<uint8_t>(7, 0), {}},
      {"a block longer than the transfer buffer", test::WholeFileBytes(big, {32768}), {}},
      {"a block running past the stream", test::WholeFileBytes(Bytes("ab"), {2, 9}), Bytes("ab")},
      {"half a block length", half_length, Bytes("ab")},
  };
  for (const Case& c : cases) {
    EXPECT_FALSE(Whole(P("t.new1"), c.stream)) << c.why;
    EXPECT_EQ(test::ReadBytes(H("t.new1")), c.left) << c.why;
  }
  EXPECT_EQ(Messages(), Transcript(std::size(cases), test::FailureLine()));
}

TEST_F(FileOperationsTest, AWholeFileTargetThatCannotBeCreatedLeavesNothing) {
  EXPECT_FALSE(Whole(P("no folder\\t.new1"), test::WholeFileBytes(Bytes("x"), {1})));
  EXPECT_FALSE(fs::exists(H("no folder")));
  EXPECT_EQ(Messages(), Transcript{test::FailureLine()});
}

// ---------------------------------------------------------------------------------------------
// Streams out of the work docfile

TEST_F(FileOperationsTest, StreamsAreCopiedWhole) {
  const std::vector<uint8_t> big = Random(300000, 4);
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\big", big}, {"1\\_\\empty", {}}, {"1\\_\\small", Bytes("s")}});
  ASSERT_TRUE(ExtractStreamToFile(context(), "1\\_\\big", P("big").c_str()));
  EXPECT_EQ(test::ReadBytes(H("big")), big);
  test::WriteBytes(H("empty"), Bytes("old content"));
  ASSERT_TRUE(ExtractStreamToFile(context(), "1\\_\\empty", P("empty").c_str()));
  EXPECT_TRUE(test::ReadBytes(H("empty")).empty()) << "truncated";
  ASSERT_TRUE(ExtractStreamToFile(context(), "1\\_\\small", P("small").c_str()));
  EXPECT_EQ(test::ReadBytes(H("small")), Bytes("s"));
  EXPECT_FALSE(context().work_docfile.access->has_stream());
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, StreamExtractionFailures) {
  test::InstallWorkDocfile(context().work_docfile, work_, {{"1\\_\\s", Bytes("data")}});
  // A missing stream.
  EXPECT_FALSE(ExtractStreamToFile(context(), "1\\_\\missing", P("out").c_str()));
  EXPECT_FALSE(ExtractStreamToFile(context(), "9\\_\\s", P("out").c_str()));
  EXPECT_EQ(Messages(), Transcript(2, test::FailureLine()));
  // A file that cannot be opened.
  EXPECT_FALSE(ExtractStreamToFile(context(), "1\\_\\s", P("no folder\\out").c_str()));
  EXPECT_EQ(Messages().back(), test::DiskFullLine());
  EXPECT_FALSE(context().work_docfile.access->has_stream());
  // No work docfile.
  context().work_docfile.DestroyAccess();
  EXPECT_FALSE(ExtractStreamToFile(context(), "1\\_\\s", P("out").c_str()));
  EXPECT_EQ(Messages().back(), test::FailureLine());
}

// ---------------------------------------------------------------------------------------------
// Whole entries

TEST_F(FileOperationsTest, AnEntryWithANewFileCreatesItsFoldersAndJournalsThem) {
  fs::create_directories(H("A"));
  const std::vector<uint8_t> content = Random(1000, 6);
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\A\\B\\C\\f.dat", test::WholeFileBytes(content, {600, 400})}});
  ASSERT_TRUE(Apply("", "1\\_\\A\\B\\C\\f.dat", P("A\\B\\C\\f.dat.new1"), 0));
  EXPECT_EQ(test::ReadBytes(H("A/B/C/f.dat.new1")), content);
  EXPECT_EQ(test::JournalRecords(context().journal), (std::vector<std::string>{P("A"), "B\\C"}));
  // A second file in the same folders journals nothing.
  ASSERT_TRUE(Apply("", "1\\_\\A\\B\\C\\f.dat", P("A\\B\\C\\g.dat.new1"), 0));
  EXPECT_EQ(test::JournalRecords(context().journal).size(), 2u);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, AnEntryWithADiffPatchesTheOldFile) {
  const std::string old_path = Put("MAIN.EXE", Bytes("ABCDEFGH"));
  test::InstallWorkDocfile(
      context().work_docfile, work_,
      {{"1\\_\\0.dif", DiffBytes().ShortCopy(3, 2).Literal("xy").LongCopy(0, 2).bytes()}});
  ASSERT_TRUE(Apply(old_path, "1\\_\\0.dif", P("MAIN.EXE.new1"), Crc(Bytes("ABCDEFGH"))));
  EXPECT_EQ(test::ReadBytes(H("MAIN.EXE.new1")), Bytes("CDExyAB"));
  EXPECT_TRUE(test::JournalRecords(context().journal).empty()) << "the folder existed";
  // A whole-file entry never looks at the old path.
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\1.dat", test::WholeFileBytes(Bytes("new"), {3})}});
  ASSERT_TRUE(Apply(P("does not exist"), "1\\_\\1.dat", P("N.new1"), 0));
  EXPECT_EQ(test::ReadBytes(H("N.new1")), Bytes("new"));
  EXPECT_TRUE(Messages().empty());
}

// An unchanged file's stage file is the old file under a second name; its entry's time is given
// later (the commit's stamp step), and nothing written to a stage file reaches the file it
// shares.
TEST_F(FileOperationsTest, AnUnchangedFileIsLinkedAndNeverWrittenThrough) {
  const std::string old_path = Put("MAIN.EXE", Bytes("ABCDEFGH"));
  StampDescription stamp;
  stamp.year = 2021;
  const std::vector<uint8_t> identity = DiffBytes(stamp).ShortCopy(8, 0).bytes();
  test::InstallWorkDocfile(context().work_docfile, work_, {{"1\\_\\0.dif", identity}});
  std::array<uint8_t, 12> header{};
  EXPECT_FALSE(LinkUnchangedFile(context(), old_path.c_str(), "1\\_\\0.dif",
                                 P("MAIN.EXE.new1").c_str(), Crc(Bytes("other")), &header));
  EXPECT_FALSE(fs::exists(H("MAIN.EXE.new1"))) << "another checksum links nothing";
  ASSERT_TRUE(LinkUnchangedFile(context(), old_path.c_str(), "1\\_\\0.dif",
                                P("MAIN.EXE.new1").c_str(), Crc(Bytes("ABCDEFGH")), &header));
  EXPECT_TRUE(std::equal(header.begin(), header.end(), identity.begin()));
  EXPECT_EQ(platform::LinkCount(old_path.c_str()), 2u);

  ASSERT_TRUE(StampFile(P("MAIN.EXE.new1").c_str(), header));
  ExpectStamp(H("MAIN.EXE"), 2021, 11, 12, 15, 37, 52);

  // A patch or a whole file written to the shared name leaves the old file as it was.
  ASSERT_TRUE(Patch(old_path, P("MAIN.EXE.new1"), Crc(Bytes("ABCDEFGH")),
                    DiffBytes().Literal("xy").bytes()));
  EXPECT_EQ(test::ReadBytes(H("MAIN.EXE.new1")), Bytes("xy"));
  EXPECT_EQ(test::ReadBytes(H("MAIN.EXE")), Bytes("ABCDEFGH"));
  ASSERT_TRUE(platform::LinkFile(old_path.c_str(), P("MAIN.EXE.new2").c_str()));
  ASSERT_TRUE(Whole(P("MAIN.EXE.new2"), test::WholeFileBytes(Bytes("w"), {1})));
  EXPECT_EQ(test::ReadBytes(H("MAIN.EXE")), Bytes("ABCDEFGH"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, EntryFailuresShowTheFailureTextAndLeaveNoTemporaryFile) {
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\1.dat", test::WholeFileBytes(Bytes("new"), {3})}});
  // A missing stream.
  EXPECT_FALSE(Apply("", "1\\_\\nothing", P("N.new1"), 0));
  EXPECT_FALSE(fs::exists(H("N.new1")));
  // A target without any backslash.
  EXPECT_FALSE(Apply("", "1\\_\\1.dat", "N.new1", 0));
  // A target of 256 bytes.
  const std::string base = P("");
  const std::string long_target = base + "\\" + std::string(255 - base.size(), 'n');
  ASSERT_EQ(long_target.size(), 256u);
  EXPECT_FALSE(Apply("", "1\\_\\1.dat", long_target, 0));
  // A drive that cannot be entered.
  EXPECT_FALSE(Apply("", "1\\_\\1.dat", "Q:\\x\\N.new1", 0));
  EXPECT_EQ(Messages(), Transcript(4, test::FailureLine()));
  EXPECT_TRUE(test::JournalRecords(context().journal).empty());
  EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 0)
      << "nothing written";
}

TEST_F(FileOperationsTest, AFolderThatCannotBeCreatedKeepsTheFoldersMadeBeforeIt) {
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\1.dat", test::WholeFileBytes(Bytes("new"), {3})}});
  EXPECT_FALSE(Apply("", "1\\_\\1.dat", P("made\\bad|name\\N.new1"), 0));
  EXPECT_EQ(Messages(), Transcript{test::FailureLine()});
  EXPECT_TRUE(fs::is_directory(H("made")));
  EXPECT_TRUE(fs::is_empty(H("made")));
  EXPECT_EQ(test::JournalRecords(context().journal),
            (std::vector<std::string>{P(""), "made\\bad|name"}));
}

TEST_F(FileOperationsTest, AFileInTheRootNeedsNoFolder) {
  // One backslash: the part before it is a drive's root, never created or journaled. Tried
  // here relative to the current directory, where the folder is missing on purpose.
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\1.dat", test::WholeFileBytes(Bytes("new"), {3})}});
  char saved[260];
  ASSERT_GT(platform::CurrentFolder(saved, sizeof saved), 0u);
  ASSERT_TRUE(platform::ChangeFolder(P("").c_str()));
  EXPECT_FALSE(Apply("", "1\\_\\1.dat", "root\\N.new1", 0));
  EXPECT_FALSE(fs::exists(H("root")));
  fs::create_directories(H("root"));
  EXPECT_TRUE(Apply("", "1\\_\\1.dat", "root\\N.new1", 0));
  EXPECT_TRUE(platform::ChangeFolder(saved));
  EXPECT_EQ(test::ReadBytes(H("root/N.new1")), Bytes("new"));
  EXPECT_TRUE(test::JournalRecords(context().journal).empty());
  EXPECT_EQ(Messages(), Transcript{test::FailureLine()});
}

// ---------------------------------------------------------------------------------------------
// Folders

TEST_F(FileOperationsTest, CreateFolderPathJournalsOnlyWhatItCreates) {
  char before[260];
  ASSERT_GT(platform::CurrentFolder(before, sizeof before), 0u);
  fs::create_directories(H("A"));
  ASSERT_TRUE(CreateFolderPath(context().journal, P("A\\B\\C").c_str()));
  EXPECT_TRUE(fs::is_directory(H("A/B/C")));
  EXPECT_EQ(test::JournalRecords(context().journal), (std::vector<std::string>{P("A"), "B\\C"}));
  ASSERT_TRUE(CreateFolderPath(context().journal, P("A\\B\\C").c_str()));
  EXPECT_EQ(test::JournalRecords(context().journal).size(), 2u)
      << "nothing missing, nothing journaled";
  // The first component missing: the whole rest is journaled.
  test::TempDir other;
  ASSERT_TRUE(CreateFolderPath(context().journal, (other.Program() + "\\X\\Y").c_str()));
  EXPECT_TRUE(fs::is_directory(other / "X/Y"));
  const auto records = test::JournalRecords(context().journal);
  ASSERT_EQ(records.size(), 4u);
  EXPECT_EQ(records[2], other.Program());
  EXPECT_EQ(records[3], "X\\Y");
  char after[260];
  ASSERT_GT(platform::CurrentFolder(after, sizeof after), 0u);
  EXPECT_STREQ(before, after) << "the current directory is restored";
  EXPECT_FALSE(CreateFolderPath(context().journal, ""));
  EXPECT_FALSE(CreateFolderPath(context().journal, nullptr));
  EXPECT_FALSE(CreateFolderPath(context().journal, "Q:\\x"));
}

TEST_F(FileOperationsTest, FoldersWithDoubleByteNamesAreNotCutInsideACharacter) {
  // 表 and ソ end in the byte 0x5C; each is one folder.
  const std::string table = test::Cp932("表");
  const std::string so = test::Cp932("ソ");
  ASSERT_TRUE(CreateFolderPath(context().journal, (P("") + "\\" + table + "\\" + so).c_str()));
  EXPECT_TRUE(fs::is_directory(dir_ / "表/ソ"));
  EXPECT_EQ(test::JournalRecords(context().journal),
            (std::vector<std::string>{P(""), table + "\\" + so}));
  // Through a whole entry: the target is cut at its last real backslash.
  test::InstallWorkDocfile(context().work_docfile, work_,
                           {{"1\\_\\1.dat", test::WholeFileBytes(Bytes("new"), {3})}});
  ASSERT_TRUE(Apply("", "1\\_\\1.dat", P("") + "\\" + so + "\\" + table + ".new1", 0));
  EXPECT_EQ(test::ReadBytes(dir_ / "ソ/表.new1"), Bytes("new"));
  EXPECT_TRUE(Messages().empty());
}

TEST_F(FileOperationsTest, WithoutAJournalFoldersAreStillCreated) {
  context().journal.Reset();
  ASSERT_TRUE(CreateFolderPath(context().journal, P("J\\K").c_str()));
  EXPECT_TRUE(fs::is_directory(H("J/K")));
}

}  // namespace
}  // namespace gp
