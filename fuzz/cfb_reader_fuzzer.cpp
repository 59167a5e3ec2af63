// Fuzz target of the compound-file reader: open the input, walk every storage, look every
// element up again by name, read every stream (with a seek), all within a bounded amount of
// output. Seeds in fuzz/corpus/cfb_reader/ come from `cfb_tool seeds` (tests/cfb/tools).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "cfb/byte_source.h"
#include "cfb/cfb_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace gp::cfb;
  MemoryByteSource source(data, size);
  CompoundFileReader reader;
  if (reader.Open(&source) != Status::kOk) return 0;
  std::vector<TreeItem> items;
  if (reader.WalkTree(&items) != Status::kOk) return 0;
  constexpr uint64_t kReadBudget = 64u << 20;
  uint64_t total = 0;
  uint8_t buffer[4096];
  for (const TreeItem& item : items) {
    EntryInfo info;
    if (reader.GetEntry(item.entry, &info) != Status::kOk) continue;
    if (item.entry != CompoundFileReader::kRootEntry) {
      uint32_t found = 0;
      reader.FindChild(item.parent, info.name, &found);
    }
    std::vector<uint32_t> children;
    reader.ListChildren(item.entry, &children);
    if (info.type != EntryType::kStream) continue;
    StreamReader stream;
    if (reader.OpenStream(item.entry, &stream) != Status::kOk) continue;
    uint64_t position = 0;
    stream.Seek(-1, SeekOrigin::kEnd, &position);
    size_t done = 0;
    stream.Read(buffer, sizeof buffer, &done);
    stream.Seek(0, SeekOrigin::kBegin, &position);
    while (total < kReadBudget) {
      if (stream.Read(buffer, sizeof buffer, &done) != Status::kOk || done == 0) break;
      total += done;
    }
  }
  return 0;
}
