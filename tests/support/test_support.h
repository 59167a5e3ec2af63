// Helpers shared by the test suites: fresh folders, program paths, and a run context over the
// scripted host.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "ui/scripted_host.h"
#include "update/run_context.h"

namespace gp::test {

// A fresh folder, removed with everything in it (read-only files included) when the object
// goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& utf8_name) const;
  // The folder (or a path below it) as the program names it: a code page 932 Windows path.
  std::string Program(const std::string& utf8_relative = std::string()) const;

 private:
  std::filesystem::path path_;
};

// Points the program's temporary folder (GENPATCH_TEMP_DIR, TMP, TEMP) at a fresh folder for
// the object's lifetime.
class TempFolderScope {
 public:
  TempFolderScope();
  ~TempFolderScope();
  const TempDir& dir() const { return dir_; }
  // Names of the files in the temporary folder.
  std::vector<std::string> Files() const;

 private:
  TempDir dir_;
  std::string saved_[3];
  bool had_[3] = {};
};

// A scripted host and a run context over it, as one update run of the tests.
class ScriptedRun {
 public:
  ScriptedRun();
  ~ScriptedRun();
  ScriptedRun(const ScriptedRun&) = delete;
  ScriptedRun& operator=(const ScriptedRun&) = delete;

  ui::ScriptedHost& host() { return host_; }
  ui::ScriptedHost* operator->() { return &host_; }
  RunContext& context() { return *context_; }
  // Starts over with a fresh context (the current one is released first); the host, and what
  // it recorded, stay.
  void Renew();
  // The recorded messages as "caption: text" in UTF-8.
  std::vector<std::string> Transcript() const;

 private:
  ui::ScriptedHost host_;
  std::unique_ptr<RunContext> context_;
};

std::filesystem::path PathFromUtf8(const std::string& utf8);
std::string PathToUtf8(const std::filesystem::path& path);
std::string Utf8(const std::string& cp932);
std::string Cp932(const std::string& utf8);
// A host path (UTF-8) as a program path.
std::string ProgramPath(const std::filesystem::path& host);

std::vector<uint8_t> ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);

// Whether the read-only attribute blocks writing here. Under Wine it is a permission bit that
// root ignores: tests of it skip there, unless GP_REQUIRE_READONLY=1 (the run as an
// unprivileged user), where an unenforced attribute is a failure.
bool ReadOnlyEnforced();
#define GP_SKIP_UNLESS_READ_ONLY_ENFORCED()                                              \
  do {                                                                                   \
    if (!::gp::test::ReadOnlyEnforced()) {                                               \
      if (::gp::platform::GetEnvironment("GP_REQUIRE_READONLY") == "1") {                \
        FAIL() << "the read-only attribute is not enforced for this user";              \
      }                                                                                  \
      GTEST_SKIP() << "the read-only attribute is not enforced here (Wine run by root)"; \
    }                                                                                    \
  } while (0)

// The seed corpus of a fuzz target (fuzz/corpus/TARGET/seed_NAME) must hold exactly the bytes
// that its generator makes; with GP_WRITE_FUZZ_SEEDS set the files are written first.
void CheckOrWriteFuzzSeeds(const std::map<std::string, std::vector<uint8_t>>& seeds,
                           const char* target);

}  // namespace gp::test
