#include <cstdlib>

#include "platform/platform.h"

namespace gp::platform {

void SetEnvironment(const char* name, const char* value) {
  if (value == nullptr) {
    unsetenv(name);
  } else {
    setenv(name, value, 1);
  }
}

}  // namespace gp::platform
