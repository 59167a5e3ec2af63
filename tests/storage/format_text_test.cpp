// The formatting the run log, the progress texts and the stream paths use, against the C
// library's snprintf for every conversion and flag it takes.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <cstdio>
#include <string>

#include "base/format_text.h"

namespace gp {
namespace {

template <typename... Args>
std::string Libc(const char* format, Args... args) {
  char buffer[256];
  std::snprintf(buffer, sizeof buffer, format, args...);
  return buffer;
}

TEST(FormatText, MatchesTheCLibrary) {
  EXPECT_EQ(FormatText("%d|%i|%d", 0, -7, INT_MIN), Libc("%d|%i|%d", 0, -7, INT_MIN));
  EXPECT_EQ(FormatText("%u|%u", 0u, UINT_MAX), Libc("%u|%u", 0u, UINT_MAX));
  EXPECT_EQ(FormatText("%08X|%x|%X", 0xABCu, 0xdeadbeefu, 0u), Libc("%08X|%x|%X", 0xABCu, 0xdeadbeefu, 0u));
  EXPECT_EQ(FormatText("%04u-%02u|%5d|%05d|%3s|%c", 7u, 12u, -42, -42, "ab", 'z'),
            Libc("%04u-%02u|%5d|%05d|%3s|%c", 7u, 12u, -42, -42, "ab", 'z'));
  EXPECT_EQ(FormatText("%llu|%lld|%zu|%lu", ULLONG_MAX, LLONG_MIN, size_t{123456}, 99ul),
            Libc("%llu|%lld|%zu|%lu", ULLONG_MAX, LLONG_MIN, size_t{123456}, 99ul));
  EXPECT_EQ(FormatText("100%% of %s", "\x83\x5C\x83\x74\x83\x67"), "100% of \x83\x5C\x83\x74\x83\x67");
}

TEST(FormatText, IntoABufferCutsAndTerminates) {
  char buffer[6] = {'x', 'x', 'x', 'x', 'x', 'x'};
  FormatInto(buffer, sizeof buffer, ".new%d", 12345);
  EXPECT_STREQ(buffer, ".new1");
  FormatInto(buffer, sizeof buffer, "%d\\list.dat", 7);
  EXPECT_STREQ(buffer, "7\\lis");
}

}  // namespace
}  // namespace gp
