// The one parse of a package header and the trailer reader: the values they yield, and every
// field that locates or sizes something pointed outside its block, record, entry or buffer.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/endian.h"
#include "builder/header_writer.h"
#include "format/package_header.h"
#include "format/trailer.h"

namespace gp::format {
namespace {

using builder::HeaderDescription;
using namespace layout;

// Two generations, two group columns, the first generation with one group entry.
HeaderDescription Sample() {
  HeaderDescription desc;
  desc.file_removal = 1;
  desc.comment = "comment";
  desc.caption = "caption";
  desc.default_folder = "C:\\App";
  desc.group_count = 2;
  desc.generations = {{"g1", "first", {{"grp", "group", "C:\\Grp"}}}, {"g2", "", {}}};
  return desc;
}

TEST(PackageHeader, YieldsTheWrittenValues) {
  const std::vector<uint8_t> block = builder::WriteHeader(Sample());
  PackageHeader header;
  ASSERT_EQ(ParsePackageHeader(block.data(), block.size(), &header), HeaderError::kNone);
  EXPECT_EQ(header.option_words[(kFileRemovalFlag - kOptionWordsStart) / 4], 1u);
  EXPECT_EQ(header.option_words[(kVersionCheckFlag - kOptionWordsStart) / 4], 1u);
  EXPECT_EQ(header.comment, "comment");
  EXPECT_EQ(header.caption, "caption");
  EXPECT_EQ(header.default_folder, "C:\\App");
  ASSERT_EQ(header.generation_count, 2);
  EXPECT_EQ(header.group_count, 2);
  EXPECT_EQ(header.generations[0].name, "g1");
  EXPECT_EQ(header.generations[0].comment, "first");
  ASSERT_EQ(header.generations[0].entry_count, 1);
  const GroupEntryView& entry = header.entries[header.generations[0].first_entry];
  EXPECT_EQ(entry.name, "grp");
  EXPECT_EQ(entry.comment, "group");
  EXPECT_EQ(entry.folder, "C:\\Grp");
  EXPECT_EQ(header.generations[1].name, "g2");
  EXPECT_EQ(header.generations[1].entry_count, 0);
  EXPECT_EQ(header.entry_total, 1u);
  // Views into the block, NUL-terminated there.
  const char* begin = reinterpret_cast<const char*>(block.data());
  EXPECT_GE(entry.folder.data(), begin);
  EXPECT_LT(entry.folder.data() + entry.folder.size(), begin + block.size());
  EXPECT_EQ(entry.folder.data()[entry.folder.size()], '\0');
}

struct Rejection {
  const char* what;
  HeaderDescription desc;
  std::function<void(std::vector<uint8_t>&)> mutate;
  HeaderError expected;
};

TEST(PackageHeader, EveryFieldIsBounded) {
  const std::vector<uint8_t> good = builder::WriteHeader(Sample());
  const size_t record0 = LoadU32(good.data() + kGenerationTableOffset);
  const size_t record1 = record0 + LoadU32(good.data() + record0 + kRecordSize);
  const size_t entry0 = record0 + kRecordTexts + 3 + 6;  // "g1", "first"
  const size_t folder0 = entry0 + kEntryTexts + 4 + 6;   // "grp", "group"

  HeaderDescription no_generations = Sample();
  no_generations.generations.clear();
  HeaderDescription long_caption = Sample();
  long_caption.caption.assign(kTextSlotSize, 'c');
  HeaderDescription long_folder = Sample();
  long_folder.generations[0].groups[0].folder.assign(kPathBufferSize, 'f');

  auto set32 = [](size_t at, uint32_t v) {
    return [at, v](std::vector<uint8_t>& h) { StoreU32(&h[at], v); };
  };
  auto set16 = [](size_t at, uint16_t v) {
    return [at, v](std::vector<uint8_t>& h) { StoreU16(&h[at], v); };
  };
  auto set8 = [](size_t at, uint8_t v) { return [at, v](std::vector<uint8_t>& h) { h[at] = v; }; };
  auto none = [](std::vector<uint8_t>&) {};
  const HeaderDescription sample = Sample();
  const std::vector<Rejection> rejections = {
      {"shorter than the fixed part", sample, [](auto& h) { h.resize(kFixedPartSize - 1); },
       HeaderError::kTooShort},
      {"comment length past the block", sample, set32(kCommentLength, 100000),
       HeaderError::kTextOutside},
      {"comment length 0", sample, set32(kCommentLength, 0), HeaderError::kTextOutside},
      {"caption length near 2^32", sample, set32(kCaptionLength, 0xFFFFFFF0u),
       HeaderError::kTextOutside},
      {"comment without NUL inside its length", sample, set32(kCommentLength, 3),
       HeaderError::kTextUnterminated},
      {"default folder without NUL in the block", no_generations,
       [](auto& h) { h.back() = 'x'; }, HeaderError::kTextUnterminated},
      {"caption longer than its slot", long_caption, none, HeaderError::kTextTooLong},
      {"negative generation count", sample, set16(kGenerationCount, 0xFFFF),
       HeaderError::kNegativeCount},
      {"negative group count", sample, set16(kGroupCount, 0x8000), HeaderError::kNegativeCount},
      {"generation table offset outside", sample, set32(kGenerationTableOffset, 100000),
       HeaderError::kTableOutside},
      {"more generations than records", sample, set16(kGenerationCount, 3),
       HeaderError::kRecordOutside},
      {"record size past the block", sample, set32(record0 + kRecordSize, 5000),
       HeaderError::kRecordOutside},
      {"record cut inside its fixed part", sample, [&](auto& h) { h.resize(record1 + 10); },
       HeaderError::kRecordOutside},
      {"entry count above the group count", sample, set8(record0 + kRecordEntryCount, 3),
       HeaderError::kTooManyEntries},
      {"generation name past its record", sample, set32(record0 + kRecordNameLength, 300),
       HeaderError::kTextOutside},
      {"generation name without NUL", sample, set8(record0 + kRecordTexts + 2, 'x'),
       HeaderError::kTextUnterminated},
      {"entry count beyond the entries present", sample, set8(record0 + kRecordEntryCount, 2),
       HeaderError::kEntryOutside},
      {"group entry past its record", sample, set32(entry0 + kEntrySize, 4000),
       HeaderError::kEntryOutside},
      {"group name past its entry", sample, set32(entry0 + kEntryNameLength, 4000),
       HeaderError::kTextOutside},
      {"group comment past its entry", sample, set32(entry0 + kEntryCommentLength, 0x7FFFFFFF),
       HeaderError::kTextOutside},
      {"group folder without NUL in its entry", sample, set8(folder0 + 6, 'x'),
       HeaderError::kTextUnterminated},
      {"group folder of 260 bytes", long_folder, none, HeaderError::kFolderTooLong},
  };
  ASSERT_EQ(good[folder0 + 6], 0) << "the folder's NUL";
  ASSERT_LT(record1, good.size());
  for (const Rejection& r : rejections) {
    std::vector<uint8_t> block = builder::WriteHeader(r.desc);
    r.mutate(block);
    PackageHeader header;
    EXPECT_EQ(ParsePackageHeader(block.data(), block.size(), &header), r.expected) << r.what;
    EXPECT_EQ(header.generations, nullptr) << r.what;
  }
}

struct TrailerCase {
  const char* what;
  PackageForm form;
  std::vector<uint8_t> tail;
  uint64_t file_size;
  TrailerStatus expected;
};

TEST(Trailer, ReadingsThatDoNotFitTheFileAreRefused) {
  std::vector<uint8_t> bad_magic = ExecutableTrailer(0, 0);
  bad_magic.back() = '1';
  const std::vector<TrailerCase> cases = {
      {"file shorter than the data file trailer", PackageForm::kDataFile,
       std::vector<uint8_t>(16, 0), 16, TrailerStatus::kTooSmall},
      {"file shorter than the executable trailer", PackageForm::kExecutable,
       DataFileTrailer(0), 17, TrailerStatus::kTooSmall},
      {"wrong magic", PackageForm::kExecutable, bad_magic, 100, TrailerStatus::kBadMagic},
      {"header longer than the file", PackageForm::kDataFile, DataFileTrailer(1000), 1016,
       TrailerStatus::kHeaderOutside},
      {"header length near 2^32", PackageForm::kExecutable, ExecutableTrailer(0, 0xFFFFFFFFu),
       100, TrailerStatus::kHeaderOutside},
      {"payload longer than what precedes the header", PackageForm::kExecutable,
       ExecutableTrailer(80, 10), 110, TrailerStatus::kPayloadOutside},
      {"payload length near 2^32", PackageForm::kExecutable,
       ExecutableTrailer(0xFFFFFFFFu, 0xFFFFFFF0u), 0xFFFFFFF0ull + 21 + 5,
       TrailerStatus::kPayloadOutside},
  };
  for (const TrailerCase& c : cases) {
    PackageLayout layout;
    EXPECT_EQ(ReadTrailer(c.form, c.tail, c.file_size, &layout), c.expected) << c.what;
  }
}

TEST(Trailer, BothFormsLocateHeaderAndPayload) {
  PackageLayout exe;
  ASSERT_EQ(ReadTrailer(PackageForm::kExecutable, ExecutableTrailer(100, 50), 1000, &exe),
            TrailerStatus::kOk);
  EXPECT_EQ(exe.header_offset, 1000u - 21 - 50);
  EXPECT_EQ(exe.header_length, 50u);
  EXPECT_EQ(exe.payload_offset, 1000u - 21 - 50 - 100);
  EXPECT_EQ(exe.payload_length, 100u);

  // More bytes than the trailer: only the end is read.
  std::vector<uint8_t> tail(4, 0xEE);
  const auto trailer = DataFileTrailer(50);
  tail.insert(tail.end(), trailer.begin(), trailer.end());
  PackageLayout data;
  ASSERT_EQ(ReadTrailer(PackageForm::kDataFile, tail, 1000, &data), TrailerStatus::kOk);
  EXPECT_EQ(data.header_offset, 1000u - 17 - 50);
  EXPECT_EQ(data.payload_offset, 0u);
  EXPECT_EQ(data.payload_length, 1000u - 17 - 50);
}

}  // namespace
}  // namespace gp::format
