// Compound files made by the system's own structured storage (ole32), read by our portable
// reader: nested storages as the work docfile has them, a 5 MB stream, 300 small streams, and
// enough data for DIFAT sectors.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "cfb/byte_source.h"
#include "cfb/cfb_reader.h"
#include "support/test_support.h"

namespace gp {
namespace {

constexpr DWORD kCreate = STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2246822519u + 374761393u;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

using StreamMap = std::map<std::wstring, std::vector<uint8_t>>;

// Creates every stream of tree ("a/b/c" paths) with ole32.
bool WriteWithOle32(const std::wstring& path, const StreamMap& tree, bool v4) {
  CoInitialize(nullptr);
  IStorage* root = nullptr;
  HRESULT hr;
  if (v4) {
    STGOPTIONS options = {};
    options.usVersion = 1;
    options.ulSectorSize = 4096;
    hr = StgCreateStorageEx(path.c_str(), kCreate, STGFMT_DOCFILE, 0, &options, nullptr,
                            IID_IStorage, reinterpret_cast<void**>(&root));
  } else {
    hr = StgCreateDocfile(path.c_str(), kCreate, 0, &root);
  }
  if (hr != S_OK) return false;
  std::map<std::wstring, IStorage*> storages;
  bool ok = true;
  for (const auto& [name, data] : tree) {
    IStorage* parent = root;
    size_t begin = 0;
    for (size_t slash; ok && (slash = name.find(L'/', begin)) != std::wstring::npos;
         begin = slash + 1) {
      const std::wstring prefix = name.substr(0, slash);
      auto it = storages.find(prefix);
      if (it == storages.end()) {
        IStorage* child = nullptr;
        ok = parent->CreateStorage(name.substr(begin, slash - begin).c_str(), kCreate, 0, 0,
                                   &child) == S_OK;
        if (!ok) break;
        it = storages.emplace(prefix, child).first;
      }
      parent = it->second;
    }
    if (!ok) break;
    IStream* stream = nullptr;
    ok = parent->CreateStream(name.substr(begin).c_str(), kCreate, 0, 0, &stream) == S_OK;
    if (!ok) break;
    ULONG written = 0;
    if (!data.empty()) {
      ok = stream->Write(data.data(), static_cast<ULONG>(data.size()), &written) == S_OK &&
           written == data.size();
    }
    stream->Release();
  }
  // Innermost first: longer prefixes sort after their parents.
  for (auto it = storages.rbegin(); it != storages.rend(); ++it) {
    it->second->Commit(STGC_DEFAULT);
    it->second->Release();
  }
  root->Commit(STGC_DEFAULT);
  root->Release();
  return ok;
}

cfb::Status ReadWithOurs(const std::vector<uint8_t>& file, StreamMap* out, int* version) {
  cfb::MemoryByteSource source(file.data(), file.size());
  cfb::CompoundFileReader reader;
  cfb::Status status = reader.Open(&source);
  if (status != cfb::Status::kOk) return status;
  *version = reader.version();
  std::vector<cfb::TreeItem> items;
  status = reader.WalkTree(&items);
  if (status != cfb::Status::kOk) return status;
  std::map<uint32_t, std::wstring> paths;
  for (const cfb::TreeItem& item : items) {
    if (item.entry == cfb::CompoundFileReader::kRootEntry) continue;
    cfb::EntryInfo info;
    status = reader.GetEntry(item.entry, &info);
    if (status != cfb::Status::kOk) return status;
    const std::wstring parent = item.parent == 0 ? L"" : paths[item.parent] + L"/";
    paths[item.entry] = parent + std::wstring(info.name.begin(), info.name.end());
    if (info.type != cfb::EntryType::kStream) continue;
    cfb::StreamReader stream;
    status = reader.OpenStream(item.entry, &stream);
    if (status != cfb::Status::kOk) return status;
    std::vector<uint8_t> data(static_cast<size_t>(stream.size()));
    size_t done = 0;
    status = stream.Read(data.data(), data.size(), &done);
    if (status != cfb::Status::kOk) return status;
    if (done != data.size()) return cfb::Status::kBadChain;
    (*out)[paths[item.entry]] = std::move(data);
  }
  return cfb::Status::kOk;
}

StreamMap WorkDocfileTree() {
  StreamMap tree;
  tree[L"0/DiffOption2.dat"] = Pattern(300, 1);
  tree[L"1/list.dat"] = Pattern(54, 2);
  tree[L"1/_/0.dif"] = Pattern(4100, 3);
  tree[L"1/_/1.dif"] = Pattern(0, 4);
  tree[L"2/_/big.bin"] = Pattern(5u << 20, 5);
  tree[L"top.dat"] = Pattern(10, 6);
  for (int i = 0; i < 300; ++i) {
    tree[L"many/" + std::to_wstring(i) + L".dat"] = Pattern(static_cast<size_t>(i * 29 % 3000), 100u + i);
  }
  return tree;
}

class Ole32Files : public ::testing::TestWithParam<bool> {
 protected:
  test::TempDir dir;
};

TEST_P(Ole32Files, OurReaderReadsWhatOle32Wrote) {
  StreamMap tree = WorkDocfileTree();
  if (!GetParam()) tree[L"3/_/more.bin"] = Pattern(3u << 20, 7);  // FAT beyond 109 sectors
  const std::filesystem::path file = dir / "ole32.cfb";
  if (!WriteWithOle32(file.wstring(), tree, GetParam())) {
    if (GetParam()) GTEST_SKIP() << "this ole32 does not make 4096-byte sector files";
    FAIL() << "ole32 could not write the file";
  }
  const std::vector<uint8_t> bytes = test::ReadBytes(file);
  StreamMap back;
  int version = 0;
  ASSERT_EQ(ReadWithOurs(bytes, &back, &version), cfb::Status::kOk);
  EXPECT_EQ(version, GetParam() ? 4 : 3);
  EXPECT_EQ(back.size(), tree.size());
  for (const auto& [name, data] : tree) {
    auto it = back.find(name);
    ASSERT_NE(it, back.end()) << std::string(name.begin(), name.end());
    EXPECT_TRUE(it->second == data) << std::string(name.begin(), name.end());
  }
}

INSTANTIATE_TEST_SUITE_P(SectorSizes, Ole32Files, ::testing::Values(false, true));

TEST(Ole32Files, EmptyDocfileOfOle32HasAnEmptyRoot) {
  test::TempDir dir;
  const std::filesystem::path file = dir / "empty.cfb";
  ASSERT_TRUE(WriteWithOle32(file.wstring(), {}, false));
  const std::vector<uint8_t> bytes = test::ReadBytes(file);
  StreamMap back;
  int version = 0;
  ASSERT_EQ(ReadWithOurs(bytes, &back, &version), cfb::Status::kOk);
  EXPECT_TRUE(back.empty());
}

}  // namespace
}  // namespace gp
