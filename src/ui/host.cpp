#include "ui/host.h"

namespace gp::ui {

namespace {
Host* g_installed = nullptr;
}  // namespace

Host& CurrentHost() { return g_installed ? *g_installed : DefaultHost(); }

void SetHost(Host* host) { g_installed = host; }

}  // namespace gp::ui
