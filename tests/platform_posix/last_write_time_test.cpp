// The last-write time is set from local wall-clock fields in the host's time zone.
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ScopedEnvironment;
using testing::ScratchFolder;
using testing::WriteWholeFile;

class LastWriteTime : public testing::PosixPlatformTest {};

// Seconds since the epoch of the given UTC calendar time.
time_t Utc(int year, int month, int day, int hour, int minute, int second) {
  struct tm fields = {};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return timegm(&fields);
}

void StampAndCheck(const std::string& path, const LocalTime& local, time_t expected) {
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
  ASSERT_TRUE(file.SetLastWriteTime(local));
  file.Close();
  struct stat st;
  ASSERT_EQ(stat(HostOf(path).c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, expected);
  EXPECT_EQ(st.st_mtim.tv_nsec, local.millisecond * 1000000L);
}

TEST_F(LastWriteTime, IsTakenAsLocalTimeOfTheZone) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("stamped.bin");
  ASSERT_TRUE(WriteWholeFile(path, "s"));
  {
    // Nine hours ahead of UTC, no summer time (written as a rule: no zone database needed).
    ScopedEnvironment zone("TZ", "JST-9");
    StampAndCheck(path, {2021, 3, 4, 5, 6, 7, 890}, Utc(2021, 3, 4, 5, 6, 7) - 9 * 3600);
    StampAndCheck(path, {2021, 1, 1, 3, 0, 0, 0}, Utc(2020, 12, 31, 18, 0, 0));
  }
  {
    // Central Europe: summer time from the last Sunday of March to the last of October.
    ScopedEnvironment zone("TZ", "CET-1CEST,M3.5.0,M10.5.0/3");
    StampAndCheck(path, {2022, 7, 1, 12, 0, 0, 1}, Utc(2022, 7, 1, 10, 0, 0));
    StampAndCheck(path, {2022, 1, 1, 12, 0, 0, 999}, Utc(2022, 1, 1, 11, 0, 0));
  }
  {
    ScopedEnvironment zone("TZ", "UTC0");
    StampAndCheck(path, {1970, 1, 1, 0, 0, 0, 0}, 0);
    StampAndCheck(path, {2100, 12, 31, 23, 59, 59, 0}, Utc(2100, 12, 31, 23, 59, 59));
  }
}

TEST_F(LastWriteTime, LeavesTheAccessTimeAndRefusesBadDates) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("access.bin");
  ASSERT_TRUE(WriteWholeFile(path, "a"));
  const std::string host = HostOf(path);
  struct timespec times[2] = {{1000000000, 0}, {1100000000, 0}};
  ASSERT_EQ(utimensat(AT_FDCWD, host.c_str(), times, 0), 0);

  ScopedEnvironment zone("TZ", "JST-9");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                        Disposition::kOpenExisting));
  EXPECT_FALSE(file.SetLastWriteTime({2021, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(file.SetLastWriteTime({2021, 1, 1, 0, 0, 60, 0}));
  struct stat st;
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);  // nothing set by the refused calls
  ASSERT_TRUE(file.SetLastWriteTime({2020, 2, 29, 10, 0, 0, 0}));
  file.Close();
  // A handle that may only read cannot set times, as on Windows.
  ASSERT_TRUE(file.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_FALSE(file.SetLastWriteTime({2021, 1, 1, 0, 0, 0, 0}));
  file.Close();
  ASSERT_EQ(stat(host.c_str(), &st), 0);
  EXPECT_EQ(st.st_atim.tv_sec, 1000000000);
  EXPECT_EQ(st.st_mtim.tv_sec, Utc(2020, 2, 29, 1, 0, 0));
}

TEST_F(LastWriteTime, ATimeTheFileSystemCannotHoldIsReportedAsNotSet) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("early.bin");
  ASSERT_TRUE(WriteWholeFile(path, "e"));
  ScopedEnvironment zone("TZ", "UTC0");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kOpenExisting));
  // 1601 is a valid date; whether it is kept depends on the file system (ext4 stops at 1901).
  const bool set = file.SetLastWriteTime({1601, 1, 1, 0, 0, 0, 0});
  file.Close();
  struct stat st;
  ASSERT_EQ(stat(HostOf(path).c_str(), &st), 0);
  EXPECT_EQ(set, st.st_mtim.tv_sec == Utc(1601, 1, 1, 0, 0, 0));
}

}  // namespace
}  // namespace gp::platform
