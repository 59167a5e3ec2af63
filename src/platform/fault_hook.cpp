// The counting and tracing of the fault hook (see fault_hook.h); the two ways of ending the
// process and of writing the trace are in posix/ and win32/.
#include "platform/fault_hook.h"

#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace gp::platform::fault {
namespace {

struct HookState {
  bool active = false;
  uint64_t fault_at = 0;  // 0: never
  std::string trace;      // host path, empty: no trace
  uint64_t changes = 0;
};

HookState Load() {
  HookState state;
  const std::string at = GetEnvironment("GENPATCH_FAULT_AT");
  for (const char c : at) {
    if (c < '0' || c > '9' || state.fault_at > UINT64_MAX / 10 - 1) {
      state.fault_at = 0;
      break;
    }
    state.fault_at = state.fault_at * 10 + static_cast<uint64_t>(c - '0');
  }
  state.trace = GetEnvironment("GENPATCH_FAULT_TRACE");
  state.active = state.fault_at != 0 || !state.trace.empty();
  return state;
}

const char* KindName(Change kind) {
  switch (kind) {
    case Change::kDelete: return "delete";
    case Change::kRename: return "rename";
    case Change::kMakeFolder: return "mkdir";
    case Change::kRemoveFolder: return "rmdir";
    case Change::kCreate: return "create";
  }
  return "?";
}

HookState& State() {
  static HookState state = Load();
  return state;
}

}  // namespace

bool Active() { return State().active; }

void BeforeChange(Change kind, const char* path) {
  HookState& state = State();
  if (!state.active) return;
  ++state.changes;
  if (!state.trace.empty()) {
    const std::string line = std::to_string(state.changes) + " " + KindName(kind) + " " +
                             Cp932ToUtf8Lossy(path != nullptr ? path : "") + "\n";
    AppendToTrace(state.trace.c_str(), line.data(), static_cast<unsigned>(line.size()));
  }
  if (state.changes == state.fault_at) EndProcessAbruptly();
}

}  // namespace gp::platform::fault
