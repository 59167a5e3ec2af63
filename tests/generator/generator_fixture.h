// Shared set-up of the generator tests: release folders written from maps of files, packages
// generated from them, the lists read back, and the real update run on an installed copy.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builder/generator.h"
#include "support/release_files.h"
#include "support/test_support.h"
#include "update/file_list.h"
#include "update/run_state.h"

namespace gp::test {

// The bytes of a stream of a generated package (pulled from its source), or an empty optional
// result when the package has no such stream.
bool StreamBytes(const builder::GeneratedPackage& package, const std::string& path,
                 std::vector<uint8_t>* bytes);

// A list entry with its strings in UTF-8.
struct Entry {
  uint32_t old_crc = 0;
  uint32_t new_crc = 0;
  std::string old_data_path;
  std::string new_data_path;
  std::string old_name;
  std::string new_name;
};
// List k of a generated package.
std::vector<Entry> ReadList(const builder::GeneratedPackage& package, int k);
// The entry of list k whose new (or, for removals, old) name is name; null when none.
const Entry* FindEntry(const std::vector<Entry>& list, const std::string& name);

struct RunResult {
  RunOutcome outcome = RunOutcome::kNotRun;
  std::vector<std::string> transcript;
};

// Writes a package data file and runs the update on destination in-process, answering message
// boxes with the scripted host's defaults; group folders are set from groups (name -> folder).
RunResult RunPackage(const std::filesystem::path& package, const std::filesystem::path& destination,
                     const std::map<std::string, std::filesystem::path>& groups = {});

}  // namespace gp::test
