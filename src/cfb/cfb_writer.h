// Writer of compound files from a tree of storages and streams.
//
// The output is deterministic: the same tree gives the same bytes whatever order the children
// were added in (siblings are sorted by the compound file's name order, times and class ids
// are zero). Streams under 4096 bytes go to the mini stream. Each storage's children form a
// balanced binary tree coloured as a valid red-black tree.
//
// Stream data is pulled from a source per stream while the file is written, in ascending
// offsets and in pieces of at most 1 MiB, so a file of hundreds of megabytes never needs its
// data in memory. What the writer itself holds: the tree (about 100 bytes per element), the FAT
// (4 bytes per 512-byte sector of output: 8 KiB per MiB), the mini FAT and one 1 MiB buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "cfb/cfb_status.h"

namespace gp::cfb {

// Fills out with exactly size bytes of the stream starting at offset; false on failure.
using StreamSource = std::function<bool(uint64_t offset, uint8_t* out, size_t size)>;
// Takes the next size bytes of the compound file; false on failure.
using ByteSink = std::function<bool(const uint8_t* data, size_t size)>;

class CompoundFileWriter {
 public:
  static constexpr int kRoot = 0;
  // The largest stream a version 3 file can hold.
  static constexpr uint64_t kMaxStreamSizeV3 = 0x80000000ull;

  // version 3 (512-byte sectors) or 4 (4096-byte sectors).
  explicit CompoundFileWriter(int version = 3);

  // Adds a storage under parent (kRoot or an id from an earlier AddStorage); *id receives the
  // new storage's id.
  Status AddStorage(int parent, std::u16string_view name, int* id);
  // Adds a stream of size bytes whose data comes from source when the file is written.
  Status AddStream(int parent, std::u16string_view name, uint64_t size, StreamSource source);
  // Adds a stream whose bytes the writer keeps (convenient for small streams).
  Status AddStreamBytes(int parent, std::u16string_view name, std::vector<uint8_t> bytes);

  // Writes the whole file to sink. May be called more than once.
  Status Write(const ByteSink& sink) const;
  Status WriteToVector(std::vector<uint8_t>* out) const;

 private:
  struct Node {
    std::u16string name;
    bool is_stream = false;
    int parent = -1;
    uint64_t size = 0;
    StreamSource source;
    std::vector<int> children;
  };
  Status AddNode(int parent, std::u16string_view name, Node node, int* id);

  int version_;
  std::vector<Node> nodes_;
};

// The bytes of an empty version 3 compound file (a root storage with no children).
std::vector<uint8_t> EmptyCompoundFile();

}  // namespace gp::cfb
