// Command-line helper of the compound-file cross-checks (tests/cfb/crosscheck.py):
//   cfb_tool write OUT VERSION   writes a sample file with our writer and prints its manifest
//   cfb_tool dump FILE           reads every stream of FILE with our reader, prints a manifest
//   cfb_tool seeds FOLDER        writes the seed inputs of the reader's fuzz target
// A manifest has one line per stream, sorted: path (storages joined by '/'), size and the
// FNV-1a 64-bit hash of the bytes in hexadecimal.
#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "base/endian.h"
#include "cfb/cfb_format.h"
#include "cfb/cfb_writer.h"
#include "cfb_test_files.h"

using namespace gp::cfb;

namespace {

uint64_t Fnv1a(const std::vector<uint8_t>& data) {
  uint64_t h = 0xcbf29ce484222325ull;
  for (uint8_t b : data) {
    h ^= b;
    h *= 0x100000001b3ull;
  }
  return h;
}

void PrintManifest(const testing::StreamMap& streams) {
  for (const auto& [path, data] : streams) {
    std::printf("%s\t%zu\t%016" PRIx64 "\n", path.c_str(), data.size(), Fnv1a(data));
  }
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(out);
}

testing::StreamMap CrossCheckTree() {
  testing::StreamMap tree = testing::SampleTree();
  for (int i = 0; i < 300; ++i) {
    tree["many/" + std::to_string(i) + ".dat"] =
        testing::PatternBytes(static_cast<size_t>(i * 37 % 5000), 1000u + i);
  }
  tree["1/_/large.bin"] = testing::PatternBytes(5u << 20, 77);
  tree["Mixed Case Name"] = testing::PatternBytes(64, 78);
  return tree;
}

int Write(const std::string& out, int version) {
  const testing::StreamMap tree = CrossCheckTree();
  CompoundFileWriter writer(version);
  std::vector<uint8_t> bytes;
  if (testing::AddStreams(&writer, tree) != Status::kOk ||
      writer.WriteToVector(&bytes) != Status::kOk || !WriteFile(out, bytes)) {
    std::fprintf(stderr, "cannot write %s\n", out.c_str());
    return 1;
  }
  PrintManifest(tree);
  return 0;
}

int Dump(const std::string& in) {
  std::ifstream file(in, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  testing::StreamMap streams;
  const Status status = testing::ReadAllStreams(bytes, &streams);
  if (status != Status::kOk) {
    std::fprintf(stderr, "%s: %s\n", in.c_str(), StatusName(status));
    return 1;
  }
  PrintManifest(streams);
  return 0;
}

// Small, varied seeds: both versions, mini and regular streams, nested storages, an empty
// file, and a few damaged copies.
int Seeds(const std::string& folder) {
  std::vector<std::pair<std::string, std::vector<uint8_t>>> seeds;
  seeds.emplace_back("empty_v3.cfb", EmptyCompoundFile());
  for (int version : {3, 4}) {
    testing::StreamMap tree;
    tree["0/DiffOption2.dat"] = testing::PatternBytes(40, 1);
    tree["1/list.dat"] = testing::PatternBytes(54, 2);
    tree["1/_/0.dif"] = testing::PatternBytes(4200, 3);
    tree["1/_/1.dif"] = {};
    tree["top"] = testing::PatternBytes(5, 4);
    CompoundFileWriter writer(version);
    std::vector<uint8_t> bytes;
    testing::AddStreams(&writer, tree);
    writer.WriteToVector(&bytes);
    seeds.emplace_back("tree_v" + std::to_string(version) + ".cfb", bytes);
    if (version == 3) {
      std::vector<uint8_t> loop = bytes;
      const uint32_t dir = gp::LoadU32(loop.data() + kHeaderFirstDirectorySector);
      const uint32_t fat = gp::LoadU32(loop.data() + kHeaderDifat);
      gp::StoreU32(loop.data() + (fat + 1) * 512 + 4 * dir, dir);
      seeds.emplace_back("dir_loop_v3.cfb", loop);
      std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(bytes.size() / 2));
      seeds.emplace_back("truncated_v3.cfb", cut);
    }
  }
  for (const auto& [name, bytes] : seeds) {
    if (!WriteFile(folder + "/" + name, bytes)) return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string verb = argc > 1 ? argv[1] : "";
  if (verb == "write" && argc == 4) return Write(argv[2], std::stoi(argv[3]));
  if (verb == "dump" && argc == 3) return Dump(argv[2]);
  if (verb == "seeds" && argc == 3) return Seeds(argv[2]);
  std::fprintf(stderr, "usage: cfb_tool write OUT VERSION | dump FILE | seeds FOLDER\n");
  return 2;
}
