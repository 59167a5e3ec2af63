// genpatch-stub.exe as a user meets it when the package is not usable: what it shows, in
// which caption, and its exit code. Each case runs the program with its temporary folder
// pointed at a fresh folder.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/win32/windows_support.h"
#include "support/desktop_win32.h"
#include "uidriver/ui_driver.h"

namespace gp {
namespace {

constexpr uint32_t kWaitMs = 30000;

// A fresh folder (code page 932 program path and UTF-8 host path) removed at the end.
class Folder {
 public:
  Folder() {
    char temp[260];
    char name[260];
    if (platform::TempFolder(temp, sizeof(temp)) == 0 ||
        platform::MakeTempFileName(temp, "gps", 0, name) == 0) {
      return;
    }
    platform::RemoveFile(name);
    if (!platform::MakeFolder(name)) return;
    program_ = name;
    platform::ProgramToHostPath(name, &host_);
  }
  ~Folder() {
    platform::FolderEnumerator e;
    std::string entry;
    std::vector<std::string> names;
    for (bool ok = e.First((program_ + "\\*").c_str(), &entry); ok; ok = e.Next(&entry)) {
      if (entry != "." && entry != "..") names.push_back(entry);
    }
    e.Close();
    for (const auto& n : names) {
      const std::string path = program_ + "\\" + n;
      platform::WriteAttributes(path.c_str(), platform::kAttrNormal);
      platform::RemoveFile(path.c_str());
    }
    platform::RemoveFolder(program_.c_str());
  }
  const std::string& program() const { return program_; }
  const std::string& host() const { return host_; }

  std::vector<std::string> Names() const {
    platform::FolderEnumerator e;
    std::string entry;
    std::vector<std::string> names;
    for (bool ok = e.First((program_ + "\\*").c_str(), &entry); ok; ok = e.Next(&entry)) {
      if (entry != "." && entry != "..") names.push_back(entry);
    }
    return names;
  }

 private:
  std::string program_;
  std::string host_;
};

class StubWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string& desktop = test::DesktopProblem();
    ASSERT_TRUE(desktop.empty()) << desktop;
    ASSERT_FALSE(temp_.host().empty());
    ASSERT_FALSE(work_.host().empty());
    stub_ = uidriver::WindowsPathOf(GP_STUB_EXE);
  }

  bool Start(const std::string& argument) {
    return process_.Start(stub_, argument, {{"TMP", temp_.host()}, {"TEMP", temp_.host()}});
  }

  // Waits for the message box, reads it and presses OK.
  void ExpectMessageThenOk(const std::string& caption, const std::string& text) {
    uidriver::Window box =
        uidriver::WaitForDialog(&process_, process_.Id(), uidriver::kMessageBoxTextId, kWaitMs);
    ASSERT_NE(box, nullptr) << "no message box appeared";
    EXPECT_EQ(uidriver::WindowText(box), caption);
    EXPECT_EQ(uidriver::ControlText(box, uidriver::kMessageBoxTextId), text);
    EXPECT_TRUE(uidriver::PressButton(box, 1));
  }

  void ExpectExit(uint32_t code) {
    uint32_t exit_code = 0;
    ASSERT_TRUE(process_.Wait(kWaitMs, &exit_code)) << "the program did not end";
    EXPECT_EQ(exit_code, code);
  }

  Folder temp_;
  Folder work_;
  std::string stub_;
  uidriver::Process process_;
};

TEST_F(StubWindows, ProgramWithoutAppendedDataEndsWithOneSilentlyAndCleanly) {
  ASSERT_TRUE(Start(""));
  // No message box is waiting for an answer: the program ends on its own.
  ExpectExit(1);
  for (const auto& name : temp_.Names()) {
    EXPECT_FALSE(name.size() >= 3 && platform::UpperCaseCp932(name.substr(0, 3)) == "DIF")
        << "left behind: " << name;
  }
}

TEST_F(StubWindows, DataFileWithoutTheTrailerMagicIsInvalid) {
  std::string bytes(200, 'x');
  bytes.replace(bytes.size() - 13, 13, "SDIFF(Ver1.1)");
  const std::string path = work_.program() + "\\bad.dat";
  {
    platform::File f;
    ASSERT_TRUE(f.Open(path.c_str(), platform::kAccessWrite, platform::kShareNone,
                       platform::Disposition::kCreateNew));
    uint32_t done = 0;
    ASSERT_TRUE(f.Write(bytes.data(), static_cast<uint32_t>(bytes.size()), &done));
  }
  ASSERT_TRUE(Start(work_.host() + "\\bad.dat"));
  ExpectMessageThenOk("解凍エラー!", "無効なデータファイルです。");
  ExpectExit(1);
}

TEST_F(StubWindows, MissingDataFileCannotBeExtracted) {
  ASSERT_TRUE(Start(work_.host() + "\\missing.dat"));
  ExpectMessageThenOk("解凍エラー!", "自動解凍を実行できません。");
  ExpectExit(1);
}

TEST_F(StubWindows, QuotedArgumentIsTakenWithItsQuotes) {
  const std::string path = work_.program() + "\\x.dat";
  {
    platform::File f;
    ASSERT_TRUE(f.Open(path.c_str(), platform::kAccessWrite, platform::kShareNone,
                       platform::Disposition::kCreateNew));
  }
  // The file exists, but the name with quotes around it does not.
  ASSERT_TRUE(Start("\"" + work_.host() + "\\x.dat\""));
  ExpectMessageThenOk("解凍エラー!", "自動解凍を実行できません。");
  ExpectExit(1);
}

}  // namespace
}  // namespace gp
