#include "cfb/cfb_writer.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/entry_names.h"

namespace gp::cfb {

namespace {

constexpr size_t kChunk = 1 << 20;

uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

// Collects output into 1 MiB pieces before handing them to the sink.
class BufferedSink {
 public:
  explicit BufferedSink(const ByteSink& sink) : sink_(sink) { buffer_.reserve(kChunk); }
  bool Put(const uint8_t* data, size_t size) {
    while (size != 0) {
      const size_t n = std::min(size, kChunk - buffer_.size());
      buffer_.insert(buffer_.end(), data, data + n);
      data += n;
      size -= n;
      if (buffer_.size() == kChunk && !Flush()) return false;
    }
    return true;
  }
  bool Zeros(size_t size) {
    static const uint8_t kZeros[512] = {};
    while (size != 0) {
      const size_t n = std::min(size, sizeof kZeros);
      if (!Put(kZeros, n)) return false;
      size -= n;
    }
    return true;
  }
  bool Flush() {
    if (buffer_.empty()) return true;
    const bool ok = sink_(buffer_.data(), buffer_.size());
    buffer_.clear();
    return ok;
  }

 private:
  const ByteSink& sink_;
  std::vector<uint8_t> buffer_;
};

// Writes a list of u32 values as whole sectors, padding with pad.
bool PutU32Sectors(BufferedSink* out, const std::vector<uint32_t>& values, uint64_t sectors,
                   uint32_t sector_size, uint32_t pad) {
  const uint64_t total = sectors * (sector_size / 4);
  uint8_t word[4];
  for (uint64_t i = 0; i < total; ++i) {
    StoreU32(word, i < values.size() ? values[static_cast<size_t>(i)] : pad);
    if (!out->Put(word, 4)) return false;
  }
  return true;
}

}  // namespace

CompoundFileWriter::CompoundFileWriter(int version) : version_(version == 4 ? 4 : 3) {
  Node root;
  root.name = u"Root Entry";
  nodes_.push_back(std::move(root));
}

Status CompoundFileWriter::AddNode(int parent, std::u16string_view name, Node node, int* id) {
  if (parent < 0 || static_cast<size_t>(parent) >= nodes_.size() || nodes_[parent].is_stream) {
    return Status::kBadArgument;
  }
  if (!IsValidName(name)) return Status::kBadName;
  for (int child : nodes_[parent].children) {
    if (CompareNames(nodes_[child].name, name) == 0) return Status::kDuplicateName;
  }
  node.name.assign(name);
  node.parent = parent;
  const int new_id = static_cast<int>(nodes_.size());
  nodes_.push_back(std::move(node));
  nodes_[parent].children.push_back(new_id);
  if (id != nullptr) *id = new_id;
  return Status::kOk;
}

Status CompoundFileWriter::AddStorage(int parent, std::u16string_view name, int* id) {
  return AddNode(parent, name, Node(), id);
}

Status CompoundFileWriter::AddStream(int parent, std::u16string_view name, uint64_t size,
                                     StreamSource source) {
  if (version_ == 3 && size > kMaxStreamSizeV3) return Status::kTooLarge;
  if (!source && size != 0) return Status::kBadArgument;
  Node node;
  node.is_stream = true;
  node.size = size;
  node.source = std::move(source);
  return AddNode(parent, name, std::move(node), nullptr);
}

Status CompoundFileWriter::AddStreamBytes(int parent, std::u16string_view name,
                                          std::vector<uint8_t> bytes) {
  const uint64_t size = bytes.size();
  auto shared = std::make_shared<std::vector<uint8_t>>(std::move(bytes));
  return AddStream(parent, name, size, [shared](uint64_t offset, uint8_t* out, size_t n) {
    if (offset > shared->size() || n > shared->size() - offset) return false;
    if (n != 0) std::memcpy(out, shared->data() + offset, n);
    return true;
  });
}

Status CompoundFileWriter::Write(const ByteSink& sink) const {
  const uint32_t sector_size = version_ == 4 ? 4096u : 512u;
  const uint32_t per_fat = sector_size / 4;

  // Directory order: the root, then breadth first, the children of each storage sorted.
  std::vector<int> order{kRoot};
  std::vector<uint32_t> dir_id(nodes_.size(), kNoEntry);
  std::vector<std::vector<int>> sorted(nodes_.size());
  dir_id[kRoot] = 0;
  for (size_t i = 0; i < order.size(); ++i) {
    const int node = order[i];
    std::vector<int>& kids = sorted[node];
    kids = nodes_[node].children;
    std::sort(kids.begin(), kids.end(), [this](int a, int b) {
      return CompareNames(nodes_[a].name, nodes_[b].name) < 0;
    });
    for (int kid : kids) {
      dir_id[kid] = static_cast<uint32_t>(order.size());
      order.push_back(kid);
    }
  }
  const size_t entry_count = order.size();

  // Sibling trees: balanced, the incomplete deepest level red, all else black.
  std::vector<uint32_t> left(entry_count, kNoEntry), right(entry_count, kNoEntry);
  std::vector<uint8_t> color(entry_count, kColorBlack);
  std::vector<uint32_t> top(entry_count, kNoEntry);  // by directory id of the storage
  for (int node : order) {
    const std::vector<int>& kids = sorted[node];
    if (kids.empty()) continue;
    int full_levels = 0;
    while ((size_t{2} << full_levels) - 1 <= kids.size()) ++full_levels;
    struct Range {
      size_t lo, hi;
      int depth;
      uint32_t* link;
    };
    std::vector<Range> work{{0, kids.size(), 0, &top[dir_id[node]]}};
    while (!work.empty()) {
      const Range r = work.back();
      work.pop_back();
      if (r.lo >= r.hi) continue;
      const size_t mid = r.lo + (r.hi - r.lo) / 2;
      const uint32_t id = dir_id[kids[mid]];
      *r.link = id;
      color[id] = r.depth >= full_levels ? kColorRed : kColorBlack;
      work.push_back({r.lo, mid, r.depth + 1, &left[id]});
      work.push_back({mid + 1, r.hi, r.depth + 1, &right[id]});
    }
  }

  // Stream placement: small streams in the mini stream, the rest in regular sectors.
  std::vector<uint32_t> start(entry_count, kEndOfChain);
  uint64_t mini_sectors = 0;
  uint64_t big_sectors = 0;
  for (int node : order) {
    const Node& n = nodes_[node];
    if (!n.is_stream || n.size == 0) continue;
    if (n.size < kMiniStreamCutoff) {
      if (mini_sectors > kMaxRegularSector) return Status::kTooLarge;
      start[dir_id[node]] = static_cast<uint32_t>(mini_sectors);
      mini_sectors += CeilDiv(n.size, kMiniSectorSize);
    } else {
      big_sectors += CeilDiv(n.size, sector_size);
      if (big_sectors > kMaxRegularSector) return Status::kTooLarge;
    }
  }
  const uint64_t mini_stream_sectors = CeilDiv(mini_sectors * kMiniSectorSize, sector_size);
  const uint64_t mini_fat_sectors = CeilDiv(mini_sectors * 4, sector_size);
  const uint64_t dir_sectors = CeilDiv(entry_count * kEntrySize, sector_size);
  const uint64_t data_sectors = mini_fat_sectors + dir_sectors + mini_stream_sectors + big_sectors;
  uint64_t fat_sectors = CeilDiv(data_sectors, per_fat);
  uint64_t difat_sectors = 0;
  for (;;) {
    difat_sectors = fat_sectors > kHeaderDifatCount
                        ? CeilDiv(fat_sectors - kHeaderDifatCount, per_fat - 1)
                        : 0;
    const uint64_t needed = CeilDiv(data_sectors + fat_sectors + difat_sectors, per_fat);
    if (needed <= fat_sectors) break;
    fat_sectors = needed;
  }
  const uint64_t total_sectors = fat_sectors + difat_sectors + data_sectors;
  if (total_sectors > kMaxRegularSector) return Status::kTooLarge;

  // Sector map: FAT, DIFAT, mini FAT, directory, mini stream, then the large streams.
  const uint32_t first_difat = static_cast<uint32_t>(fat_sectors);
  const uint32_t first_mini_fat = static_cast<uint32_t>(first_difat + difat_sectors);
  const uint32_t first_dir = static_cast<uint32_t>(first_mini_fat + mini_fat_sectors);
  const uint32_t first_mini_stream = static_cast<uint32_t>(first_dir + dir_sectors);
  uint32_t next = static_cast<uint32_t>(first_mini_stream + mini_stream_sectors);

  std::vector<uint32_t> fat(static_cast<size_t>(total_sectors), kFreeSector);
  auto chain = [&fat](uint32_t first, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i) {
      fat[first + i] = i + 1 < count ? static_cast<uint32_t>(first + i + 1) : kEndOfChain;
    }
  };
  for (uint64_t i = 0; i < fat_sectors; ++i) fat[i] = kFatSector;
  for (uint64_t i = 0; i < difat_sectors; ++i) fat[first_difat + i] = kDifatSector;
  chain(first_mini_fat, mini_fat_sectors);
  chain(first_dir, dir_sectors);
  chain(first_mini_stream, mini_stream_sectors);
  std::vector<uint32_t> mini_fat(static_cast<size_t>(mini_sectors), kFreeSector);
  for (int node : order) {
    const Node& n = nodes_[node];
    if (!n.is_stream || n.size == 0) continue;
    const uint32_t id = dir_id[node];
    if (n.size < kMiniStreamCutoff) {
      const uint64_t count = CeilDiv(n.size, kMiniSectorSize);
      for (uint64_t i = 0; i < count; ++i) {
        mini_fat[start[id] + i] =
            i + 1 < count ? static_cast<uint32_t>(start[id] + i + 1) : kEndOfChain;
      }
    } else {
      const uint64_t count = CeilDiv(n.size, sector_size);
      start[id] = next;
      chain(next, count);
      next = static_cast<uint32_t>(next + count);
    }
  }

  BufferedSink out(sink);
  // Header.
  {
    std::vector<uint8_t> header(sector_size, 0);
    uint8_t* h = header.data();
    std::memcpy(h + kHeaderSignature, kSignature, sizeof kSignature);
    StoreU16(h + kHeaderMinorVersion, kMinorVersion);
    StoreU16(h + kHeaderMajorVersion, static_cast<uint16_t>(version_));
    StoreU16(h + kHeaderByteOrder, kByteOrderMark);
    StoreU16(h + kHeaderSectorShift, version_ == 4 ? kSectorShiftV4 : kSectorShiftV3);
    StoreU16(h + kHeaderMiniSectorShift, kMiniSectorShift);
    StoreU32(h + kHeaderDirectorySectors, version_ == 4 ? static_cast<uint32_t>(dir_sectors) : 0);
    StoreU32(h + kHeaderFatSectors, static_cast<uint32_t>(fat_sectors));
    StoreU32(h + kHeaderFirstDirectorySector, first_dir);
    StoreU32(h + kHeaderMiniStreamCutoff, kMiniStreamCutoff);
    StoreU32(h + kHeaderFirstMiniFatSector, mini_fat_sectors ? first_mini_fat : kEndOfChain);
    StoreU32(h + kHeaderMiniFatSectors, static_cast<uint32_t>(mini_fat_sectors));
    StoreU32(h + kHeaderFirstDifatSector, difat_sectors ? first_difat : kEndOfChain);
    StoreU32(h + kHeaderDifatSectors, static_cast<uint32_t>(difat_sectors));
    for (uint32_t i = 0; i < kHeaderDifatCount; ++i) {
      StoreU32(h + kHeaderDifat + 4 * i, i < fat_sectors ? i : kFreeSector);
    }
    if (!out.Put(h, header.size())) return Status::kIoError;
  }
  // FAT.
  if (!PutU32Sectors(&out, fat, fat_sectors, sector_size, kFreeSector)) return Status::kIoError;
  // DIFAT: the FAT sector numbers after the first 109, each sector ending with the next one's.
  {
    std::vector<uint32_t> difat;
    difat.reserve(static_cast<size_t>(difat_sectors * per_fat));
    uint64_t fat_index = kHeaderDifatCount;
    for (uint64_t s = 0; s < difat_sectors; ++s) {
      for (uint32_t i = 0; i + 1 < per_fat; ++i) {
        difat.push_back(fat_index < fat_sectors ? static_cast<uint32_t>(fat_index) : kFreeSector);
        ++fat_index;
      }
      difat.push_back(s + 1 < difat_sectors ? static_cast<uint32_t>(first_difat + s + 1)
                                            : kEndOfChain);
    }
    if (!PutU32Sectors(&out, difat, difat_sectors, sector_size, kFreeSector)) {
      return Status::kIoError;
    }
  }
  // Mini FAT.
  if (!PutU32Sectors(&out, mini_fat, mini_fat_sectors, sector_size, kFreeSector)) {
    return Status::kIoError;
  }
  // Directory.
  {
    const uint64_t slots = dir_sectors * (sector_size / kEntrySize);
    uint8_t e[kEntrySize];
    for (uint64_t i = 0; i < slots; ++i) {
      std::memset(e, 0, sizeof e);
      StoreU32(e + kEntryLeft, kNoEntry);
      StoreU32(e + kEntryRight, kNoEntry);
      StoreU32(e + kEntryChild, kNoEntry);
      if (i < entry_count) {
        const uint32_t id = static_cast<uint32_t>(i);
        const Node& n = nodes_[order[i]];
        for (size_t c = 0; c < n.name.size(); ++c) StoreU16(e + kEntryName + 2 * c, n.name[c]);
        StoreU16(e + kEntryNameLength, static_cast<uint16_t>((n.name.size() + 1) * 2));
        e[kEntryType] = id == 0 ? kTypeRoot : (n.is_stream ? kTypeStream : kTypeStorage);
        e[kEntryColor] = color[id];
        StoreU32(e + kEntryLeft, left[id]);
        StoreU32(e + kEntryRight, right[id]);
        if (!n.is_stream) StoreU32(e + kEntryChild, top[id]);
        if (id == 0) {
          StoreU32(e + kEntryStartSector, mini_stream_sectors ? first_mini_stream : kEndOfChain);
          StoreU64(e + kEntrySize64, mini_sectors * kMiniSectorSize);
        } else if (n.is_stream) {
          StoreU32(e + kEntryStartSector, start[id]);
          StoreU64(e + kEntrySize64, n.size);
        }
      }
      if (!out.Put(e, sizeof e)) return Status::kIoError;
    }
  }
  // Mini stream, then the large streams, each pulled from its source.
  std::vector<uint8_t> buffer;
  uint64_t mini_bytes = 0;
  for (int node : order) {
    const Node& n = nodes_[node];
    if (!n.is_stream || n.size == 0 || n.size >= kMiniStreamCutoff) continue;
    buffer.resize(static_cast<size_t>(n.size));
    if (!n.source(0, buffer.data(), buffer.size())) return Status::kSourceFailed;
    const uint64_t padded = CeilDiv(n.size, kMiniSectorSize) * kMiniSectorSize;
    if (!out.Put(buffer.data(), buffer.size()) || !out.Zeros(static_cast<size_t>(padded - n.size))) {
      return Status::kIoError;
    }
    mini_bytes += padded;
  }
  if (!out.Zeros(static_cast<size_t>(mini_stream_sectors * sector_size - mini_bytes))) {
    return Status::kIoError;
  }
  for (int node : order) {
    const Node& n = nodes_[node];
    if (!n.is_stream || n.size < kMiniStreamCutoff) continue;
    buffer.resize(kChunk);
    for (uint64_t offset = 0; offset < n.size;) {
      const size_t piece = static_cast<size_t>(std::min<uint64_t>(kChunk, n.size - offset));
      if (!n.source(offset, buffer.data(), piece)) return Status::kSourceFailed;
      if (!out.Put(buffer.data(), piece)) return Status::kIoError;
      offset += piece;
    }
    const uint64_t padded = CeilDiv(n.size, sector_size) * sector_size;
    if (!out.Zeros(static_cast<size_t>(padded - n.size))) return Status::kIoError;
  }
  return out.Flush() ? Status::kOk : Status::kIoError;
}

Status CompoundFileWriter::WriteToVector(std::vector<uint8_t>* out) const {
  out->clear();
  return Write([out](const uint8_t* data, size_t size) {
    out->insert(out->end(), data, data + size);
    return true;
  });
}

std::vector<uint8_t> EmptyCompoundFile() {
  std::vector<uint8_t> bytes;
  CompoundFileWriter writer;
  writer.WriteToVector(&bytes);
  return bytes;
}

}  // namespace gp::cfb
