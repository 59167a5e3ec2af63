// A file held open by another process: it cannot be opened for exclusive writing, deleted or
// moved until that process lets it go.
#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"
#include "platform_win32/scratch_folder.h"
#include "uidriver/ui_driver.h"

namespace gp::platform {
namespace {

using testing_win32::ScratchFolder;
using testing_win32::WriteWholeFile;

// Starts the holder program on a file and waits until it has the file open.
class HeldFile {
 public:
  explicit HeldFile(const std::string& cp932_path) {
    const std::wstring tag = std::to_wstring(GetCurrentProcessId()) + L"_" +
                             std::to_wstring(GetTickCount64());
    ready_name_ = L"gp_holder_ready_" + tag;
    release_name_ = L"gp_holder_release_" + tag;
    ready_.Reset(CreateEventW(nullptr, TRUE, FALSE, ready_name_.c_str()));
    release_.Reset(CreateEventW(nullptr, TRUE, FALSE, release_name_.c_str()));
    std::string host_path;
    if (!ProgramToHostPath(cp932_path.c_str(), &host_path)) return;
    std::string ready_utf8, release_utf8;
    win32::Utf8FromWide(ready_name_, &ready_utf8);
    win32::Utf8FromWide(release_name_, &release_utf8);
    const std::string args = "\"" + host_path + "\" " + ready_utf8 + " " + release_utf8;
    if (!holder_.Start(uidriver::WindowsPathOf(GP_FILE_HOLDER), args)) return;
    HANDLE waits[] = {ready_.Get()};
    holding_ = WaitForMultipleObjects(1, waits, FALSE, 30000) == WAIT_OBJECT_0;
  }

  bool holding() const { return holding_; }

  // Lets the file go; true when the holder ended normally.
  bool Release() {
    SetEvent(release_.Get());
    uint32_t code = 99;
    return holder_.Wait(30000, &code) && code == 0;
  }

 private:
  std::wstring ready_name_, release_name_;
  win32::ScopedHandle ready_, release_;
  uidriver::Process holder_;
  bool holding_ = false;
};

TEST(InUseWin32, FileHeldByAnotherProcessRefusesExclusiveWriteDeleteAndMove) {
  ScratchFolder dir;
  const std::string path = dir / "\x83\x5C\x83\x74\x83\x67.exe";  // ソフト.exe
  const std::string moved = dir / "moved.exe";
  ASSERT_TRUE(WriteWholeFile(path, "program"));
  ASSERT_TRUE(CanOpenExclusiveForWrite(path.c_str()));

  HeldFile held(path);
  ASSERT_TRUE(held.holding());
  EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_FALSE(RemoveFile(path.c_str()));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(RenameFile(path.c_str(), moved.c_str()));
  EXPECT_TRUE(PathExists(path.c_str())) << "the file is still there";
  EXPECT_FALSE(CanOpenExclusiveForWrite(path.c_str())) << "the test leaves no handle behind";

  ASSERT_TRUE(held.Release());
  EXPECT_TRUE(CanOpenExclusiveForWrite(path.c_str()));
  EXPECT_TRUE(RenameFile(path.c_str(), moved.c_str()));
  EXPECT_TRUE(RemoveFile(moved.c_str()));
}

TEST(InUseWin32, MissingFilesAndFoldersAreNotOpenForWriting) {
  ScratchFolder dir;
  EXPECT_FALSE(CanOpenExclusiveForWrite((dir / "missing").c_str()));
  EXPECT_FALSE(CanOpenExclusiveForWrite(dir.path().c_str()));
  EXPECT_FALSE(PathExists((dir / "missing").c_str()));
  EXPECT_TRUE(PathExists(dir.path().c_str()));
}

}  // namespace
}  // namespace gp::platform
