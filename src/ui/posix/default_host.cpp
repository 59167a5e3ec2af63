#include <new>

#include "ui/console_host.h"

namespace gp::ui {

std::unique_ptr<Host> NewDefaultHost() {
  return std::unique_ptr<Host>(new (std::nothrow) ConsoleHost());
}

}  // namespace gp::ui
