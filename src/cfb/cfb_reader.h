// Reader of compound files (structured storage), versions 3 (512-byte sectors) and 4
// (4096-byte sectors), over any ByteSource.
//
// The input is treated as hostile: every sector number, chain, size and directory link is
// checked before use, chains that loop and directory trees with cycles are refused, and nothing
// is read outside the source. Memory: the FAT (4 bytes per sector of the file), the mini FAT,
// the directory (one small record per entry) and the mini stream's sector list are held while
// the file is open; an open stream holds the list of its own sectors (4 bytes per sector), never
// its data.
//
// Folder src/cfb/: the portable compound-file reader and writer, plain C++ without platform
// calls, used by the posix structured storage and by the generator. It may include base only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cfb/byte_source.h"
#include "cfb/cfb_status.h"

namespace gp::cfb {

enum class EntryType : uint8_t { kStorage = 1, kStream = 2, kRoot = 5 };

struct EntryInfo {
  std::u16string name;
  EntryType type = EntryType::kStorage;
  uint64_t size = 0;  // streams only
};

// One entry of a whole-tree walk.
struct TreeItem {
  uint32_t entry = 0;
  uint32_t parent = 0;  // the storage that holds it (the root for the root itself)
  int depth = 0;        // 0 for the root
};

class CompoundFileReader;

enum class SeekOrigin { kBegin = 0, kCurrent = 1, kEnd = 2 };

// An open stream: sequential reads from a position that can be moved anywhere at or after 0.
// Reads past the end deliver nothing. Valid while its CompoundFileReader lives.
class StreamReader {
 public:
  StreamReader() = default;

  uint64_t size() const { return size_; }
  uint64_t position() const { return position_; }
  bool is_open() const { return file_ != nullptr; }

  // Reads up to size bytes from the position; *done receives the count read. A damaged
  // sector reference gives an error, 0 bytes and an unchanged position.
  Status Read(void* buffer, size_t size, size_t* done);
  // Moves the position; a target before 0 is refused and leaves the position as it was.
  Status Seek(int64_t offset, SeekOrigin origin, uint64_t* position);

 private:
  friend class CompoundFileReader;
  const CompoundFileReader* file_ = nullptr;
  std::vector<uint32_t> sectors_;  // the chain, in order
  bool mini_ = false;
  uint64_t size_ = 0;
  uint64_t position_ = 0;
};

class CompoundFileReader {
 public:
  CompoundFileReader() = default;
  CompoundFileReader(const CompoundFileReader&) = delete;
  CompoundFileReader& operator=(const CompoundFileReader&) = delete;

  // Reads the header, the FAT, the mini FAT and the directory. The source must outlive the
  // reader and every stream opened from it.
  Status Open(ByteSource* source);

  int version() const { return version_; }
  uint32_t sector_size() const { return sector_size_; }
  static constexpr uint32_t kRootEntry = 0;
  uint32_t entry_count() const { return static_cast<uint32_t>(entries_.size()); }

  // Name, type and size of an entry in use.
  Status GetEntry(uint32_t entry, EntryInfo* info) const;
  // The child of a storage (or the root) with that name, by the compound file's name order.
  Status FindChild(uint32_t storage, std::u16string_view name, uint32_t* child) const;
  // The children of a storage in name order.
  Status ListChildren(uint32_t storage, std::vector<uint32_t>* children) const;
  // Every entry reachable from the root, each storage followed by its children (depth first).
  // An entry reached twice (a cycle, or a shared subtree) is an error.
  Status WalkTree(std::vector<TreeItem>* items) const;
  // Opens a stream entry for reading.
  Status OpenStream(uint32_t entry, StreamReader* stream) const;
  // The whole walk a reader of every stream would make: the directory tree from the root and
  // the sector chain of every stream in it, each to the stream's size. kOk when nothing in it
  // is damaged; reads no stream data.
  Status CheckEveryStream() const;

 private:
  friend class StreamReader;
  struct Entry {
    char16_t name[32] = {};
    uint8_t name_units = 0;
    uint8_t type = 0;
    uint32_t left = 0;
    uint32_t right = 0;
    uint32_t child = 0;
    uint32_t start = 0;
    uint64_t size = 0;
    std::u16string_view Name() const { return {name, name_units}; }
  };

  // Reads size bytes at a file offset; bytes past the end of the file read as zeros (the last
  // sector may be cut short).
  bool ReadFile(uint64_t offset, void* buffer, size_t size) const;
  uint64_t SectorOffset(uint32_t sector) const {
    return (static_cast<uint64_t>(sector) + 1) * sector_size_;
  }
  // Follows a chain of regular sectors from start; wanted is the number of sectors needed, or
  // 0 to follow the chain to its end.
  Status RegularChain(uint32_t start, uint64_t wanted, std::vector<uint32_t>* out) const;
  Status MiniChain(uint32_t start, uint64_t wanted, std::vector<uint32_t>* out) const;
  Status LoadFat(const uint8_t* header, uint32_t fat_sectors);
  Status LoadDirectory(uint32_t first);
  Status LoadMiniStream(uint32_t first_mini_fat, uint32_t mini_fat_sectors);
  bool ValidLink(uint32_t link) const { return link == kNoLink || link < entries_.size(); }
  bool IsContainer(uint32_t entry) const;
  Status ReadChain(const StreamReader& stream, uint64_t position, uint8_t* out,
                   size_t size) const;

  static constexpr uint32_t kNoLink = 0xFFFFFFFF;

  ByteSource* source_ = nullptr;
  uint64_t file_size_ = 0;
  int version_ = 0;
  uint32_t sector_size_ = 0;
  uint32_t sector_count_ = 0;  // sectors that begin inside the file
  std::vector<uint32_t> fat_;       // one entry per sector of the file
  std::vector<uint32_t> mini_fat_;  // one entry per mini sector of the mini stream
  std::vector<uint32_t> mini_stream_sectors_;
  uint64_t mini_stream_size_ = 0;
  std::vector<Entry> entries_;
};

}  // namespace gp::cfb
