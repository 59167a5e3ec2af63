// Large working buffers: zeroed, usable over their whole size, given back and replaced.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "platform/platform.h"

namespace gp::platform {
namespace {

TEST(WorkBuffers, ZeroedWritableAndReplaceable) {
  WorkBuffer buffer;
  EXPECT_FALSE(buffer.Allocate(0));
  EXPECT_EQ(buffer.data(), nullptr);

  // Larger than a huge page and not a multiple of one: every byte is there and starts at 0.
  const size_t size = (size_t{5} << 20) + 123;
  ASSERT_TRUE(buffer.Allocate(size));
  ASSERT_NE(buffer.data(), nullptr);
  EXPECT_EQ(buffer.size(), size);
  size_t nonzero = 0;
  for (size_t i = 0; i < size; i += 4096) nonzero += buffer.data()[i] != 0;
  EXPECT_EQ(nonzero, 0u);
  EXPECT_EQ(buffer.data()[size - 1], 0);
  std::memset(buffer.data(), 0xA5, size);
  EXPECT_EQ(buffer.data()[size - 1], 0xA5);

  // A new allocation replaces the old one with fresh zeroed memory.
  ASSERT_TRUE(buffer.Allocate(100));
  EXPECT_EQ(buffer.size(), 100u);
  EXPECT_EQ(buffer.data()[99], 0);
  buffer.Release();
  EXPECT_EQ(buffer.data(), nullptr);
  EXPECT_EQ(buffer.size(), 0u);

  // A size no address space holds is refused, not a crash.
  EXPECT_FALSE(buffer.Allocate(SIZE_MAX - 4096));
  EXPECT_EQ(buffer.data(), nullptr);
}

}  // namespace
}  // namespace gp::platform
