// The drive table and the conversion of program paths to host paths and back.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ScratchFolder;

class DriveTable : public testing::PosixPlatformTest {};

void Touch(const std::string& host) {
  const int fd = open(host.c_str(), O_WRONLY | O_CREAT, 0644);
  ASSERT_GE(fd, 0) << host;
  close(fd);
}

TEST_F(DriveTable, ZIsTheHostRootByDefault) {
  std::string host;
  ASSERT_TRUE(ProgramToHostPath("Z:\\usr\\lib", &host));
  EXPECT_EQ(host, "/usr/lib");
  ASSERT_TRUE(ProgramToHostPath("Z:\\", &host));
  EXPECT_EQ(host, "/");
  ASSERT_TRUE(ProgramToHostPath("z:/usr", &host));
  EXPECT_EQ(host, "/usr");
  std::string program;
  ASSERT_TRUE(HostToProgramPath("/usr/lib", &program));
  EXPECT_EQ(program, "Z:\\usr\\lib");
  ASSERT_TRUE(HostToProgramPath("/", &program));
  EXPECT_EQ(program, "Z:\\");
  EXPECT_FALSE(ProgramToHostPath("C:\\Windows", &host));  // C: is not mapped
  EXPECT_EQ(DriveHostFolder('z'), "/");
}

TEST_F(DriveTable, MappedDrivesWorkBothWaysAndTheLongestRootWins) {
  ScratchFolder scratch;
  const std::string root = HostOf(scratch.path());
  ASSERT_EQ(mkdir((root + "/inner").c_str(), 0755), 0);
  ASSERT_TRUE(MapDrive('c', root));
  ASSERT_TRUE(MapDrive('D', root + "/inner/"));
  EXPECT_EQ(DriveHostFolder('C'), root);
  EXPECT_EQ(DriveHostFolder('d'), root + "/inner");

  std::string host;
  ASSERT_TRUE(ProgramToHostPath("C:\\a\\b.txt", &host));
  EXPECT_EQ(host, root + "/a/b.txt");
  // "X:" alone and "X:\" both name the drive root.
  ASSERT_TRUE(ProgramToHostPath("C:\\", &host));
  EXPECT_EQ(host, root);
  ASSERT_TRUE(ProgramToHostPath("C:", &host));
  EXPECT_EQ(host, root);
  // ".." never climbs above the drive root.
  ASSERT_TRUE(ProgramToHostPath("C:\\..\\..\\x", &host));
  EXPECT_EQ(host, root + "/x");

  std::string program;
  ASSERT_TRUE(HostToProgramPath(root + "/a/b.txt", &program));
  EXPECT_EQ(program, "C:\\a\\b.txt");
  ASSERT_TRUE(HostToProgramPath(root, &program));
  EXPECT_EQ(program, "C:\\");
  ASSERT_TRUE(HostToProgramPath(root + "/inner/x", &program));
  EXPECT_EQ(program, "D:\\x");
  ASSERT_TRUE(HostToProgramPath(root + "/innerx", &program));  // not below D:'s root
  EXPECT_EQ(program, "C:\\innerx");
  ASSERT_TRUE(HostToProgramPath("/usr", &program));
  EXPECT_EQ(program, "Z:\\usr");

  // Unmapped, everything goes back through Z:.
  ASSERT_TRUE(MapDrive('C', ""));
  ASSERT_TRUE(MapDrive('D', ""));
  EXPECT_FALSE(ProgramToHostPath("C:\\a", &host));
  ASSERT_TRUE(HostToProgramPath(root + "/inner", &program));
  EXPECT_EQ(program, scratch.Path("inner"));
}

TEST_F(DriveTable, BadMappingsAndPathsAreRefused) {
  EXPECT_FALSE(MapDrive('1', "/tmp"));
  EXPECT_FALSE(MapDrive('C', "relative/folder"));
  std::string host;
  EXPECT_FALSE(ProgramToHostPath("\\\\server\\share\\x", &host));
  EXPECT_FALSE(ProgramToHostPath("Z:\\a\\b:c", &host));
  EXPECT_FALSE(ProgramToHostPath("Z:\\a\\b|c", &host));
  EXPECT_FALSE(ProgramToHostPath("Z:\\a\\b*", &host));
  EXPECT_FALSE(ProgramToHostPath("Z:\\a\\b\x01", &host));
  EXPECT_FALSE(ProgramToHostPath("Z:\\a\\\x83", &host));  // a lead byte without its trail
  EXPECT_FALSE(ProgramToHostPath("", &host));
  EXPECT_FALSE(ProgramToHostPath(nullptr, &host));
  // A trail byte 0x7C ('|') inside a double-byte character is no forbidden character.
  EXPECT_TRUE(ProgramToHostPath("Z:\\tmp\\\x83\x7C", &host));
  std::string program;
  EXPECT_FALSE(HostToProgramPath("/tmp/back\\slash", &program));
  EXPECT_FALSE(HostToProgramPath("/tmp/\xF0\x9F\x98\x80", &program));  // no code page 932 form
  ResetDriveTable();
  ASSERT_TRUE(MapDrive('Z', ""));
  EXPECT_FALSE(HostToProgramPath("/tmp", &program));
}

TEST_F(DriveTable, RelativePathsFollowTheRealCurrentDirectory) {
  ScratchFolder scratch;
  const std::string root = HostOf(scratch.path());
  ASSERT_EQ(mkdir((root + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(chdir((root + "/sub").c_str()), 0);
  std::string host;
  ASSERT_TRUE(ProgramToHostPath("file.txt", &host));
  EXPECT_EQ(host, root + "/sub/file.txt");
  ASSERT_TRUE(ProgramToHostPath("..\\other", &host));
  EXPECT_EQ(host, root + "/other");
  // A path from the root of the current drive, and the drive-relative form.
  ASSERT_TRUE(ProgramToHostPath("\\usr", &host));
  EXPECT_EQ(host, "/usr");
  ASSERT_TRUE(ProgramToHostPath("Z:x", &host));
  EXPECT_EQ(host, root + "/sub/x");
}

TEST_F(DriveTable, ComponentsAreFoundWithoutRegardToCaseButExactSpellingWins) {
  ScratchFolder scratch;
  const std::string root = HostOf(scratch.path());
  ASSERT_EQ(mkdir((root + "/Folder").c_str(), 0755), 0);
  Touch(root + "/Folder/Name.TXT");
  std::string host;
  ASSERT_TRUE(ProgramToHostPath((scratch.path() + "\\FOLDER\\name.txt").c_str(), &host));
  EXPECT_EQ(host, root + "/Folder/Name.TXT");
  // A missing last component keeps its spelling below the folder that was found.
  ASSERT_TRUE(ProgramToHostPath((scratch.path() + "\\folder\\New.txt").c_str(), &host));
  EXPECT_EQ(host, root + "/Folder/New.txt");

  // Two entries that differ only in case: the exact spelling is taken, either way round.
  Touch(root + "/Folder/name.txt");
  ASSERT_TRUE(ProgramToHostPath((scratch.path() + "\\Folder\\name.txt").c_str(), &host));
  EXPECT_EQ(host, root + "/Folder/name.txt");
  ASSERT_TRUE(ProgramToHostPath((scratch.path() + "\\Folder\\Name.TXT").c_str(), &host));
  EXPECT_EQ(host, root + "/Folder/Name.TXT");

  // Host names in UTF-8 match their code page 932 forms: full-width "Ab" asked as "aB".
  Touch(root + "/\xEF\xBC\xA1\xEF\xBD\x82");
  ASSERT_TRUE(ProgramToHostPath((scratch.path() + "\\\x82\x81\x82\x61").c_str(), &host));
  EXPECT_EQ(host, root + "/\xEF\xBC\xA1\xEF\xBD\x82");
}

TEST_F(DriveTable, TrailingDotsAndBlanksOfTheLastComponentAreDropped) {
  std::string host;
  ASSERT_TRUE(ProgramToHostPath("Z:\\tmp\\name.txt. .", &host));
  EXPECT_EQ(host, "/tmp/name.txt");
  ResolvedPath resolved;
  ASSERT_TRUE(ResolveProgramPath("Z:\\tmp\\dir\\", &resolved));
  EXPECT_TRUE(resolved.trailing_separator);
  EXPECT_EQ(resolved.host, "/tmp/dir");
  EXPECT_EQ(resolved.parent, "/tmp");
  EXPECT_EQ(resolved.literal_name, "dir");
}

TEST_F(DriveTable, CurrentFolderReportsTheCurrentDirectoryThroughTheTable) {
  ScratchFolder scratch;
  const std::string root = HostOf(scratch.path());
  ASSERT_EQ(chdir(root.c_str()), 0);
  ASSERT_TRUE(MapDrive('E', root));
  char buffer[512];
  ASSERT_EQ(CurrentFolder(buffer, sizeof buffer), 3u);
  EXPECT_STREQ(buffer, "E:\\");
  ASSERT_TRUE(ChangeFolder("E:\\"));
}

TEST(WildcardMatching, WindowsRules) {
  EXPECT_TRUE(MatchesWildcard("*.*", "noext"));
  EXPECT_TRUE(MatchesWildcard("*.*", "."));
  EXPECT_TRUE(MatchesWildcard("*", "a.b.c"));
  EXPECT_TRUE(MatchesWildcard("*.TXT", "a.txt"));
  EXPECT_FALSE(MatchesWildcard("*.txt", "a.txt.bak"));
  EXPECT_TRUE(MatchesWildcard("a?c", "abc"));
  EXPECT_FALSE(MatchesWildcard("a?c", "ac"));
  EXPECT_TRUE(MatchesWildcard("a?c", "a\x83\x5C" "c"));  // one double-byte character
  EXPECT_TRUE(MatchesWildcard("name.*", "name"));
  EXPECT_TRUE(MatchesWildcard("name.*", "NAME.doc"));
  EXPECT_TRUE(MatchesWildcard("*.", "noext"));
  EXPECT_FALSE(MatchesWildcard("*.", "has.ext"));
  EXPECT_FALSE(MatchesWildcard("", "x"));
  // A backslash trail byte in the pattern is part of its character.
  EXPECT_TRUE(MatchesWildcard("\x83\x5C*", "\x83\x5C\x95\x5C.txt"));
  EXPECT_FALSE(MatchesWildcard("\x83\x5C*", "\x95\x5C.txt"));
  // Long runs of stars do not blow up.
  EXPECT_FALSE(MatchesWildcard(std::string(200, '*') + "x", std::string(5000, 'a')));
}

}  // namespace
}  // namespace gp::platform
