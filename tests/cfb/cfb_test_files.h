// Helpers of the compound-file tests: sample trees, a full read-back through the reader, and a
// structural check of the sibling trees of a file's directory.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cfb/cfb_reader.h"
#include "cfb/cfb_writer.h"

namespace gp::cfb::testing {

// Deterministic pseudo-random bytes, different for each seed.
std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed);

// Every stream of a file by path ("a/b/c", UTF-8 for ASCII names, \uXXXX for the others).
using StreamMap = std::map<std::string, std::vector<uint8_t>>;

// Opens bytes, walks the tree, reads every stream whole. Returns the first error.
Status ReadAllStreams(const std::vector<uint8_t>& file, StreamMap* streams);

// Adds every stream of map to writer, creating the storages on the way.
Status AddStreams(CompoundFileWriter* writer, const StreamMap& streams);

// A tree with nested storages, streams of sizes around every boundary (0, 1, 63, 64, 4095,
// 4096, 4097, several sectors) and mixed-case names.
StreamMap SampleTree();

// Checks the directory of a file for the sibling-tree rules: order by the compound file's name
// rule, no red node with a red child, the same number of black nodes on every path, the top
// of each tree black. Returns an empty text when all hold, else what failed.
std::string CheckSiblingTrees(const std::vector<uint8_t>& file);

std::string PathText(const std::u16string& name);

}  // namespace gp::cfb::testing
