#include "cli/safe_output.h"

#include <array>
#include <csignal>
#include <system_error>

#include "builder/release_tree.h"
#include "cli/cli_error.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

// The files an interrupt removes. Slots are filled and emptied outside the handler; the handler
// only reads them.
constexpr int kSlots = 8;
std::array<fs::path, kSlots> g_paths;
volatile std::sig_atomic_t g_used[kSlots] = {};

extern "C" void OnInterrupt(int signal_number) {
  for (int i = 0; i < kSlots; ++i) {
    if (g_used[i]) {
      std::error_code ec;
      fs::remove(g_paths[static_cast<size_t>(i)], ec);
    }
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void InstallInterruptCleanup() {
  std::signal(SIGINT, OnInterrupt);
  std::signal(SIGTERM, OnInterrupt);
}

RemovedOnInterrupt::RemovedOnInterrupt(const fs::path& path) {
  for (int i = 0; i < kSlots; ++i) {
    if (!g_used[i]) {
      g_paths[static_cast<size_t>(i)] = path;
      g_used[i] = 1;
      slot_ = i;
      return;
    }
  }
}

RemovedOnInterrupt::~RemovedOnInterrupt() {
  if (slot_ >= 0) g_used[slot_] = 0;
}

OutputFile::OutputFile(const fs::path& path, bool force)
    : path_(path), temp_(fs::path(path).concat(".partial")), temp_cleanup_(temp_) {
  const std::string shown = builder::DisplayPath(path);
  std::error_code ec;
  const fs::path folder = fs::absolute(path, ec).parent_path();
  if (!fs::is_directory(folder, ec)) {
    throw CliError("cannot write " + shown + ": the folder " + builder::DisplayPath(folder) +
                   " does not exist");
  }
  const fs::file_status status = fs::symlink_status(path, ec);
  if (fs::is_directory(status)) throw CliError("cannot write " + shown + ": it is a folder");
  if (fs::exists(status) && !force) {
    throw CliError(shown + " exists; give --force to replace it");
  }
}

OutputFile::~OutputFile() {
  if (committed_) return;
  std::error_code ec;
  fs::remove(temp_, ec);
}

fs::path OutputFile::Scratch(const char* suffix) const { return fs::path(path_).concat(suffix); }

void OutputFile::Commit() {
  std::error_code ec;
  fs::rename(temp_, path_, ec);
  if (ec) throw CliError("cannot write " + builder::DisplayPath(path_) + ": " + ec.message());
  committed_ = true;
}

}  // namespace gp::cli
