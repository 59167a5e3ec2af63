#include "cfb/cfb_reader.h"

#include <algorithm>
#include <cstring>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/entry_names.h"

namespace gp::cfb {

namespace {

uint64_t CeilDiv(uint64_t a, uint64_t b) { return a / b + (a % b != 0 ? 1 : 0); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// Opening

Status CompoundFileReader::Open(ByteSource* source) {
  source_ = nullptr;
  version_ = 0;
  fat_.clear();
  mini_fat_.clear();
  mini_stream_sectors_.clear();
  mini_stream_size_ = 0;
  entries_.clear();
  if (source == nullptr) return Status::kBadArgument;
  const uint64_t file_size = source->Size();
  if (file_size < kHeaderSize) return Status::kNotCompoundFile;
  uint8_t header[kHeaderSize];
  if (!source->ReadAt(0, header, kHeaderSize)) return Status::kIoError;
  if (std::memcmp(header + kHeaderSignature, kSignature, sizeof kSignature) != 0) {
    return Status::kNotCompoundFile;
  }
  const uint16_t major = LoadU16(header + kHeaderMajorVersion);
  const uint16_t shift = LoadU16(header + kHeaderSectorShift);
  if (major == 3 && shift == kSectorShiftV3) {
    version_ = 3;
  } else if (major == 4 && shift == kSectorShiftV4) {
    version_ = 4;
  } else {
    return Status::kBadHeader;
  }
  if (LoadU16(header + kHeaderByteOrder) != kByteOrderMark ||
      LoadU16(header + kHeaderMiniSectorShift) != kMiniSectorShift ||
      LoadU32(header + kHeaderMiniStreamCutoff) != kMiniStreamCutoff) {
    return Status::kBadHeader;
  }
  source_ = source;
  file_size_ = file_size;
  sector_size_ = 1u << shift;
  // Sectors that begin inside the file; the last one may be cut short.
  const uint64_t sectors =
      file_size > sector_size_ ? CeilDiv(file_size - sector_size_, sector_size_) : 0;
  sector_count_ = static_cast<uint32_t>(std::min<uint64_t>(sectors, kMaxRegularSector + 1ull));

  const uint32_t fat_sectors = LoadU32(header + kHeaderFatSectors);
  Status status = LoadFat(header, fat_sectors);
  if (status != Status::kOk) return status;
  status = LoadDirectory(LoadU32(header + kHeaderFirstDirectorySector));
  if (status != Status::kOk) return status;
  return LoadMiniStream(LoadU32(header + kHeaderFirstMiniFatSector),
                        LoadU32(header + kHeaderMiniFatSectors));
}

bool CompoundFileReader::ReadFile(uint64_t offset, void* buffer, size_t size) const {
  size_t available = 0;
  if (offset < file_size_) available = static_cast<size_t>(std::min<uint64_t>(size, file_size_ - offset));
  if (available != 0 && !source_->ReadAt(offset, buffer, available)) return false;
  if (available < size) std::memset(static_cast<uint8_t*>(buffer) + available, 0, size - available);
  return true;
}

Status CompoundFileReader::LoadFat(const uint8_t* header, uint32_t fat_sectors) {
  if (fat_sectors == 0 || fat_sectors > sector_count_) return Status::kBadHeader;
  const uint32_t per_sector = sector_size_ / 4;
  // Only the FAT sectors that describe sectors of this file are needed.
  const uint32_t needed =
      static_cast<uint32_t>(std::min<uint64_t>(fat_sectors, CeilDiv(sector_count_, per_sector)));
  std::vector<uint32_t> fat_list;
  fat_list.reserve(needed);
  for (uint32_t i = 0; i < kHeaderDifatCount && fat_list.size() < needed; ++i) {
    fat_list.push_back(LoadU32(header + kHeaderDifat + 4 * i));
  }
  std::vector<uint8_t> buffer(sector_size_);
  if (fat_list.size() < needed) {
    // The rest of the list is in the chain of DIFAT sectors; each ends with the next one's
    // number.
    std::vector<bool> seen(sector_count_, false);
    uint32_t sector = LoadU32(header + kHeaderFirstDifatSector);
    while (fat_list.size() < needed) {
      if (sector >= sector_count_) {
        return sector == kEndOfChain || sector == kFreeSector ? Status::kBadChain
                                                               : Status::kBadSector;
      }
      if (seen[sector]) return Status::kBadChain;
      seen[sector] = true;
      if (!ReadFile(SectorOffset(sector), buffer.data(), sector_size_)) return Status::kIoError;
      for (uint32_t i = 0; i + 1 < per_sector && fat_list.size() < needed; ++i) {
        fat_list.push_back(LoadU32(buffer.data() + 4 * i));
      }
      sector = LoadU32(buffer.data() + sector_size_ - 4);
    }
  }
  fat_.assign(sector_count_, kFreeSector);
  // FAT sectors usually lie side by side; runs of them are read in one piece.
  constexpr uint32_t kMaxRun = 256;
  buffer.resize(static_cast<size_t>(sector_size_) * std::min(kMaxRun, needed));
  for (uint32_t i = 0; i < needed;) {
    uint32_t run = 1;
    while (run < kMaxRun && i + run < needed && fat_list[i + run] == fat_list[i] + run) ++run;
    for (uint32_t k = 0; k < run; ++k) {
      if (fat_list[i + k] >= sector_count_) return Status::kBadSector;
    }
    if (!ReadFile(SectorOffset(fat_list[i]), buffer.data(),
                  static_cast<size_t>(run) * sector_size_)) {
      return Status::kIoError;
    }
    for (uint32_t k = 0; k < run; ++k) {
      const uint64_t first = static_cast<uint64_t>(i + k) * per_sector;
      const uint32_t count =
          static_cast<uint32_t>(std::min<uint64_t>(per_sector, sector_count_ - first));
      const uint8_t* words = buffer.data() + static_cast<size_t>(k) * sector_size_;
      for (uint32_t j = 0; j < count; ++j) fat_[first + j] = LoadU32(words + 4 * j);
    }
    i += run;
  }
  return Status::kOk;
}

Status CompoundFileReader::RegularChain(uint32_t start, uint64_t wanted,
                                        std::vector<uint32_t>* out) const {
  out->clear();
  if (wanted > sector_count_) return Status::kTooLarge;
  out->reserve(static_cast<size_t>(wanted));
  std::vector<bool> seen(sector_count_, false);
  uint32_t sector = start;
  while (wanted == 0 || out->size() < wanted) {
    if (sector == kEndOfChain) {
      if (wanted != 0) return Status::kBadChain;
      break;
    }
    if (sector >= sector_count_) return Status::kBadSector;
    if (seen[sector]) return Status::kBadChain;
    seen[sector] = true;
    out->push_back(sector);
    sector = fat_[sector];
  }
  return Status::kOk;
}

Status CompoundFileReader::MiniChain(uint32_t start, uint64_t wanted,
                                     std::vector<uint32_t>* out) const {
  out->clear();
  const size_t count = mini_fat_.size();
  if (wanted > count) return Status::kTooLarge;
  out->reserve(static_cast<size_t>(wanted));
  std::vector<bool> seen(count, false);
  uint32_t sector = start;
  while (out->size() < wanted) {
    if (sector == kEndOfChain) return Status::kBadChain;
    if (sector >= count) return Status::kBadSector;
    if (seen[sector]) return Status::kBadChain;
    seen[sector] = true;
    out->push_back(sector);
    sector = mini_fat_[sector];
  }
  return Status::kOk;
}

Status CompoundFileReader::LoadDirectory(uint32_t first) {
  std::vector<uint32_t> chain;
  Status status = RegularChain(first, 0, &chain);
  if (status != Status::kOk) return status;
  if (chain.empty()) return Status::kBadDirectory;
  const uint32_t per_sector = sector_size_ / static_cast<uint32_t>(kEntrySize);
  if (chain.size() > kMaxEntry / per_sector) return Status::kTooLarge;
  entries_.resize(chain.size() * per_sector);
  std::vector<uint8_t> buffer(sector_size_);
  for (size_t s = 0; s < chain.size(); ++s) {
    if (!ReadFile(SectorOffset(chain[s]), buffer.data(), sector_size_)) return Status::kIoError;
    for (uint32_t e = 0; e < per_sector; ++e) {
      const uint8_t* p = buffer.data() + e * kEntrySize;
      Entry& entry = entries_[s * per_sector + e];
      entry.type = p[kEntryType];
      if (entry.type != kTypeStorage && entry.type != kTypeStream && entry.type != kTypeRoot) {
        entry.type = kTypeEmpty;  // unused, or a kind of element this reader does not open
        continue;
      }
      const uint16_t name_bytes = LoadU16(p + kEntryNameLength);
      if (name_bytes < 2 || name_bytes > 64 || name_bytes % 2 != 0) return Status::kBadDirectory;
      entry.name_units = static_cast<uint8_t>(name_bytes / 2 - 1);
      for (uint32_t i = 0; i < entry.name_units; ++i) {
        entry.name[i] = static_cast<char16_t>(LoadU16(p + kEntryName + 2 * i));
      }
      entry.left = LoadU32(p + kEntryLeft);
      entry.right = LoadU32(p + kEntryRight);
      entry.child = LoadU32(p + kEntryChild);
      entry.start = LoadU32(p + kEntryStartSector);
      entry.size = LoadU64(p + kEntrySize64);
      // Version 3 files hold only 32-bit sizes; some writers leave garbage in the high half.
      if (version_ == 3) entry.size &= 0xFFFFFFFFu;
    }
  }
  if (entries_[kRootEntry].type != kTypeRoot) return Status::kBadDirectory;
  return Status::kOk;
}

Status CompoundFileReader::LoadMiniStream(uint32_t first_mini_fat, uint32_t mini_fat_sectors) {
  (void)mini_fat_sectors;  // the chain itself says how long it is
  const Entry& root = entries_[kRootEntry];
  mini_stream_size_ = root.size;
  const uint64_t mini_count = CeilDiv(mini_stream_size_, kMiniSectorSize);
  if (mini_stream_size_ == 0) return Status::kOk;
  Status status = RegularChain(root.start, CeilDiv(mini_stream_size_, sector_size_),
                               &mini_stream_sectors_);
  if (status != Status::kOk) return status;
  std::vector<uint32_t> chain;
  status = RegularChain(first_mini_fat, 0, &chain);
  if (status != Status::kOk) return status;
  // mini_count is bounded by the mini stream's sectors, which are bounded by the file.
  mini_fat_.assign(static_cast<size_t>(mini_count), kFreeSector);
  const uint32_t per_sector = sector_size_ / 4;
  std::vector<uint8_t> buffer(sector_size_);
  for (size_t s = 0; s < chain.size() && s * per_sector < mini_count; ++s) {
    if (!ReadFile(SectorOffset(chain[s]), buffer.data(), sector_size_)) return Status::kIoError;
    const uint64_t first = static_cast<uint64_t>(s) * per_sector;
    const uint64_t count = std::min<uint64_t>(per_sector, mini_count - first);
    for (uint64_t j = 0; j < count; ++j) mini_fat_[first + j] = LoadU32(buffer.data() + 4 * j);
  }
  return Status::kOk;
}

// ---------------------------------------------------------------------------------------------
// Directory

bool CompoundFileReader::IsContainer(uint32_t entry) const {
  if (entry >= entries_.size()) return false;
  const uint8_t type = entries_[entry].type;
  return type == kTypeStorage || (type == kTypeRoot && entry == kRootEntry);
}

Status CompoundFileReader::GetEntry(uint32_t entry, EntryInfo* info) const {
  if (entry >= entries_.size()) return Status::kBadArgument;
  const Entry& e = entries_[entry];
  if (e.type == kTypeEmpty) return Status::kBadDirectory;
  info->name.assign(e.Name());
  info->type = static_cast<EntryType>(e.type);
  info->size = e.type == kTypeStream ? e.size : 0;
  return Status::kOk;
}

namespace {

// In-order walk of one sibling tree from top; every entry may be met once across all walks
// that share seen.
template <typename EntryVector>
Status CollectSiblings(const EntryVector& entries, uint32_t top, std::vector<bool>* seen,
                       std::vector<uint32_t>* out) {
  constexpr uint32_t kNone = 0xFFFFFFFF;
  std::vector<uint32_t> stack;
  uint32_t node = top;
  while (node != kNone || !stack.empty()) {
    while (node != kNone) {
      if (node >= entries.size() || node == 0) return Status::kBadDirectory;
      const auto& e = entries[node];
      if (e.type != kTypeStorage && e.type != kTypeStream) return Status::kBadDirectory;
      if ((*seen)[node]) return Status::kBadDirectory;
      (*seen)[node] = true;
      stack.push_back(node);
      node = e.left;
    }
    node = stack.back();
    stack.pop_back();
    out->push_back(node);
    node = entries[node].right;
  }
  return Status::kOk;
}

}  // namespace

Status CompoundFileReader::ListChildren(uint32_t storage, std::vector<uint32_t>* children) const {
  children->clear();
  if (!IsContainer(storage)) {
    return storage < entries_.size() ? Status::kNotStorage : Status::kBadArgument;
  }
  std::vector<bool> seen(entries_.size(), false);
  seen[storage] = true;
  return CollectSiblings(entries_, entries_[storage].child, &seen, children);
}

Status CompoundFileReader::FindChild(uint32_t storage, std::u16string_view name,
                                     uint32_t* child) const {
  if (!IsContainer(storage)) {
    return storage < entries_.size() ? Status::kNotStorage : Status::kBadArgument;
  }
  uint32_t node = entries_[storage].child;
  // A search only goes down, so more steps than entries means a cycle.
  for (size_t steps = 0; node != kNoLink; ++steps) {
    if (steps >= entries_.size() || node >= entries_.size() || node == kRootEntry) {
      return Status::kBadDirectory;
    }
    const Entry& e = entries_[node];
    if (e.type != kTypeStorage && e.type != kTypeStream) return Status::kBadDirectory;
    const int order = CompareNames(name, e.Name());
    if (order == 0) {
      *child = node;
      return Status::kOk;
    }
    node = order < 0 ? e.left : e.right;
  }
  // Some writers order siblings by other rules; look through the whole tree before giving up.
  std::vector<uint32_t> all;
  const Status status = ListChildren(storage, &all);
  if (status != Status::kOk) return status;
  for (uint32_t id : all) {
    if (CompareNames(name, entries_[id].Name()) == 0) {
      *child = id;
      return Status::kOk;
    }
  }
  return Status::kNotFound;
}

Status CompoundFileReader::WalkTree(std::vector<TreeItem>* items) const {
  items->clear();
  if (entries_.empty()) return Status::kBadArgument;
  std::vector<bool> seen(entries_.size(), false);
  seen[kRootEntry] = true;
  // Depth first: each storage is followed by its whole subtree.
  std::vector<uint32_t> children;
  std::vector<TreeItem> stack{{kRootEntry, kRootEntry, 0}};
  while (!stack.empty()) {
    const TreeItem item = stack.back();
    stack.pop_back();
    items->push_back(item);
    if (!IsContainer(item.entry)) continue;
    children.clear();
    const Status status = CollectSiblings(entries_, entries_[item.entry].child, &seen, &children);
    if (status != Status::kOk) return status;
    for (auto it = children.rbegin(); it != children.rend(); ++it) {
      stack.push_back({*it, item.entry, item.depth + 1});
    }
  }
  return Status::kOk;
}

Status CompoundFileReader::CheckEveryStream() const {
  std::vector<TreeItem> items;
  Status status = WalkTree(&items);
  if (status != Status::kOk) return status;
  for (const TreeItem& item : items) {
    if (entries_[item.entry].type != kTypeStream) continue;
    StreamReader stream;
    status = OpenStream(item.entry, &stream);
    if (status != Status::kOk) return status;
  }
  return Status::kOk;
}

// ---------------------------------------------------------------------------------------------
// Streams

Status CompoundFileReader::OpenStream(uint32_t entry, StreamReader* stream) const {
  *stream = StreamReader();
  if (entry >= entries_.size()) return Status::kBadArgument;
  const Entry& e = entries_[entry];
  if (e.type != kTypeStream) {
    return e.type == kTypeEmpty ? Status::kBadDirectory : Status::kNotStream;
  }
  StreamReader result;
  result.file_ = this;
  result.size_ = e.size;
  if (e.size != 0) {
    Status status;
    if (e.size < kMiniStreamCutoff) {
      result.mini_ = true;
      status = MiniChain(e.start, CeilDiv(e.size, kMiniSectorSize), &result.sectors_);
    } else {
      status = RegularChain(e.start, CeilDiv(e.size, sector_size_), &result.sectors_);
    }
    if (status != Status::kOk) return status;
  }
  *stream = std::move(result);
  return Status::kOk;
}

Status CompoundFileReader::ReadChain(const StreamReader& stream, uint64_t position, uint8_t* out,
                                     size_t size) const {
  const std::vector<uint32_t>& sectors = stream.sectors_;
  while (size != 0) {
    size_t piece;
    uint64_t offset;
    if (stream.mini_) {
      const uint64_t index = position / kMiniSectorSize;
      const uint32_t within = static_cast<uint32_t>(position % kMiniSectorSize);
      const uint64_t in_mini = static_cast<uint64_t>(sectors[index]) * kMiniSectorSize + within;
      const uint64_t host = in_mini / sector_size_;
      if (host >= mini_stream_sectors_.size()) return Status::kBadSector;
      piece = std::min<size_t>(size, kMiniSectorSize - within);
      offset = SectorOffset(mini_stream_sectors_[host]) + in_mini % sector_size_;
    } else {
      // Runs of consecutive sectors are read in one piece.
      size_t index = static_cast<size_t>(position / sector_size_);
      const uint32_t within = static_cast<uint32_t>(position % sector_size_);
      size_t run = 1;
      const uint64_t run_limit = (static_cast<uint64_t>(size) + within) / sector_size_ + 1;
      while (run < run_limit && index + run < sectors.size() &&
             sectors[index + run] == sectors[index] + run) {
        ++run;
      }
      piece = static_cast<size_t>(
          std::min<uint64_t>(size, static_cast<uint64_t>(run) * sector_size_ - within));
      offset = SectorOffset(sectors[index]) + within;
    }
    if (!ReadFile(offset, out, piece)) return Status::kIoError;
    out += piece;
    size -= piece;
    position += piece;
  }
  return Status::kOk;
}

Status StreamReader::Read(void* buffer, size_t size, size_t* done) {
  *done = 0;
  if (file_ == nullptr) return Status::kBadArgument;
  if (position_ >= size_ || size == 0) return Status::kOk;
  const size_t count = static_cast<size_t>(std::min<uint64_t>(size, size_ - position_));
  const Status status = file_->ReadChain(*this, position_, static_cast<uint8_t*>(buffer), count);
  if (status != Status::kOk) return status;
  position_ += count;
  *done = count;
  return Status::kOk;
}

Status StreamReader::Seek(int64_t offset, SeekOrigin origin, uint64_t* position) {
  if (file_ == nullptr) return Status::kBadArgument;
  uint64_t base = 0;
  if (origin == SeekOrigin::kCurrent) base = position_;
  if (origin == SeekOrigin::kEnd) base = size_;
  uint64_t target;
  if (offset < 0) {
    const uint64_t back = static_cast<uint64_t>(-(offset + 1)) + 1;
    if (back > base) return Status::kBadArgument;
    target = base - back;
  } else {
    target = base + static_cast<uint64_t>(offset);
    if (target < base) return Status::kBadArgument;
  }
  position_ = target;
  if (position != nullptr) *position = target;
  return Status::kOk;
}

}  // namespace gp::cfb
