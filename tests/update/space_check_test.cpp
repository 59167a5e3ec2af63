// The size of the file a data stream builds, as the space check counts it before the passes.
#include <gtest/gtest.h>

#include <vector>

#include "storage/docfile_access.h"
#include "storage/work_docfile.h"
#include "stream_builders.h"
#include "update/space_check.h"
#include "update_fixture.h"

namespace gp {
namespace {

class BuiltFileSizeTest : public ::testing::Test {
 protected:
  void TearDown() override {
    work_.DestroyAccess();
    work_.Reset();
  }
  void Install(const std::vector<uint8_t>& stream) {
    test::InstallWorkDocfile(work_, dir_, {{"1\\_\\s", stream}});
  }
  bool Size(bool whole, uint64_t* size) {
    return BuiltFileSize(*work_.access, "1\\_\\s", whole, size);
  }

  test::TempDir dir_;
  WorkDocfileState work_;
};

TEST_F(BuiltFileSizeTest, WholeFileIsItsBlocksWithoutTheirFraming) {
  const std::vector<uint8_t> content(100000, 'w');
  Install(test::WholeFileBytes(content, {32767, 32767, 32767, 1699}));
  uint64_t size = 0;
  ASSERT_TRUE(Size(true, &size));
  EXPECT_EQ(size, content.size());
}

TEST_F(BuiltFileSizeTest, DiffIsWhatItsCommandsAppend) {
  Install(
      test::DiffBytes().Literal("abc").ShortCopy(700, 5).LongCopy(9, 70000).Literal("z").bytes());
  uint64_t size = 0;
  ASSERT_TRUE(Size(false, &size));
  EXPECT_EQ(size, 3u + 700u + 70000u + 1u);
}

TEST_F(BuiltFileSizeTest, StreamThatEndsInsideACommandCannotBeSized) {
  std::vector<uint8_t> diff = test::DiffBytes().Literal("abcdef").bytes();
  diff.pop_back();
  Install(diff);
  uint64_t size = 0;
  EXPECT_FALSE(Size(false, &size));
}

}  // namespace
}  // namespace gp
