#include "support/test_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <fstream>
#include <iterator>

#include "platform/platform.h"

namespace gp::test {

namespace fs = std::filesystem;

namespace {

std::atomic<int> g_counter{0};

// Where test folders go: the system's temporary folder as the process started, before any test
// points the temporary-folder variables elsewhere.
const fs::path& BaseFolder() {
  static const fs::path base = fs::temp_directory_path();
  return base;
}
const bool g_base_taken = !BaseFolder().empty();

void MakeWritable(const fs::path& root) {
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(root, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
}

}  // namespace

std::filesystem::path PathFromUtf8(const std::string& utf8) {
  return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string PathToUtf8(const std::filesystem::path& path) {
  const std::u8string u = path.u8string();
  return std::string(u.begin(), u.end());
}

namespace {

constexpr const char* kTempVariables[3] = {"GENPATCH_TEMP_DIR", "TMP", "TEMP"};

}  // namespace

TempDir::TempDir() {
  const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (int attempt = 0;; ++attempt) {
    path_ = BaseFolder() /
            ("gp-test-" + std::to_string(stamp % 1000000007) + "-" +
             std::to_string(g_counter++) + "-" + std::to_string(attempt));
    std::error_code ec;
    if (fs::create_directory(path_, ec)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ec;
  MakeWritable(path_);
  fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

fs::path TempDir::operator/(const std::string& utf8_name) const {
  return path_ / PathFromUtf8(utf8_name);
}

std::string TempDir::Program(const std::string& utf8_relative) const {
  return ProgramPath(utf8_relative.empty() ? path_ : path_ / PathFromUtf8(utf8_relative));
}

TempFolderScope::TempFolderScope() {
  for (int i = 0; i < 3; ++i) {
    const char* value = std::getenv(kTempVariables[i]);
    had_[i] = value != nullptr;
    if (value) saved_[i] = value;
    platform::SetEnvironment(kTempVariables[i], PathToUtf8(dir_.path()).c_str());
  }
}

TempFolderScope::~TempFolderScope() {
  for (int i = 0; i < 3; ++i) {
    platform::SetEnvironment(kTempVariables[i], had_[i] ? saved_[i].c_str() : nullptr);
  }
}

std::vector<std::string> TempFolderScope::Files() const {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir_.path())) {
    names.push_back(PathToUtf8(entry.path().filename()));
  }
  return names;
}

ScriptedRun::ScriptedRun() : context_(std::make_unique<RunContext>(host_)) {}
ScriptedRun::~ScriptedRun() = default;

void ScriptedRun::Renew() {
  context_.reset();
  context_ = std::make_unique<RunContext>(host_);
}

std::vector<std::string> ScriptedRun::Transcript() const {
  std::vector<std::string> lines;
  for (const auto& m : host_.messages()) lines.push_back(Utf8(m.caption) + ": " + Utf8(m.text));
  return lines;
}

std::string Utf8(const std::string& cp932) {
  std::string out;
  EXPECT_TRUE(platform::Cp932ToUtf8(cp932, &out)) << "not code page 932 text";
  return out;
}

std::string Cp932(const std::string& utf8) {
  std::string out;
  EXPECT_TRUE(platform::Utf8ToCp932(utf8, &out)) << "no code page 932 form: " << utf8;
  return out;
}

std::string ProgramPath(const fs::path& host) {
  std::string program;
  EXPECT_TRUE(platform::HostToProgramPath(PathToUtf8(host), &program)) << PathToUtf8(host);
  return program;
}

std::vector<uint8_t> ReadBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
}

void WriteBytes(const fs::path& path, const std::vector<uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

void CheckOrWriteFuzzSeeds(const std::map<std::string, std::vector<uint8_t>>& seeds,
                           const char* target) {
  const fs::path folder = fs::path(GP_SOURCE_DIR) / "fuzz" / "corpus" / target;
  const bool write = std::getenv("GP_WRITE_FUZZ_SEEDS") != nullptr;
  if (write) fs::create_directories(folder);
  for (const auto& [name, bytes] : seeds) {
    const fs::path path = folder / ("seed_" + name);
    if (write) WriteBytes(path, bytes);
    ASSERT_TRUE(fs::exists(path)) << path << " missing; run with GP_WRITE_FUZZ_SEEDS=1";
    EXPECT_EQ(ReadBytes(path), bytes) << path;
  }
}

bool ReadOnlyEnforced() {
  TempDir dir;
  WriteBytes(dir / "probe.dat", {1});
  const std::string path = dir.Program("probe.dat");
  platform::WriteAttributes(path.c_str(), platform::kAttrReadOnly);
  platform::File probe;
  const bool writable = probe.Open(path.c_str(), platform::kAccessWrite, platform::kShareNone,
                                   platform::Disposition::kOpenExisting);
  probe.Close();
  platform::WriteAttributes(path.c_str(), platform::kAttrNormal);
  return !writable;
}

}  // namespace gp::test
