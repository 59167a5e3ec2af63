// Hidden, system and archive attributes, kept in the user.DOSATTRIB extended attribute.
#include <sys/xattr.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::HostOf;
using testing::ReadWholeFile;
using testing::ScratchFolder;
using testing::WriteWholeFile;

class DosAttributes : public testing::PosixPlatformTest {
 protected:
  // True when the file system of the scratch folder keeps user extended attributes.
  static bool Supported(const std::string& host) {
    if (setxattr(host.c_str(), "user.gp_probe", "1", 1, 0) != 0) return false;
    removexattr(host.c_str(), "user.gp_probe");
    return true;
  }
};

TEST_F(DosAttributes, FilesWithoutTheAttributeReportArchive) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("plain.txt");
  ASSERT_TRUE(WriteWholeFile(path, "p"));
  removexattr(HostOf(path).c_str(), "user.DOSATTRIB");
  EXPECT_EQ(ReadAttributes(path.c_str()), kAttrArchive);
  removexattr(HostOf(scratch.path()).c_str(), "user.DOSATTRIB");
  EXPECT_EQ(ReadAttributes(scratch.path().c_str()), kAttrDirectory);
}

TEST_F(DosAttributes, HiddenAndSystemAreKeptAsText) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("hidden.txt");
  ASSERT_TRUE(WriteWholeFile(path, "h"));
  if (!Supported(HostOf(path))) GTEST_SKIP() << "no user extended attributes here";
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrHidden | kAttrSystem | kAttrReadOnly));
  char text[32] = {};
  const ssize_t length = getxattr(HostOf(path).c_str(), "user.DOSATTRIB", text, sizeof text - 1);
  ASSERT_GT(length, 0);
  EXPECT_EQ(std::string(text, static_cast<size_t>(length)), "0x6");
  EXPECT_EQ(ReadAttributes(path.c_str()), kAttrHidden | kAttrSystem | kAttrReadOnly);
  // Nothing at all: the normal attribute.
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrNormal));
  EXPECT_EQ(ReadAttributes(path.c_str()), kAttrNormal);
  // Folders keep theirs too, the read-only one included.
  ASSERT_TRUE(WriteAttributes(scratch.path().c_str(), kAttrHidden | kAttrReadOnly));
  EXPECT_EQ(ReadAttributes(scratch.path().c_str()),
            kAttrDirectory | kAttrHidden | kAttrReadOnly);
  ASSERT_TRUE(WriteAttributes(scratch.path().c_str(), kAttrNormal));
}

TEST_F(DosAttributes, NewFilesTakeTheAttributesGiven) {
  ScratchFolder scratch;
  if (!Supported(HostOf(scratch.path()))) GTEST_SKIP() << "no user extended attributes here";
  const std::string path = scratch.Path("new.txt");
  File file;
  ASSERT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateNew,
                        Hint::kNone, kAttrHidden));
  file.Close();
  EXPECT_EQ(ReadAttributes(path.c_str()), kAttrHidden | kAttrArchive);
}

TEST_F(DosAttributes, HiddenFilesAreNotReplacedUnawares) {
  ScratchFolder scratch;
  const std::string path = scratch.Path("hidden.txt");
  const std::string source = scratch.Path("source.txt");
  ASSERT_TRUE(WriteWholeFile(path, "kept"));
  ASSERT_TRUE(WriteWholeFile(source, "new"));
  if (!Supported(HostOf(path))) GTEST_SKIP() << "no user extended attributes here";
  ASSERT_TRUE(WriteAttributes(path.c_str(), kAttrHidden));
  File file;
  // Create-always over a hidden file must name the hidden attribute.
  EXPECT_FALSE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways));
  EXPECT_FALSE(CopyFileReplace(source.c_str(), path.c_str()));
  EXPECT_EQ(ReadWholeFile(path), "kept");
  EXPECT_TRUE(file.Open(path.c_str(), kAccessWrite, kShareNone, Disposition::kCreateAlways,
                        Hint::kNone, kAttrHidden));
  file.Close();
  EXPECT_EQ(ReadWholeFile(path), "");
}

}  // namespace
}  // namespace gp::platform
