// The files of a patch fuzz target: a small old file, and paths for the diff and the target,
// in a folder of their own that goes away with the object.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "codec/crc32.h"
#include "platform/platform.h"
#include "ui/scripted_host.h"
#include "update/run_context.h"

namespace {

namespace fs = std::filesystem;

constexpr size_t kOldSize = 256;

struct Scratch {
  fs::path folder;
  std::string old_path, diff_path, target_path;
  fs::path target_host;
  std::vector<uint8_t> old;
  uint32_t old_crc = 0;
  bool ready = false;
  gp::ui::ScriptedHost host;
  gp::RunContext context{host};

  explicit Scratch(const std::string& prefix) {
    std::random_device seed;
    folder = fs::temp_directory_path() / (prefix + std::to_string(seed()));
    std::error_code ec;
    fs::create_directories(folder, ec);
    if (ec) return;
    old.resize(kOldSize);
    for (size_t i = 0; i < old.size(); ++i) old[i] = static_cast<uint8_t>(i * 7 + 3);
    std::ofstream(folder / "old.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(old.data()), static_cast<std::streamsize>(old.size()));
    old_crc = gp::Crc32Update(0, old.data(), static_cast<int64_t>(old.size()));
    target_host = folder / "target.bin";
    ready = gp::platform::HostToProgramPath((folder / "old.bin").string(), &old_path) &&
            gp::platform::HostToProgramPath((folder / "diff.bin").string(), &diff_path) &&
            gp::platform::HostToProgramPath(target_host.string(), &target_path);
  }
  ~Scratch() {
    std::error_code ec;
    fs::remove_all(folder, ec);
  }
};

}  // namespace
