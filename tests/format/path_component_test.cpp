// The package's rule for names and folders: each reason a component is refused, and the two
// readings of a double-byte character whose second byte is 0x5C.
#include "format/path_component.h"

#include <gtest/gtest.h>

#include <string>

namespace gp::format {
namespace {

TEST(PathComponentTest, EachReasonForRefusingAComponent) {
  EXPECT_EQ(CheckComponent("readme.txt"), ComponentProblem::kNone);
  EXPECT_EQ(CheckComponent("a:b"), ComponentProblem::kColon);
  EXPECT_EQ(CheckComponent(".. "), ComponentProblem::kClimbing);
  EXPECT_EQ(CheckComponent("a/../b"), ComponentProblem::kClimbing);
  EXPECT_EQ(CheckComponent("what?"), ComponentProblem::kForbiddenCharacter);
  EXPECT_EQ(CheckComponent("a/b"), ComponentProblem::kForbiddenCharacter);
  EXPECT_EQ(CheckComponent(std::string("a\x01", 2)), ComponentProblem::kForbiddenCharacter);
  EXPECT_EQ(CheckComponent("trailing."), ComponentProblem::kTrailingDotOrBlank);
  EXPECT_EQ(CheckComponent("trailing "), ComponentProblem::kTrailingDotOrBlank);
}

TEST(PathComponentTest, ASecondByte5CIsReadBothWays) {
  const std::string table = "\x95\x5C";  // 表
  // As characters a name of its own; cut at every 0x5C byte, ".." follows.
  EXPECT_EQ(CheckComponent(table + "x"), ComponentProblem::kNone);
  EXPECT_EQ(CheckComponent(table + ".."), ComponentProblem::kClimbing);
  EXPECT_FALSE(IsContainedPath("sub\\" + table + "..\\x"));
  EXPECT_TRUE(IsContainedPath("sub\\" + table + "\\x"));
  // A ':' after a lead byte is still a ':' (0x3A is never a second byte).
  EXPECT_EQ(CheckComponent("\x81:"), ComponentProblem::kColon);
}

TEST(PathComponentTest, ContainedPathsAreRelativeWithoutColonsOrClimbing) {
  EXPECT_TRUE(IsContainedPath("a\\b\\"));
  EXPECT_TRUE(IsContainedPath(""));
  EXPECT_FALSE(IsContainedPath("\\a"));
  EXPECT_FALSE(IsContainedPath("/a"));
  EXPECT_FALSE(IsContainedPath("C:a"));
  EXPECT_FALSE(IsContainedPath("a\\...\\b"));
}

}  // namespace
}  // namespace gp::format
