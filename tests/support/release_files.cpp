#include "support/release_files.h"

#include <gtest/gtest.h>

#include <chrono>

namespace gp::test {

namespace fs = std::filesystem;

std::string Pattern(size_t size, uint32_t seed) {
  std::string out(size, '\0');
  uint32_t x = seed;
  for (char& c : out) {
    x = x * 1103515245u + 12345u;
    c = static_cast<char>(x >> 24);
  }
  return out;
}

void WriteRelease(const fs::path& root, const Files& files) {
  fs::create_directories(root);
  for (const auto& [relative, content] : files) {
    const fs::path path = root / PathFromUtf8(relative);
    fs::create_directories(path.parent_path());
    WriteBytes(path, std::vector<uint8_t>(content.begin(), content.end()));
    using namespace std::chrono;
    fs::last_write_time(path, file_clock::from_sys(sys_seconds{sys_days{year{2020} / 1 / 15}} + seconds{36000}));
  }
}

Files ReadRelease(const fs::path& root) {
  Files files;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (!entry.is_regular_file()) continue;
    const std::vector<uint8_t> bytes = ReadBytes(entry.path());
    const std::u8string relative = entry.path().lexically_relative(root).generic_u8string();
    files[std::string(relative.begin(), relative.end())] =
        std::string(bytes.begin(), bytes.end());
  }
  return files;
}

void ExpectSameFiles(const Files& actual, const Files& expected) {
  for (const auto& [path, content] : expected) {
    const auto it = actual.find(path);
    if (it == actual.end()) {
      ADD_FAILURE() << "missing: " << path;
    } else if (it->second != content) {
      ADD_FAILURE() << "different content (" << it->second.size() << " bytes, expected "
                    << content.size() << "): " << path;
    }
  }
  for (const auto& [path, content] : actual) {
    if (expected.count(path) == 0) ADD_FAILURE() << "unexpected: " << path;
  }
}

fs::path WriteDataFile(const builder::GeneratorInput& input, const TempDir& dir,
                       const std::string& name) {
  builder::GeneratedPackage package = builder::GeneratePackage(input, dir / (name + ".diffs"));
  package.desc.layout = builder::PackageLayout::kDataFile;
  const fs::path out = dir / name;
  const std::string error = builder::WritePackage(package.desc, out);
  EXPECT_EQ(error, "");
  return out;
}

}  // namespace gp::test
