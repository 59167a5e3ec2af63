// Files and folders through the Windows layer: Japanese names, the move that refuses an
// existing destination, unique temporary names, local last-write times, folder queries.
#include <gtest/gtest.h>

#include <cstdio>
#include <set>
#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"
#include "platform_win32/scratch_folder.h"

namespace gp::platform {
namespace {

using testing_win32::ReadWholeFile;
using testing_win32::ScratchFolder;
using testing_win32::WriteWholeFile;

// 表示ソフト.txt: two characters whose trail byte is 0x5C.
const std::string kJapaneseName = "\x95\x5C\x8E\xA6\x83\x5C\x83\x74\x83\x67.txt";

TEST(FilesWin32, JapaneseNamesReachTheDiskAsTheirCharacters) {
  ScratchFolder dir;
  ASSERT_FALSE(dir.path().empty());
  const std::string path = dir / kJapaneseName;
  ASSERT_TRUE(WriteWholeFile(path, "abc"));
  // The wide name on disk is the Unicode form of the code page 932 bytes.
  const std::wstring wide = win32::WidePath(dir.path().c_str()) + L"\\表示ソフト.txt";
  EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
  EXPECT_TRUE(FindFirstExists(path.c_str()));
  EXPECT_TRUE(PathExists(path.c_str()));

  FolderEnumerator e;
  std::string name;
  std::set<std::string> names;
  for (bool ok = e.First((dir / "*.*").c_str(), &name); ok; ok = e.Next(&name)) names.insert(name);
  EXPECT_EQ(names.count(kJapaneseName), 1u);
}

TEST(FilesWin32, MoveFailsOntoAnExistingFileAndKeepsBoth) {
  ScratchFolder dir;
  const std::string a = dir / "a.txt";
  const std::string b = dir / "b.txt";
  ASSERT_TRUE(WriteWholeFile(a, "first"));
  ASSERT_TRUE(WriteWholeFile(b, "second"));
  EXPECT_FALSE(RenameFile(a.c_str(), b.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_ALREADY_EXISTS));
  std::string content;
  ASSERT_TRUE(ReadWholeFile(a, &content));
  EXPECT_EQ(content, "first");
  ASSERT_TRUE(ReadWholeFile(b, &content));
  EXPECT_EQ(content, "second");

  // CopyFile replaces; a plain move to a free name works.
  EXPECT_TRUE(CopyFileReplace(a.c_str(), b.c_str()));
  ASSERT_TRUE(ReadWholeFile(b, &content));
  EXPECT_EQ(content, "first");
  EXPECT_TRUE(RenameFile(a.c_str(), (dir / "c.txt").c_str()));
  EXPECT_FALSE(FindFirstExists(a.c_str()));
}

TEST(FilesWin32, TemporaryNamesAreUniqueEmptyFilesWithPrefixAndHexNumber) {
  ScratchFolder dir;
  std::set<std::string> seen;
  for (int i = 0; i < 5; ++i) {
    char out[260] = {};
    const uint32_t number = MakeTempFileName(dir.path().c_str(), "DIFxyz", 0, out);
    ASSERT_NE(number, 0u);
    char expected[64];
    std::snprintf(expected, sizeof(expected), "\\DIF%X.TMP", number);
    const std::string name(out);
    EXPECT_EQ(name.rfind(dir.path(), 0), 0u);
    // Windows writes the number and extension in capitals, Wine in small letters.
    EXPECT_EQ(UpperCaseCp932(name.substr(dir.path().size())), expected)
        << "prefix cut to three characters";
    EXPECT_TRUE(seen.insert(name).second);
    std::string content = "x";
    ASSERT_TRUE(ReadWholeFile(name, &content));
    EXPECT_TRUE(content.empty());
  }
  char out[260];
  EXPECT_EQ(MakeTempFileName((dir / "missing").c_str(), "DIF", 0, out), 0u);
}

TEST(FilesWin32, LastWriteTimeIsSetFromLocalWallClock) {
  ScratchFolder dir;
  const std::string path = dir / "t.bin";
  File f;
  ASSERT_TRUE(f.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
  const LocalTime when{2003, 7, 14, 9, 41, 30, 0};
  ASSERT_TRUE(f.SetLastWriteTime(when));
  f.Close();

  WIN32_FILE_ATTRIBUTE_DATA data;
  ASSERT_TRUE(GetFileAttributesExW(win32::WidePath(path.c_str()).c_str(), GetFileExInfoStandard,
                                   &data));
  FILETIME local;
  SYSTEMTIME st;
  ASSERT_TRUE(FileTimeToLocalFileTime(&data.ftLastWriteTime, &local));
  ASSERT_TRUE(FileTimeToSystemTime(&local, &st));
  EXPECT_EQ(st.wYear, 2003);
  EXPECT_EQ(st.wMonth, 7);
  EXPECT_EQ(st.wDay, 14);
  EXPECT_EQ(st.wHour, 9);
  EXPECT_EQ(st.wMinute, 41);
  EXPECT_EQ(st.wSecond, 30);
}

TEST(FilesWin32, CalendarRejectsImpossibleDates) {
  EXPECT_TRUE(File::ValidLocalTime({2024, 2, 29, 23, 59, 59, 999}));
  EXPECT_FALSE(File::ValidLocalTime({2023, 2, 29, 0, 0, 0, 0}));
  EXPECT_FALSE(File::ValidLocalTime({2023, 13, 1, 0, 0, 0, 0}));
  EXPECT_FALSE(File::ValidLocalTime({2023, 1, 1, 24, 0, 0, 0}));
  EXPECT_FALSE(File::ValidLocalTime({0, 0, 0, 0, 0, 0, 0}));
  ScratchFolder dir;
  File f;
  ASSERT_TRUE(f.Open((dir / "x").c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew));
  EXPECT_FALSE(f.SetLastWriteTime({2023, 2, 30, 0, 0, 0, 0}));
}

TEST(FilesWin32, ReadWriteSeekAndSizeOfAnOpenFile) {
  ScratchFolder dir;
  const std::string path = dir / "rw.bin";
  File f;
  ASSERT_TRUE(f.Open(path.c_str(), kAccessRead | kAccessWrite, kShareNone,
                     Disposition::kCreateAlways, Hint::kRandomAccess));
  uint32_t done = 0;
  ASSERT_TRUE(f.Write("0123456789", 10, &done));
  EXPECT_EQ(done, 10u);
  uint64_t pos = 0;
  ASSERT_TRUE(f.Seek(-4, Origin::kEnd, &pos));
  EXPECT_EQ(pos, 6u);
  char buf[8] = {};
  ASSERT_TRUE(f.Read(buf, 8, &done));
  EXPECT_EQ(done, 4u);
  EXPECT_EQ(std::string(buf, 4), "6789");
  uint64_t size = 0;
  ASSERT_TRUE(f.Size(&size));
  EXPECT_EQ(size, 10u);
  // A second exclusive open of the same file is refused while this one holds it.
  File g;
  EXPECT_FALSE(g.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  File moved(std::move(f));
  EXPECT_FALSE(f.IsOpen());
  EXPECT_TRUE(moved.IsOpen());
  moved.Close();
  EXPECT_TRUE(g.Open(path.c_str(), kAccessRead, kShareRead, Disposition::kOpenExisting));
  EXPECT_FALSE(File().Open((dir / "none").c_str(), kAccessRead, kShareRead,
                           Disposition::kOpenExisting));
}

TEST(FoldersWin32, QueriesFollowTheLengthRules) {
  char buffer[260];
  const uint32_t n = CurrentFolder(buffer, sizeof(buffer));
  ASSERT_GT(n, 0u);
  ASSERT_LT(n, sizeof(buffer));
  EXPECT_EQ(std::string(buffer).size(), n);
  // Too small: the size needed with its NUL, the buffer untouched.
  char small[4] = {'x', 'x', 'x', 'x'};
  EXPECT_EQ(CurrentFolder(small, 3), n + 1);
  EXPECT_EQ(std::string(small, 4), "xxxx");
  EXPECT_EQ(CurrentFolder(small, 0), n + 1);

  const uint32_t t = TempFolder(buffer, sizeof(buffer));
  ASSERT_GT(t, 0u);
  EXPECT_EQ(buffer[t - 1], '\\');
  ASSERT_GT(WindowsFolder(buffer, sizeof(buffer)), 0u);
  ASSERT_GT(SystemFolder(buffer, sizeof(buffer)), 0u);
  ASSERT_GT(ModuleFilePath(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer).substr(std::string(buffer).size() - 4), ".exe");
}

TEST(FoldersWin32, WindowsAndSystemFolderOverridesAndTheirRemoval) {
  char system_windows[260];
  ASSERT_GT(WindowsFolder(system_windows, sizeof(system_windows)), 0u);
  SetWindowsFolderOverride("D:\\窓");
  SetSystemFolderOverride("D:\\窓\\sys");
  char buffer[260];
  ASSERT_GT(WindowsFolder(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer), "D:\\\x91\x8B");
  ASSERT_GT(SystemFolder(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer), "D:\\\x91\x8B\\sys");
  SetWindowsFolderOverride("");
  SetSystemFolderOverride("");
  ASSERT_GT(WindowsFolder(buffer, sizeof(buffer)), 0u);
  EXPECT_EQ(std::string(buffer), system_windows);
}

TEST(FoldersWin32, RemovalFailsWhileFolderHoldsAnythingOrIsCurrent) {
  ScratchFolder dir;
  const std::string sub = dir / "sub";
  ASSERT_TRUE(MakeFolder(sub.c_str()));
  EXPECT_FALSE(MakeFolder(sub.c_str()));
  ASSERT_TRUE(WriteWholeFile(sub + "\\f", "x"));
  EXPECT_FALSE(RemoveFolder(sub.c_str()));
  ASSERT_TRUE(RemoveFile((sub + "\\f").c_str()));
  EXPECT_FALSE(RemoveFile((sub + "\\f").c_str()));

  char before[260];
  ASSERT_GT(CurrentFolder(before, sizeof(before)), 0u);
  ASSERT_TRUE(ChangeFolder(sub.c_str()));
  EXPECT_FALSE(RemoveFolder(sub.c_str()));
  ASSERT_TRUE(ChangeFolder(before));
  EXPECT_TRUE(RemoveFolder(sub.c_str()));
  EXPECT_FALSE(FindFirstExists(sub.c_str()));
}

}  // namespace
}  // namespace gp::platform
