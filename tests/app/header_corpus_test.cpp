// Writes the seed corpus of the header fuzz target from the writer's own headers, and checks
// that the committed seeds still load (a seed that stops loading means the loader changed).
#include <gtest/gtest.h>

#include <filesystem>

#include "app/package_loader.h"
#include "builder/header_writer.h"
#include "support/test_support.h"
#include "update/package_tables.h"

namespace gp {
namespace {

std::vector<builder::HeaderDescription> SeedDescriptions() {
  builder::HeaderDescription plain;
  plain.comment = "comment";
  plain.caption = "caption";
  plain.generations = {{"g0", "", {}}, {"g1", "c", {}}};
  builder::HeaderDescription groups = plain;
  groups.group_count = 2;
  groups.generations[0].groups = {{"data", "d", "C:\\Data"}};
  groups.generations[1].groups = {{"data", "", "C:\\Data"}, {"help", "h", "C:\\Help"}};
  builder::HeaderDescription empty;
  return {plain, groups, empty};
}

TEST(HeaderCorpus, SeedsLoad) {
  const std::filesystem::path dir = std::filesystem::path(GP_SOURCE_DIR) / "fuzz/corpus/header";
  const auto descs = SeedDescriptions();
  for (size_t i = 0; i < descs.size(); ++i) {
    const auto bytes = builder::WriteHeader(descs[i]);
    const auto file = dir / ("seed" + std::to_string(i));
    if (!std::filesystem::exists(file)) test::WriteBytes(file, bytes);
    EXPECT_EQ(test::ReadBytes(file), bytes) << file;
    PackageTables package;
    ASSERT_TRUE(AllocateTextBuffers(package));
    package.header_block.reset(new uint8_t[bytes.size()]);
    std::copy(bytes.begin(), bytes.end(), package.header_block.get());
    package.header_length = static_cast<uint32_t>(bytes.size());
    EXPECT_EQ(ParseHeaderBlock(package), HeaderStatus::kOk);
  }
}

}  // namespace
}  // namespace gp
