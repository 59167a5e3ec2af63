// Helpers for the Linux-only platform tests: environment changes undone at the end of a test,
// host paths of program paths.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

#include "platform/platform.h"
#include "platform/posix/host_paths.h"
#include "platform/scratch_folder.h"

namespace gp::platform::testing {

// Sets or removes an environment variable for the lifetime of the object.
class ScopedEnvironment {
 public:
  ScopedEnvironment(const char* name, const char* value) : name_(name) {
    if (const char* old = getenv(name)) old_ = std::string(old);
    if (value == nullptr) {
      unsetenv(name);
    } else {
      setenv(name, value, 1);
    }
    if (name_ == "TZ") tzset();
  }
  ~ScopedEnvironment() {
    if (old_) {
      setenv(name_.c_str(), old_->c_str(), 1);
    } else {
      unsetenv(name_.c_str());
    }
    if (name_ == "TZ") tzset();
  }
  ScopedEnvironment(const ScopedEnvironment&) = delete;
  ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string HostOf(const std::string& program) {
  std::string host;
  EXPECT_TRUE(ProgramToHostPath(program.c_str(), &host)) << program;
  return host;
}

// Every test starts and ends with the layer's start-up state.
class PosixPlatformTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetPlatformState(); }
  void TearDown() override { ResetPlatformState(); }
};

}  // namespace gp::platform::testing
