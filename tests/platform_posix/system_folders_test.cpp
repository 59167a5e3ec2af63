// The temporary folder, unique temporary names, and the Windows and system folders.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ScopedEnvironment;
using testing::ScratchFolder;

class SystemFolders : public testing::PosixPlatformTest {};

std::string Query(uint32_t (*query)(char*, uint32_t)) {
  char buffer[1024];
  const uint32_t length = query(buffer, sizeof buffer);
  if (length == 0 || length >= sizeof buffer) return "<failed>";
  return std::string(buffer, length);
}

TEST_F(SystemFolders, TempFolderComesFromTheEnvironment) {
  {
    ScopedEnvironment own("GENPATCH_TEMP_DIR", "/var/tmp/");
    ScopedEnvironment tmpdir("TMPDIR", "/srv");
    EXPECT_EQ(Query(&TempFolder), "Z:\\var\\tmp\\");
  }
  {
    ScopedEnvironment own("GENPATCH_TEMP_DIR", nullptr);
    ScopedEnvironment tmpdir("TMPDIR", "/srv");
    EXPECT_EQ(Query(&TempFolder), "Z:\\srv\\");
  }
  {
    ScopedEnvironment own("GENPATCH_TEMP_DIR", nullptr);
    ScopedEnvironment tmpdir("TMPDIR", nullptr);
    EXPECT_EQ(Query(&TempFolder), "Z:\\tmp\\");
  }
  {
    // The root of a mapped drive already ends with a backslash.
    ScopedEnvironment own("GENPATCH_TEMP_DIR", "/srv");
    ASSERT_TRUE(MapDrive('T', "/srv"));
    EXPECT_EQ(Query(&TempFolder), "T:\\");
    ASSERT_TRUE(MapDrive('T', ""));
  }
  {
    // A folder whose last character ends in the byte 0x5C still gets its backslash.
    ScopedEnvironment own("GENPATCH_TEMP_DIR", "/srv/\xE3\x82\xBD");  // katakana so
    EXPECT_EQ(Query(&TempFolder), "Z:\\srv\\\x83\x5C\\");
  }
}

TEST_F(SystemFolders, TempNamesHaveFourUpperCaseHexDigitsAndTheTmpExtension) {
  ScratchFolder scratch;
  const std::regex pattern("DIF[0-9A-F]{4}\\.TMP");
  for (int i = 0; i < 40; ++i) {
    char out[260];
    const uint32_t number = MakeTempFileName(scratch.path().c_str(), "DIF", 0, out);
    ASSERT_NE(number, 0u);
    ASSERT_LE(number, 0xFFFFu);
    const std::string name(out);
    ASSERT_EQ(name.substr(0, scratch.path().size() + 1), scratch.path() + "\\");
    const std::string leaf = name.substr(scratch.path().size() + 1);
    EXPECT_TRUE(std::regex_match(leaf, pattern)) << leaf;
    EXPECT_EQ(std::stoul(leaf.substr(3, 4), nullptr, 16), number);
    struct stat st;
    ASSERT_EQ(stat(HostOf(name).c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 0);
  }
}

TEST_F(SystemFolders, TempNamesSkipNamesInUseInAnyCase) {
  ScratchFolder scratch;
  const std::string host = HostOf(scratch.path());
  // Names 0x4000-0x4007 are taken, in lower case; the next number to try is 0x4000.
  for (uint32_t number = 0x4000; number < 0x4008; ++number) {
    char lower[32];
    std::snprintf(lower, sizeof lower, "/abc%04x.tmp", number);
    FILE* f = std::fopen((host + lower).c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
  }
  posix::State().last_temp_number = 0x3FFF;
  char out[260];
  EXPECT_EQ(MakeTempFileName(scratch.path().c_str(), "abc", 0, out), 0x4008u);
  struct stat st;
  EXPECT_EQ(stat((host + "/abc4008.TMP").c_str(), &st), 0);
  // After 0xFFFF comes 1: the number 0 is never used.
  posix::State().last_temp_number = 0xFFFF;
  EXPECT_EQ(MakeTempFileName(scratch.path().c_str(), "abc", 0, out), 1u);
  EXPECT_EQ(stat((host + "/abc0001.TMP").c_str(), &st), 0);
}

TEST_F(SystemFolders, TempNamePrefixIsThreeCharactersAndLongFoldersFail) {
  ScratchFolder scratch;
  char out[260];
  // A double-byte character counts as one character of the prefix.
  const std::string prefix = "\x83\x5C" "ABCD";
  const uint32_t number = MakeTempFileName(scratch.path().c_str(), prefix.c_str(), 0, out);
  ASSERT_NE(number, 0u);
  const std::string leaf = std::string(out).substr(scratch.path().size() + 1);
  EXPECT_EQ(leaf.substr(0, 4), "\x83\x5C" "AB");
  EXPECT_EQ(leaf.size(), 4u + 4u + 4u);
  // No room left for the name in 260 bytes.
  const std::string deep = "Z:\\" + std::string(250, 'd');
  EXPECT_EQ(MakeTempFileName(deep.c_str(), "DIF", 0, out), 0u);
  EXPECT_EQ(MakeTempFileName(deep.c_str(), "DIF", 5, out), 0u);
}

TEST_F(SystemFolders, WindowsAndSystemFoldersFollowOverridesThenEnvironmentThenWinePrefix) {
  ScopedEnvironment windows("GENPATCH_WINDOWS_DIR", nullptr);
  ScopedEnvironment system("GENPATCH_SYSTEM_DIR", nullptr);
  {
    ScopedEnvironment prefix("WINEPREFIX", "/opt/prefix");
    EXPECT_EQ(Query(&WindowsFolder), "Z:\\opt\\prefix\\drive_c\\windows");
    EXPECT_EQ(Query(&SystemFolder), "Z:\\opt\\prefix\\drive_c\\windows\\system32");
  }
  {
    ScopedEnvironment prefix("WINEPREFIX", nullptr);
    ScopedEnvironment home("HOME", "/home/user");
    EXPECT_EQ(Query(&WindowsFolder), "Z:\\home\\user\\.wine\\drive_c\\windows");
    EXPECT_EQ(Query(&SystemFolder), "Z:\\home\\user\\.wine\\drive_c\\windows\\system32");
  }
  ScopedEnvironment windows_set("GENPATCH_WINDOWS_DIR", "/srv/win");
  ScopedEnvironment system_set("GENPATCH_SYSTEM_DIR", "/srv/sys");
  EXPECT_EQ(Query(&WindowsFolder), "Z:\\srv\\win");
  EXPECT_EQ(Query(&SystemFolder), "Z:\\srv\\sys");
  SetWindowsFolderOverride("/data/windows");
  SetSystemFolderOverride("/data/system");
  EXPECT_EQ(Query(&WindowsFolder), "Z:\\data\\windows");
  EXPECT_EQ(Query(&SystemFolder), "Z:\\data\\system");
  SetWindowsFolderOverride("");
  SetSystemFolderOverride("");
  EXPECT_EQ(Query(&WindowsFolder), "Z:\\srv\\win");
  EXPECT_EQ(Query(&SystemFolder), "Z:\\srv\\sys");
}

TEST_F(SystemFolders, ModulePathIsTheRunningProgram) {
  char expected[4096];
  const ssize_t length = readlink("/proc/self/exe", expected, sizeof expected - 1);
  ASSERT_GT(length, 0);
  std::string program;
  ASSERT_TRUE(HostToProgramPath(std::string(expected, static_cast<size_t>(length)), &program));
  EXPECT_EQ(Query(&ModuleFilePath), program);
}

}  // namespace
}  // namespace gp::platform
