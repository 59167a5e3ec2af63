// The process services of the Linux build: command line, environment, lines from standard
// input, the message loop and the restart request that is never carried out.
#include <stdio.h>

#include <gtest/gtest.h>

#include <string>

#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/posix/posix_internal.h"
#include "posix_test_support.h"

namespace gp::platform {
namespace {

using testing::ScopedEnvironment;

class ProcessServices : public testing::PosixPlatformTest {};

TEST_F(ProcessServices, CommandLineArgumentJoinsTheArgumentsAsGiven) {
  char program[] = "genpatch-stub";
  char quoted[] = "\"C:\\My Files\\data.pak\"";
  char second[] = "two  spaces";
  char* argv[] = {program, quoted, second, nullptr};
  EXPECT_EQ(CommandLineArgument(3, argv), "\"C:\\My Files\\data.pak\" two  spaces");
  EXPECT_EQ(CommandLineArgument(1, argv), "");
  EXPECT_EQ(CommandLineArgument(0, argv), "");
}

TEST_F(ProcessServices, EnvironmentAndInstance) {
  ScopedEnvironment value("GP_PLATFORM_TEST_VALUE", "v\xE3\x82\xBD");
  EXPECT_EQ(GetEnvironment("GP_PLATFORM_TEST_VALUE"), "v\xE3\x82\xBD");
  ScopedEnvironment none("GP_PLATFORM_TEST_NONE", nullptr);
  EXPECT_EQ(GetEnvironment("GP_PLATFORM_TEST_NONE"), "");
  EXPECT_EQ(GetEnvironment(nullptr), "");
  EXPECT_NE(InstanceHandle(), nullptr);
  EXPECT_EQ(InstanceHandle(), InstanceHandle());
}

TEST_F(ProcessServices, LinesComeWithoutTheirBreaks) {
  char text[] = "first\r\nsecond\n\nlast";
  FILE* stream = fmemopen(text, sizeof text - 1, "r");
  ASSERT_NE(stream, nullptr);
  std::string line;
  ASSERT_TRUE(posix::ReadLineFrom(stream, &line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(posix::ReadLineFrom(stream, &line));
  EXPECT_EQ(line, "second");
  ASSERT_TRUE(posix::ReadLineFrom(stream, &line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(posix::ReadLineFrom(stream, &line));
  EXPECT_EQ(line, "last");
  EXPECT_FALSE(posix::ReadLineFrom(stream, &line));
  fclose(stream);
}

TEST_F(ProcessServices, MessageLoopReturnsTheQuitCode) {
  DispatchPendingMessages();
  EXPECT_EQ(PostQuitAndRunMessageLoop(0), 0);
  EXPECT_EQ(PostQuitAndRunMessageLoop(7), 7);
}

TEST_F(ProcessServices, RestartIsReportedAndRecordedOnly) {
  EXPECT_FALSE(RestartRequested());
  ::testing::internal::CaptureStderr();
  RestartWindows();
  const std::string said = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(said,
            "genpatch: a restart of Windows was requested; nothing is restarted on this "
            "system.\n");
  EXPECT_TRUE(RestartRequested());
  ResetPlatformState();
  EXPECT_FALSE(RestartRequested());
}

TEST_F(ProcessServices, StandardStreamsWriteTheirText) {
  ::testing::internal::CaptureStdout();
  WriteStdout("out \xE3\x82\xBD\n");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "out \xE3\x82\xBD\n");
  ::testing::internal::CaptureStderr();
  WriteStderr("err");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "err");
}

}  // namespace
}  // namespace gp::platform
