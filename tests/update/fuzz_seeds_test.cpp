// The seed inputs of the list reader and patch fuzz targets are generated here. With
// GP_WRITE_FUZZ_SEEDS set in the environment the test (re)writes them into fuzz/corpus/;
// otherwise it checks that the committed seeds are exactly what the generator makes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "builder/list_writer.h"
#include "stream_builders.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;
using Seeds = std::map<std::string, std::vector<uint8_t>>;

Seeds ListSeeds() {
  Seeds seeds;
  seeds["example54"] = builder::WriteList(
      {{0x11223344, 0x55667788, "1\\_\\0.dif", "1\\_\\0.dif", "PROGRAM.EXE", "PROGRAM.EXE"}});
  seeds["kinds"] = builder::WriteList({{0, 7, "", "1\\_\\a.dat", "", "A.TXT"},
                                       {5, 6, "1\\data\\b.dif", "2\\DATA\\sub\\b.dif", "B", "B2"},
                                       {9, 0, "1\\+\\c", "", "C.INI", ""},
                                       {9, 8, "1\\-\\d", "1\\X\\d", "D.DLL", "D.DLL"}});
  seeds["escapes"] = builder::WriteList({{1, 2, "1\\_\\..\\x", "1\\_\\x", "..\\A", "C:\\A"},
                                         {1, 2, "1\\nogroup\\x", "1\\x", "a:b", "\\A"}});
  seeds["empty"] = builder::WriteList({});
  return seeds;
}

Seeds PatchSeeds() {
  Seeds seeds;
  seeds["worked_example"] = test::DiffBytes().ShortCopy(3, 2).Literal("xy").LongCopy(0, 2).bytes();
  seeds["header_only"] = test::DiffBytes().bytes();
  seeds["mixed"] = test::DiffBytes()
                       .Literal("")
                       .ShortCopy(60, 0)
                       .LongCopy(100, 156)
                       .ShortCopy(1, 255)
                       .Literal("literal")
                       .bytes();
  seeds["past_end"] = test::DiffBytes().ShortCopy(4, 254).LongCopy(0xFFFFFFF0u, 0x100).bytes();
  std::vector<uint8_t> cut = test::DiffBytes().Literal("abcdef").bytes();
  cut.resize(cut.size() - 3);
  seeds["cut_literal"] = cut;
  return seeds;
}


TEST(FuzzSeeds, ListReaderCorpusMatchesItsGenerator) { test::CheckOrWriteFuzzSeeds(ListSeeds(), "list_reader"); }

TEST(FuzzSeeds, PatchCorpusMatchesItsGenerator) { test::CheckOrWriteFuzzSeeds(PatchSeeds(), "patch"); }

}  // namespace
}  // namespace gp
