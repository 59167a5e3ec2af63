// Release folders as maps of files, for tests that build packages with the generator: write
// them, read a tree back, compare trees, and write a package data file.
#pragma once

#include <filesystem>
#include <map>
#include <string>

#include "builder/generator.h"
#include "support/test_support.h"

namespace gp::test {

// Relative path (UTF-8, '/' separated) -> content.
using Files = std::map<std::string, std::string>;

// size bytes of seeded pseudo-random data: the same seed gives the same bytes.
std::string Pattern(size_t size, uint32_t seed);

// Writes files under root (creating folders) with one fixed last-write time.
void WriteRelease(const std::filesystem::path& root, const Files& files);
// Every file below root as relative path (UTF-8, '/') -> content.
Files ReadRelease(const std::filesystem::path& root);

// Compares two trees and names the paths that differ (contents are not printed).
void ExpectSameFiles(const Files& actual, const Files& expected);

// Generates and writes a package data file; returns its path.
std::filesystem::path WriteDataFile(const builder::GeneratorInput& input, const TempDir& dir,
                                    const std::string& name);

}  // namespace gp::test
