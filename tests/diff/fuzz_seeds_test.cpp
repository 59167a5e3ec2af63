// The seed inputs of the diff encoder's fuzz target are generated here: two bytes that say
// where the old file ends, then the old file and the new one. With GP_WRITE_FUZZ_SEEDS set the
// test (re)writes them into fuzz/corpus/; otherwise it checks the committed ones.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace gp {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pair(const Bytes& old_file, const Bytes& new_file) {
  Bytes out = {static_cast<uint8_t>(old_file.size() >> 8), static_cast<uint8_t>(old_file.size())};
  out.insert(out.end(), old_file.begin(), old_file.end());
  out.insert(out.end(), new_file.begin(), new_file.end());
  return out;
}

Bytes Program(size_t size, uint32_t seed) {
  Bytes out(size);
  for (uint8_t& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed % 7 == 0 ? 0 : seed >> 24);
  }
  return out;
}

std::map<std::string, Bytes> DiffEncoderSeeds() {
  const Bytes old_file = Program(600, 1);
  Bytes shifted = old_file;
  shifted.insert(shifted.begin() + 100, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10});
  shifted.erase(shifted.begin() + 400, shifted.begin() + 420);
  Bytes patched = old_file;
  for (size_t i = 16; i < patched.size(); i += 37) patched[i] ^= 0x40;
  Bytes moved(old_file.begin() + 300, old_file.end());
  moved.insert(moved.end(), old_file.begin(), old_file.begin() + 300);
  return {{"shifted", Pair(old_file, shifted)},
          {"patched", Pair(old_file, patched)},
          {"moved", Pair(old_file, moved)},
          {"identical", Pair(old_file, old_file)},
          {"empty_old", Pair({}, old_file)},
          {"empty_new", Pair(old_file, {})},
          {"runs", Pair(Bytes(300, 0), Bytes(500, 0))}};
}

TEST(FuzzSeeds, DiffEncoderCorpusMatchesItsGenerator) {
  test::CheckOrWriteFuzzSeeds(DiffEncoderSeeds(), "diff_encoder");
}

}  // namespace
}  // namespace gp
