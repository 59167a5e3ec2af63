// Structured storage over ole32: compound files made with ole32 itself are opened, walked and
// read through the platform interface; exclusive opens exclude each other.
#include <gtest/gtest.h>

#include <string>

#include "platform/structured_storage.h"
#include "platform/win32/windows_support.h"
#include "platform_win32/scratch_folder.h"

#include <objbase.h>

namespace gp::platform {
namespace {

using testing_win32::ScratchFolder;
using testing_win32::WriteWholeFile;

constexpr char kOptionsBytes[] = "\x05hello\x03" "abc";

// Writes a compound file with storage "0" holding stream "DiffOption2.dat", storage "1"
// holding storage "_" with stream "表.dif", and a root stream "list.dat", using ole32 directly.
bool MakeSample(const std::string& path) {
  CoInitialize(nullptr);
  IStorage* root = nullptr;
  const std::wstring wide = win32::WidePath(path.c_str());
  if (StgCreateDocfile(wide.c_str(), STGM_CREATE | STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0,
                       &root) != S_OK) {
    return false;
  }
  auto put = [](IStorage* parent, const wchar_t* name, const void* data, ULONG size) {
    IStream* s = nullptr;
    if (parent->CreateStream(name, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &s) != S_OK) {
      return false;
    }
    ULONG written = 0;
    s->Write(data, size, &written);
    s->Release();
    return written == size;
  };
  auto child = [](IStorage* parent, const wchar_t* name) {
    IStorage* s = nullptr;
    parent->CreateStorage(name, STGM_READWRITE | STGM_SHARE_EXCLUSIVE, 0, 0, &s);
    return s;
  };
  bool ok = true;
  IStorage* zero = child(root, L"0");
  ok = ok && zero && put(zero, L"DiffOption2.dat", kOptionsBytes, sizeof(kOptionsBytes) - 1);
  if (zero) zero->Release();
  IStorage* one = child(root, L"1");
  IStorage* under = one ? child(one, L"_") : nullptr;
  const std::string big(70000, 'z');
  ok = ok && under && put(under, L"表.dif", big.data(), static_cast<ULONG>(big.size()));
  if (under) under->Release();
  if (one) one->Release();
  ok = ok && put(root, L"list.dat", "\x02\x00", 2);
  root->Commit(STGC_DEFAULT);
  root->Release();
  return ok;
}

TEST(StructuredStorageWin32, OpensNestedStoragesAndReadsStreams) {
  ScratchFolder dir;
  const std::string path = dir / "work.dif";
  ASSERT_TRUE(MakeSample(path));

  Storage* root = nullptr;
  ASSERT_TRUE(OpenCompoundFile(path.c_str(), &root));
  ASSERT_NE(root, nullptr);

  Storage* zero = nullptr;
  ASSERT_TRUE(root->OpenStorage(u"0", &zero));
  StorageStream* options = nullptr;
  ASSERT_TRUE(zero->OpenStream(u"DiffOption2.dat", &options));
  char buf[16] = {};
  uint32_t done = 0;
  options->Read(buf, 6, &done);
  EXPECT_EQ(done, 6u);
  EXPECT_EQ(std::string(buf, 6), "\x05hello");
  uint64_t pos = 0;
  options->Seek(1, 1, &pos);
  EXPECT_EQ(pos, 7u);
  options->Read(buf, 16, &done);
  EXPECT_EQ(done, 3u) << "a read at the end gives what is left";
  EXPECT_EQ(std::string(buf, 3), "abc");
  options->Seek(0, 2, &pos);
  EXPECT_EQ(pos, sizeof(kOptionsBytes) - 1);
  options->Commit();
  options->Release();
  zero->Release();

  // Two levels down, a Japanese stream name, a stream larger than one mini sector run.
  Storage* one = nullptr;
  Storage* under = nullptr;
  StorageStream* diff = nullptr;
  ASSERT_TRUE(root->OpenStorage(u"1", &one));
  ASSERT_TRUE(one->OpenStorage(u"_", &under));
  ASSERT_TRUE(under->OpenStream(u"表.dif", &diff));
  diff->Seek(0, 2, &pos);
  EXPECT_EQ(pos, 70000u);
  diff->Release();
  under->Release();
  one->Release();

  StorageStream* list = nullptr;
  ASSERT_TRUE(root->OpenStream(u"list.dat", &list));
  list->Release();
  root->Commit();
  root->Release();
}

TEST(StructuredStorageWin32, MissingElementsAndBadNamesAreRefused) {
  ScratchFolder dir;
  const std::string path = dir / "work.dif";
  ASSERT_TRUE(MakeSample(path));
  Storage* root = nullptr;
  ASSERT_TRUE(OpenCompoundFile(path.c_str(), &root));
  Storage* s = reinterpret_cast<Storage*>(1);
  StorageStream* st = reinterpret_cast<StorageStream*>(1);
  EXPECT_FALSE(root->OpenStorage(u"9", &s));
  EXPECT_EQ(s, nullptr);
  EXPECT_FALSE(root->OpenStream(u"missing", &st));
  EXPECT_EQ(st, nullptr);
  // A stream is not a storage, nor the other way round.
  EXPECT_FALSE(root->OpenStorage(u"list.dat", &s));
  EXPECT_FALSE(root->OpenStream(u"0", &st));
  // A name with a NUL inside is not cut short to "0".
  EXPECT_FALSE(root->OpenStorage(std::u16string_view(u"0\0x", 3), &s));
  root->Release();
}

TEST(StructuredStorageWin32, ReadersShareTheFileChildrenAreExclusive) {
  ScratchFolder dir;
  const std::string path = dir / "work.dif";
  ASSERT_TRUE(MakeSample(path));
  Storage* first = nullptr;
  ASSERT_TRUE(OpenCompoundFile(path.c_str(), &first));
  Storage* second = nullptr;
  EXPECT_TRUE(OpenCompoundFile(path.c_str(), &second)) << "a second reader is let in";
  ASSERT_NE(second, nullptr);
  second->Release();
  second = nullptr;
  // The same child cannot be opened twice either.
  Storage* a = nullptr;
  Storage* b = nullptr;
  ASSERT_TRUE(first->OpenStorage(u"0", &a));
  EXPECT_FALSE(first->OpenStorage(u"0", &b));
  a->Release();
  first->Release();
  ASSERT_TRUE(OpenCompoundFile(path.c_str(), &second));
  second->Release();
}

TEST(StructuredStorageWin32, CreateMakesAnEmptyCompoundFileReplacingAnyFile) {
  ScratchFolder dir;
  const std::string path = dir / "new.dif";
  ASSERT_TRUE(WriteWholeFile(path, "not a compound file"));
  Storage* root = nullptr;
  EXPECT_FALSE(OpenCompoundFile(path.c_str(), &root)) << "plain bytes are no compound file";
  ASSERT_TRUE(CreateCompoundFile(path.c_str(), &root));
  StorageStream* st = nullptr;
  EXPECT_FALSE(root->OpenStream(u"list.dat", &st));
  root->Commit();
  root->Release();
  ASSERT_TRUE(OpenCompoundFile(path.c_str(), &root));
  root->Release();
  EXPECT_FALSE(OpenCompoundFile((dir / "none.dif").c_str(), &root));
  EXPECT_FALSE(CreateCompoundFile((dir / "no\\such\\dir.dif").c_str(), &root));
}

}  // namespace
}  // namespace gp::platform
