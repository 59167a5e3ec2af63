#include "cfb_test_files.h"

#include <cstdio>
#include <functional>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/entry_names.h"

namespace gp::cfb::testing {

std::vector<uint8_t> PatternBytes(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<uint8_t>(x >> 24);
  }
  return out;
}

std::string PathText(const std::u16string& name) {
  std::string out;
  for (char16_t c : name) {
    if (c >= 0x20 && c < 0x7F) {
      out += static_cast<char>(c);
    } else {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04X", static_cast<unsigned>(c));
      out += buf;
    }
  }
  return out;
}

Status ReadAllStreams(const std::vector<uint8_t>& file, StreamMap* streams) {
  streams->clear();
  MemoryByteSource source(file.data(), file.size());
  CompoundFileReader reader;
  Status status = reader.Open(&source);
  if (status != Status::kOk) return status;
  std::vector<TreeItem> items;
  status = reader.WalkTree(&items);
  if (status != Status::kOk) return status;
  std::map<uint32_t, std::string> paths;
  paths[CompoundFileReader::kRootEntry] = "";
  for (const TreeItem& item : items) {
    if (item.entry == CompoundFileReader::kRootEntry) continue;
    EntryInfo info;
    status = reader.GetEntry(item.entry, &info);
    if (status != Status::kOk) return status;
    const std::string& parent = paths[item.parent];
    const std::string path = (parent.empty() ? "" : parent + "/") + PathText(info.name);
    paths[item.entry] = path;
    if (info.type != EntryType::kStream) continue;
    StreamReader stream;
    status = reader.OpenStream(item.entry, &stream);
    if (status != Status::kOk) return status;
    std::vector<uint8_t> data;
    uint8_t buffer[3000];  // deliberately not a sector multiple
    for (;;) {
      size_t done = 0;
      status = stream.Read(buffer, sizeof buffer, &done);
      if (status != Status::kOk) return status;
      if (done == 0) break;
      data.insert(data.end(), buffer, buffer + done);
    }
    if (data.size() != stream.size()) return Status::kBadChain;
    (*streams)[path] = std::move(data);
  }
  return Status::kOk;
}

Status AddStreams(CompoundFileWriter* writer, const StreamMap& streams) {
  std::map<std::string, int> storages;
  for (const auto& [path, data] : streams) {
    int parent = CompoundFileWriter::kRoot;
    size_t begin = 0;
    for (;;) {
      const size_t slash = path.find('/', begin);
      const std::string part = path.substr(begin, slash - begin);
      const std::u16string name(part.begin(), part.end());
      if (slash == std::string::npos) {
        const Status status = writer->AddStreamBytes(parent, name, data);
        if (status != Status::kOk) return status;
        break;
      }
      const std::string prefix = path.substr(0, slash);
      auto it = storages.find(prefix);
      if (it == storages.end()) {
        int id = 0;
        const Status status = writer->AddStorage(parent, name, &id);
        if (status != Status::kOk) return status;
        it = storages.emplace(prefix, id).first;
      }
      parent = it->second;
      begin = slash + 1;
    }
  }
  return Status::kOk;
}

StreamMap SampleTree() {
  StreamMap tree;
  const size_t sizes[] = {0, 1, 63, 64, 65, 4095, 4096, 4097, 10000, 70000};
  uint32_t seed = 1;
  for (size_t size : sizes) {
    tree["0/size" + std::to_string(size)] = PatternBytes(size, seed++);
  }
  tree["0/DiffOption2.dat"] = PatternBytes(300, seed++);
  tree["1/list.dat"] = PatternBytes(54, seed++);
  tree["1/_/0.dif"] = PatternBytes(5000, seed++);
  tree["1/_/1.dif"] = PatternBytes(17, seed++);
  tree["2/_/Zeta"] = PatternBytes(100, seed++);
  tree["2/_/alpha"] = PatternBytes(4100, seed++);
  tree["2/_/BETA"] = PatternBytes(1, seed++);
  tree["top.dat"] = PatternBytes(777, seed++);
  return tree;
}

std::string CheckSiblingTrees(const std::vector<uint8_t>& file) {
  // Reads the raw directory through the reader's own chain rules is not wanted here: the check
  // must not trust the reader, so it follows the header and FAT directly (no DIFAT needed for
  // the small files it is used on).
  if (file.size() < kHeaderSize) return "short file";
  const uint32_t sector_size = 1u << LoadU16(file.data() + kHeaderSectorShift);
  auto sector_offset = [&](uint32_t s) { return (static_cast<size_t>(s) + 1) * sector_size; };
  auto fat_entry = [&](uint32_t s) -> uint32_t {
    const uint32_t per = sector_size / 4;
    const uint32_t index = s / per;
    if (index >= kHeaderDifatCount) return kFreeSector;
    const uint32_t fat_sector = LoadU32(file.data() + kHeaderDifat + 4 * index);
    const size_t at = sector_offset(fat_sector) + 4 * (s % per);
    return at + 4 <= file.size() ? LoadU32(file.data() + at) : kFreeSector;
  };
  std::vector<const uint8_t*> entries;
  uint32_t s = LoadU32(file.data() + kHeaderFirstDirectorySector);
  for (int guard = 0; s != kEndOfChain; ++guard) {
    if (guard > 100000 || sector_offset(s) + sector_size > file.size()) return "bad directory chain";
    for (uint32_t i = 0; i < sector_size / kEntrySize; ++i) {
      entries.push_back(file.data() + sector_offset(s) + i * kEntrySize);
    }
    s = fat_entry(s);
  }
  auto name_of = [&](uint32_t id) {
    const uint8_t* e = entries[id];
    const size_t units = LoadU16(e + kEntryNameLength) / 2 - 1;
    std::u16string name;
    for (size_t i = 0; i < units; ++i) name += static_cast<char16_t>(LoadU16(e + 2 * i));
    return name;
  };
  std::string failure;
  // Returns the black height of the tree at id, or -1 on failure.
  std::function<int(uint32_t, const std::u16string*, const std::u16string*, bool)> check =
      [&](uint32_t id, const std::u16string* low, const std::u16string* high,
          bool parent_red) -> int {
    if (id == kNoEntry) return 0;
    if (id >= entries.size()) {
      failure = "link out of range";
      return -1;
    }
    const uint8_t* e = entries[id];
    const std::u16string name = name_of(id);
    if ((low && CompareNames(*low, name) >= 0) || (high && CompareNames(name, *high) >= 0)) {
      failure = "sibling order broken at " + PathText(name);
      return -1;
    }
    const bool red = e[kEntryColor] == kColorRed;
    if (red && parent_red) {
      failure = "red node with red parent: " + PathText(name);
      return -1;
    }
    const int l = check(LoadU32(e + kEntryLeft), low, &name, red);
    const int r = check(LoadU32(e + kEntryRight), &name, high, red);
    if (l < 0 || r < 0) return -1;
    if (l != r) {
      failure = "black heights differ under " + PathText(name);
      return -1;
    }
    if (e[kEntryType] == kTypeStorage) {
      const uint32_t child = LoadU32(e + kEntryChild);
      if (child != kNoEntry && child < entries.size() && entries[child][kEntryColor] != kColorBlack) {
        failure = "red top of tree under " + PathText(name);
        return -1;
      }
      if (check(child, nullptr, nullptr, false) < 0) return -1;
    }
    return l + (red ? 0 : 1);
  };
  if (entries.empty()) return "no directory";
  const uint32_t top = LoadU32(entries[0] + kEntryChild);
  if (top != kNoEntry && top < entries.size() && entries[top][kEntryColor] != kColorBlack) {
    return "red top of the root's tree";
  }
  if (check(top, nullptr, nullptr, false) < 0) return failure;
  return "";
}

}  // namespace gp::cfb::testing
