#include "ui/console_host.h"

namespace gp::ui {

Host& DefaultHost() {
  static ConsoleHost host;
  return host;
}

}  // namespace gp::ui
