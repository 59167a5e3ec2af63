// The in-memory applier is the reference for the diff format: the worked example, and every way
// a diff can be malformed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "builder/diff_apply.h"
#include "format/data_stream.h"

namespace gp::builder {
namespace {

using format::AppendEntryHeader;
using format::EntryHeader;

std::vector<uint8_t> Bytes(std::string_view s) { return {s.begin(), s.end()}; }

const std::vector<uint8_t> kExampleDiff = {
    0xD3, 0x07, 0x0B, 0x0C, 0x0F, 0x25, 0x34, 0x00,  // 2003-11-12 15:37:52.000
    0x20, 0x00, 0x00, 0x00,                          // archive
    0x03, 0x80, 0x02, 0x00, 0x00, 0x00,              // short copy 3 from 2
    0x02, 0x00, 0x78, 0x79,                          // literal "xy"
    0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x02, 0x00, 0x00, 0x00,  // long copy 2 from 0
};

TEST(DiffApply, WorkedExampleGivesCDExyAB) {
  ASSERT_EQ(kExampleDiff.size(), 32u);
  std::vector<uint8_t> out;
  EntryHeader header;
  ASSERT_EQ(ApplyDiff(Bytes("ABCDEFGH"), kExampleDiff, &out, &header), DiffStatus::kOk);
  EXPECT_EQ(std::string(out.begin(), out.end()), "CDExyAB");
  EXPECT_EQ(header.year, 2003);
  EXPECT_EQ(header.month, 11);
  EXPECT_EQ(header.day, 12);
  EXPECT_EQ(header.hour, 15);
  EXPECT_EQ(header.minute, 37);
  EXPECT_EQ(header.second, 52);
  EXPECT_EQ(header.millisecond, 0);
  EXPECT_EQ(header.attributes, 0x20u);

  // The header written back gives the same 12 bytes.
  std::vector<uint8_t> written;
  AppendEntryHeader(header, &written);
  EXPECT_EQ(written, std::vector<uint8_t>(kExampleDiff.begin(), kExampleDiff.begin() + 12));
}

TEST(DiffApply, WorkedExampleCommandsAreSeenInOrder) {
  std::vector<DiffCommand> seen;
  ASSERT_EQ(ForEachDiffCommand(kExampleDiff,
                               [&](const DiffCommand& c) {
                                 seen.push_back(c);
                                 return true;
                               }),
            DiffStatus::kOk);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, DiffCommand::Kind::kShortCopy);
  EXPECT_EQ(seen[0].position, 12u);
  EXPECT_EQ(seen[0].offset, 2u);
  EXPECT_EQ(seen[0].length, 3u);
  EXPECT_EQ(seen[1].kind, DiffCommand::Kind::kLiteral);
  EXPECT_EQ(seen[1].length, 2u);
  EXPECT_EQ(seen[1].literal[0], 'x');
  EXPECT_EQ(seen[2].kind, DiffCommand::Kind::kLongCopy);
  EXPECT_EQ(seen[2].position, 22u);
  EXPECT_EQ(seen[2].length, 2u);
}

TEST(DiffApply, HeaderOnlyAndEmptyLiteralRuns) {
  std::vector<uint8_t> diff(kExampleDiff.begin(), kExampleDiff.begin() + 12);
  std::vector<uint8_t> out = {1, 2, 3};
  EXPECT_EQ(ApplyDiff(Bytes("ABC"), diff, &out), DiffStatus::kOk);
  EXPECT_TRUE(out.empty());

  // A zero-length literal run appends nothing; the next command follows directly.
  diff.insert(diff.end(), {0x00, 0x00, 0x03, 0x80, 0x00, 0x00, 0x00, 0x00});
  ASSERT_EQ(ApplyDiff(Bytes("ABC"), diff, &out), DiffStatus::kOk);
  EXPECT_EQ(std::string(out.begin(), out.end()), "ABC");
}

TEST(DiffApply, LongCopyLargerThanTheTransferBuffer) {
  std::vector<uint8_t> old_file(100000);
  for (size_t i = 0; i < old_file.size(); ++i) old_file[i] = static_cast<uint8_t>(i * 7 + i / 251);
  std::vector<uint8_t> diff(kExampleDiff.begin(), kExampleDiff.begin() + 12);
  diff.insert(diff.end(), {0x00, 0x80, 0, 0, 0, 0, 0xA0, 0x86, 0x01, 0x00});  // 100,000 from 0
  std::vector<uint8_t> out;
  ASSERT_EQ(ApplyDiff(old_file, diff, &out), DiffStatus::kOk);
  EXPECT_EQ(out, old_file);
}

struct MalformedCase {
  const char* name;
  std::vector<uint8_t> commands;  // after the 12-byte header
  DiffStatus expected;
};

TEST(DiffApply, MalformedDiffsAreRejected) {
  const std::vector<MalformedCase> cases = {
      {"half a command word", {0x01}, DiffStatus::kTruncatedCommand},
      {"literal data cut short", {0x03, 0x00, 'a', 'b'}, DiffStatus::kTruncatedCommand},
      {"short copy without offset", {0x01, 0x80, 0x00, 0x00}, DiffStatus::kTruncatedCommand},
      {"long copy without length", {0x00, 0x80, 0, 0, 0, 0, 1, 0}, DiffStatus::kTruncatedCommand},
      {"short copy past the end", {0x02, 0x80, 0x07, 0, 0, 0}, DiffStatus::kCopyOutsideOld},
      {"short copy at the end", {0x01, 0x80, 0x08, 0, 0, 0}, DiffStatus::kCopyOutsideOld},
      {"short copy far outside", {0x01, 0x80, 0xFF, 0xFF, 0xFF, 0xFF}, DiffStatus::kCopyOutsideOld},
      {"long copy too long", {0x00, 0x80, 0, 0, 0, 0, 9, 0, 0, 0}, DiffStatus::kCopyOutsideOld},
      {"long copy wrapping", {0x00, 0x80, 4, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF},
       DiffStatus::kCopyOutsideOld},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> diff(kExampleDiff.begin(), kExampleDiff.begin() + 12);
    diff.insert(diff.end(), c.commands.begin(), c.commands.end());
    std::vector<uint8_t> out;
    EXPECT_EQ(ApplyDiff(Bytes("ABCDEFGH"), diff, &out), c.expected);
  }
  for (size_t size = 0; size < 12; ++size) {
    std::vector<uint8_t> out;
    EXPECT_EQ(ApplyDiff(Bytes("AB"), std::span(kExampleDiff.data(), size), &out),
              DiffStatus::kTruncatedHeader);
  }
}

TEST(DiffApply, OutputLimitStopsRunawayDiffs) {
  std::vector<uint8_t> diff(kExampleDiff.begin(), kExampleDiff.begin() + 12);
  for (int i = 0; i < 4; ++i) diff.insert(diff.end(), {0x00, 0x80, 0, 0, 0, 0, 8, 0, 0, 0});
  std::vector<uint8_t> out;
  EXPECT_EQ(ApplyDiff(Bytes("ABCDEFGH"), diff, &out, nullptr, 31), DiffStatus::kOutputTooLarge);
  EXPECT_EQ(ApplyDiff(Bytes("ABCDEFGH"), diff, &out, nullptr, 32), DiffStatus::kOk);
  EXPECT_EQ(out.size(), 32u);
}

}  // namespace
}  // namespace gp::builder
