// Open files: dispositions, sharing, reading, writing, positions, last-write times.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/platform.h"
#include "scratch_folder.h"

namespace gp::platform {
namespace {

using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

TEST(FileDispositions, CreateNewOnlyWhereNothingIs) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("new.bin");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
  file.Close();
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
  EXPECT_FALSE(file.IsOpen());
  // Not in a missing folder, and never a folder itself.
  EXPECT_FALSE(file.Open(scratch.Path("none\\x.bin").c_str(), kAccessWrite, kShareNone,
                         Disposition::kCreateNew));
  EXPECT_FALSE(file.Open(scratch.path().c_str(), kAccessRead, kShareRead,
                         Disposition::kOpenExisting));
}

TEST(FileDispositions, OpenExistingAndTruncateExistingNeedTheFile) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("data.bin");
  File file;
  EXPECT_FALSE(file.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kTruncateExisting));
  ASSERT_TRUE(WriteWholeFile(path, "twelve bytes"));
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kTruncateExisting));
  uint64_t size = 99;
  ASSERT_TRUE(file.Size(&size));
  EXPECT_EQ(size, 0u);
}

TEST(FileDispositions, OpenAlwaysKeepsCreateAlwaysEmpties) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("keep.bin");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                        Disposition::kOpenAlways));
  uint32_t done = 0;
  ASSERT_TRUE(file.Write("abc", 3, &done));
  file.Close();
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                        Disposition::kOpenAlways));
  file.Close();
  EXPECT_EQ(ReadWholeFile(path), "abc");
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways));
  file.Close();
  EXPECT_EQ(ReadWholeFile(path), "");
}

TEST(FileContent, ReadWriteSeekAndSize) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("rw.bin");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                        Disposition::kCreateNew, Hint::kRandomAccess));
  uint32_t done = 0;
  ASSERT_TRUE(file.Write("0123456789", 10, &done));
  EXPECT_EQ(done, 10u);
  uint64_t position = 0;
  ASSERT_TRUE(file.Seek(-4, Origin::kEnd, &position));
  EXPECT_EQ(position, 6u);
  char buffer[16] = {};
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 4u);  // short at the end of the file
  EXPECT_EQ(std::string(buffer, done), "6789");
  ASSERT_TRUE(file.Read(buffer, sizeof buffer, &done));
  EXPECT_EQ(done, 0u);
  ASSERT_TRUE(file.Seek(2, Origin::kBegin));
  ASSERT_TRUE(file.Seek(3, Origin::kCurrent, &position));
  EXPECT_EQ(position, 5u);
  EXPECT_FALSE(file.Seek(-1, Origin::kBegin));
  // Writing past the end extends the file.
  ASSERT_TRUE(file.Seek(20, Origin::kBegin));
  ASSERT_TRUE(file.Write("x", 1, &done));
  uint64_t size = 0;
  ASSERT_TRUE(file.Size(&size));
  EXPECT_EQ(size, 21u);
}

TEST(FileContent, ClosedFileRefusesEverything) {
  File file;
  uint32_t done = 7;
  char byte = 0;
  uint64_t size = 0;
  EXPECT_FALSE(file.Read(&byte, 1, &done));
  EXPECT_EQ(done, 0u);
  EXPECT_FALSE(file.Write(&byte, 1, &done));
  EXPECT_FALSE(file.Seek(0, Origin::kBegin));
  EXPECT_FALSE(file.Size(&size));
}

// Stage files are flushed in two steps: started as each is closed, completed for all of them
// at the commit, when some carry the read-only attribute already.
TEST(FileContent, FlushesStartedOneByOneFinishTogether) {
  ScratchFolder scratch;
  const std::string paths[] = {scratch.Path("a.bin"), scratch.Path("b.bin")};
  File closed;
  EXPECT_FALSE(closed.StartFlush());
  for (const std::string& path : paths) {
    File file;
    ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
    ASSERT_TRUE(WriteAll(file, "stage", 5));
    EXPECT_TRUE(file.StartFlush());
  }
  ASSERT_TRUE(WriteAttributes(paths[1].c_str(), kAttrReadOnly));
  std::string failed = "untouched";
  EXPECT_TRUE(FinishFlushes(paths, 2, &failed));
  EXPECT_EQ(failed, "untouched");
  EXPECT_EQ(ReadWholeFile(paths[1]), "stage");
  ASSERT_TRUE(WriteAttributes(paths[1].c_str(), kAttrNormal));
}

TEST(FileContent, MovedFileKeepsItsHandle) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("move.bin");
  File first;
  ASSERT_TRUE(first.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
  File second(std::move(first));
  EXPECT_FALSE(first.IsOpen());
  ASSERT_TRUE(second.IsOpen());
  uint32_t done = 0;
  EXPECT_TRUE(second.Write("m", 1, &done));
  File third;
  third = std::move(second);
  EXPECT_TRUE(third.IsOpen());
  third.Close();
  EXPECT_EQ(ReadWholeFile(path), "m");
}

TEST(FileSharing, AnExclusiveOpenKeepsOtherOpensOut) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("shared.bin");
  ASSERT_TRUE(WriteWholeFile(path, "s"));
  File holder;
  ASSERT_TRUE(holder.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                          Disposition::kOpenExisting));
  File other;
  EXPECT_FALSE(other.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
  EXPECT_FALSE(other.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_FALSE(RemoveFile(path.c_str()));
  holder.Close();
  EXPECT_TRUE(other.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
}

TEST(FileSharing, ReadersSharingReadCoexist) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("readers.bin");
  ASSERT_TRUE(WriteWholeFile(path, "r"));
  File a;
  File b;
  ASSERT_TRUE(a.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_TRUE(b.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  File writer;
  EXPECT_FALSE(writer.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
}

TEST(LocalTimeCalendar, RejectsWhatTheCalendarRejects) {
  const LocalTime good{2024, 2, 29, 23, 59, 59, 999};
  EXPECT_TRUE(File::ValidLocalTime(good));
  EXPECT_TRUE(File::ValidLocalTime({1601, 1, 1, 0, 0, 0, 0}));
  EXPECT_TRUE(File::ValidLocalTime({30827, 12, 31, 0, 0, 0, 0}));
  EXPECT_TRUE(File::ValidLocalTime({2000, 2, 29, 0, 0, 0, 0}));  // divisible by 400

  struct Case {
    LocalTime time;
    const char* why;
  };
  const Case bad[] = {
      {{2023, 2, 29, 0, 0, 0, 0}, "no leap year"},
      {{1900, 2, 29, 0, 0, 0, 0}, "century without leap day"},
      {{2024, 4, 31, 0, 0, 0, 0}, "April has 30 days"},
      {{2024, 0, 1, 0, 0, 0, 0}, "month 0"},
      {{2024, 13, 1, 0, 0, 0, 0}, "month 13"},
      {{2024, 1, 0, 0, 0, 0, 0}, "day 0"},
      {{2024, 1, 32, 0, 0, 0, 0}, "day 32"},
      {{2024, 1, 1, 24, 0, 0, 0}, "hour 24"},
      {{2024, 1, 1, 0, 60, 0, 0}, "minute 60"},
      {{2024, 1, 1, 0, 0, 60, 0}, "second 60"},
      {{2024, 1, 1, 0, 0, 0, 1000}, "millisecond 1000"},
      {{1600, 12, 31, 0, 0, 0, 0}, "before 1601"},
      {{30828, 1, 1, 0, 0, 0, 0}, "after 30827"},
  };
  for (const Case& c : bad) EXPECT_FALSE(File::ValidLocalTime(c.time)) << c.why;
}

TEST(LocalTimeCalendar, SetLastWriteTimeRefusesBadDates) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("time.bin");
  ASSERT_TRUE(WriteWholeFile(path, "t"));
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                        Disposition::kOpenExisting));
  EXPECT_FALSE(file.SetLastWriteTime({2023, 2, 29, 12, 0, 0, 0}));
  EXPECT_TRUE(file.SetLastWriteTime({2020, 6, 15, 12, 30, 45, 500}));
  file.Close();
  EXPECT_FALSE(File().SetLastWriteTime({2020, 6, 15, 12, 30, 45, 500}));
}

}  // namespace
}  // namespace gp::platform
