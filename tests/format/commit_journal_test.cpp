// The commit journal's layout: a round trip, the worked example of doc/format.md, the
// rejections, and the seed corpus of its fuzz target.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "codec/crc32.h"
#include "format/commit_journal.h"
#include "support/test_support.h"

namespace gp::format {
namespace {

using Bytes = std::vector<uint8_t>;

uint32_t BodyCrc(const Bytes& bytes) {
  return Crc32Update(0, bytes.data(), static_cast<int64_t>(bytes.size() - kJournalChecksumSize));
}

Bytes Sealed(const CommitJournal& journal) {
  Bytes bytes;
  EXPECT_TRUE(EncodeCommitJournal(journal, &bytes));
  AppendJournalChecksum(&bytes, Crc32Update(0, bytes.data(), static_cast<int64_t>(bytes.size())));
  return bytes;
}

CommitJournal Example() {
  CommitJournal journal;
  journal.steps = {{kJournalKindSetAside, kJournalKeepBackup, "C:\\A\\X", "C:\\A\\X.gp-aside"},
                   {kJournalKindMoveIn, 0, "C:\\A\\X.new1", "C:\\A\\X"}};
  return journal;
}

TEST(CommitJournal, WorkedExampleAndRoundTrip) {
  const Bytes bytes = Sealed(Example());
  const Bytes head = {'G', 'P', 'C', 'O', 'M', 'M', 'I', 'T', 1, 0, 0, 0, 2, 0, 0, 0,
                      1,   1,   6,   0,   15,  0};
  ASSERT_EQ(bytes.size(), 16u + 6 + 6 + 15 + 6 + 11 + 6 + 4);
  EXPECT_EQ(Bytes(bytes.begin(), bytes.begin() + static_cast<long>(head.size())), head);
  EXPECT_EQ(Bytes(bytes.end() - 4, bytes.end()), (Bytes{0x96, 0xD7, 0xF9, 0x5C}))
      << "the checksum of doc/format.md's example";
  CommitJournal read;
  ASSERT_EQ(DecodeCommitJournal(bytes, BodyCrc(bytes), &read), JournalStatus::kOk);
  ASSERT_EQ(read.steps.size(), 2u);
  EXPECT_EQ(read.steps[0].flags, kJournalKeepBackup);
  EXPECT_EQ(read.steps[0].to, "C:\\A\\X.gp-aside");
  EXPECT_EQ(read.steps[1].kind, kJournalKindMoveIn);
  EXPECT_EQ(read.steps[1].from, "C:\\A\\X.new1");
}

// The example with a stamp step for the file moved in: time 2024-05-06 07:08:09.010, read-only
// and archive.
CommitJournal WithStamp() {
  CommitJournal journal = Example();
  const JournalStampBytes header = {0xE8, 0x07, 5, 6, 7, 8, 9, 10, 0x21, 0, 0, 0};
  journal.steps.push_back({kJournalKindStamp, 0, "C:\\A\\X", JournalStampText(header)});
  return journal;
}

TEST(CommitJournal, StampStepsMakeAVersionTwoJournal) {
  const Bytes bytes = Sealed(WithStamp());
  EXPECT_EQ(bytes[8], 2) << "version";
  CommitJournal read;
  ASSERT_EQ(DecodeCommitJournal(bytes, BodyCrc(bytes), &read), JournalStatus::kOk);
  ASSERT_EQ(read.steps.size(), 3u);
  EXPECT_EQ(read.steps[2].kind, kJournalKindStamp);
  EXPECT_EQ(read.steps[2].to, "E80705060708090A21000000");
  JournalStampBytes header = {};
  ASSERT_TRUE(ParseJournalStamp(read.steps[2].to, &header));
  EXPECT_EQ(header[7], 10);
  EXPECT_EQ(header[8], 0x21);
  EXPECT_FALSE(ParseJournalStamp("E80705060708090A2100000", &header)) << "23 digits";
  EXPECT_FALSE(ParseJournalStamp("e80705060708090A21000000", &header)) << "lower case";
}

TEST(CommitJournal, DamagedOrForeignBytesAreRejected) {
  const Bytes good = Sealed(Example());
  CommitJournal read;
  auto status = [&](Bytes bytes, bool fix_checksum = true) {
    if (fix_checksum && bytes.size() >= kJournalHeaderSize + kJournalChecksumSize) {
      bytes.resize(bytes.size() - kJournalChecksumSize);
      AppendJournalChecksum(&bytes, Crc32Update(0, bytes.data(), static_cast<int64_t>(bytes.size())));
    }
    return DecodeCommitJournal(bytes, bytes.size() >= 4 ? BodyCrc(bytes) : 0, &read);
  };
  Bytes flipped = good;
  flipped[20] ^= 0x40;
  EXPECT_EQ(DecodeCommitJournal(flipped, BodyCrc(flipped) ^ 1u, &read), JournalStatus::kBadChecksum);
  EXPECT_EQ(status(Bytes(good.begin(), good.begin() + 19)), JournalStatus::kTooShort);
  Bytes magic = good;
  magic[0] = 'X';
  EXPECT_EQ(status(magic), JournalStatus::kBadMagic);
  Bytes version = good;
  version[8] = 3;
  EXPECT_EQ(status(version), JournalStatus::kBadVersion);
  Bytes count = good;
  count[12] = 3;
  EXPECT_EQ(status(count), JournalStatus::kBadStep) << "a step past the end";
  Bytes kind = good;
  kind[16] = 3;
  EXPECT_EQ(status(kind), JournalStatus::kBadStep) << "a stamp step in a version 1 journal";
  Bytes stamp = Sealed(WithStamp());
  stamp[stamp.size() - kJournalChecksumSize - 1] = 'g';
  EXPECT_EQ(status(stamp), JournalStatus::kBadStep) << "a stamp that is not 24 hex digits";
  kind[8] = 2;
  EXPECT_EQ(status(kind), JournalStatus::kBadStep) << "a stamp step's to is not 24 hex digits";
  Bytes flags = good;
  flags[kJournalHeaderSize + 6 + 6 + 15 + 1] = 1;  // a flag on a move step
  EXPECT_EQ(status(flags), JournalStatus::kBadStep);
  Bytes length = good;
  length[18] = 200;  // the first path runs past the end
  EXPECT_EQ(status(length), JournalStatus::kBadStep);
  Bytes trailing = good;
  trailing.insert(trailing.end() - kJournalChecksumSize, 0);
  EXPECT_EQ(status(trailing), JournalStatus::kTrailingBytes);

  Bytes out;
  CommitJournal empty_path = Example();
  empty_path.steps[1].to.clear();
  EXPECT_FALSE(EncodeCommitJournal(empty_path, &out));
  CommitJournal long_path = Example();
  long_path.steps[0].from.assign(kJournalMaxPath + 1, 'a');
  EXPECT_FALSE(EncodeCommitJournal(long_path, &out));
  EXPECT_TRUE(out.empty());
}

TEST(FuzzSeeds, CommitJournalCorpusMatchesItsGenerator) {
  std::map<std::string, Bytes> seeds;
  seeds["example"] = Sealed(Example());
  seeds["empty"] = Sealed({});
  CommitJournal many;
  for (int i = 0; i < 4; ++i) {
    const std::string name = "C:\\D\\F" + std::to_string(i);
    many.steps.push_back({kJournalKindSetAside, kJournalRemoveEmptyFolder, name, name + ".gp-aside"});
    many.steps.push_back({kJournalKindMoveIn, 0, name + ".new2", name});
  }
  seeds["several"] = Sealed(many);
  seeds["stamp"] = Sealed(WithStamp());
  Bytes cut = Sealed(Example());
  cut.resize(30);
  seeds["cut"] = cut;
  test::CheckOrWriteFuzzSeeds(seeds, "commit_journal");
}

}  // namespace
}  // namespace gp::format
