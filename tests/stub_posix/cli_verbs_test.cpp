// The genpatch command line as a user meets it, one test per verb: the real program as a
// subprocess, its exit codes, messages and the files it leaves behind.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "run_process.h"
#include "support/release_files.h"
#include "support/test_support.h"

namespace gp {
namespace {

namespace fs = std::filesystem;

const fs::path kExample = fs::path(GP_SOURCE_DIR) / "examples" / "sample-app";

// Every file below dir whose name ends in suffix.
std::vector<std::string> FilesEndingIn(const fs::path& dir, const std::string& suffix) {
  std::vector<std::string> found;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string name = e.path().filename().string();
    if (name.size() >= suffix.size() && name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0) {
      found.push_back(e.path().string());
    }
  }
  return found;
}

struct Case {
  std::vector<std::string> args;
  int exit_code;
  std::string out;  // expected in standard output (empty: anything)
  std::string err;  // expected in standard error (empty: standard error is empty)
};

class CliVerbsTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> Env() { return {{"GENPATCH_TEMP_DIR", temp_.path().string()}}; }

  test::ProcessResult Genpatch(std::vector<std::string> args) {
    args.insert(args.begin(), GP_GENPATCH_PATH);
    return test::RunProcess(args, Env());
  }

  void Run(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
      const auto r = Genpatch(c.args);
      std::string shown;
      for (const std::string& a : c.args) shown += " " + a;
      EXPECT_EQ(r.exit_code, c.exit_code) << shown << "\n" << r.out << r.err;
      EXPECT_NE(r.out.find(c.out), std::string::npos) << shown << "\n" << r.out;
      if (c.err.empty()) {
        EXPECT_EQ(r.err, "") << shown;
      } else {
        EXPECT_NE(r.err.find(c.err), std::string::npos) << shown << "\n" << r.err;
      }
    }
  }

  // The bundled example's package and installed copies of its releases.
  fs::path Package() {
    const fs::path out = dir_ / "update";
    if (!fs::exists(out)) {
      // The classic format: the byte counts that info --files shows below are its own.
      const auto r = Genpatch({"build", "-q", "--format", "classic", "--project",
                               (kExample / "project.toml").string(), "--stub", GP_STUB_PATH, "-o",
                               out.string()});
      EXPECT_EQ(r.exit_code, 0) << r.err;
    }
    return out;
  }
  fs::path Install(const std::string& release) {
    const fs::path target = dir_ / "installed" / release;
    fs::create_directories(target.parent_path());
    fs::copy(kExample / release, target, fs::copy_options::recursive);
    return target;
  }

  test::TempDir temp_;
  test::TempDir dir_;
};

TEST_F(CliVerbsTest, Build) {
  const fs::path d = dir_.path();
  test::WriteRelease(d / "a" / "v", {{"app.exe", "one"}, {"lib/x.dll", "xx"}});
  test::WriteRelease(d / "b" / "v", {{"app.exe", "two"}});
  test::WriteRelease(d / "v1", {{"app.exe", "one"}, {"lib/x.dll", "xx"}});
  test::WriteRelease(d / "v2", {{"app.exe", "two"}});
  test::WriteRelease(d / "same", {{"app.exe", "two"}});
  test::WriteRelease(d / "linked", {{"app.exe", "two"}});
  fs::create_symlink("/etc/passwd", d / "linked" / "passwd");
  // A release whose files are all older than those of the one before it.
  test::WriteRelease(d / "older", {{"app.exe", "zero"}, {"lib/x.dll", "x"}});
  for (const char* f : {"app.exe", "lib/x.dll"}) {
    fs::last_write_time(d / "older" / f, fs::last_write_time(d / "v1" / f) - std::chrono::hours(48));
  }
  test::WriteBytes(d / "fake-stub", {'M', 'Z', 0, 0});
  const std::string out = (d / "p.dat").string();
  const std::string v1 = (d / "v1").string();
  const std::string v2 = (d / "v2").string();
  const std::string usage = "Run 'genpatch build --help' for its options.";
  Run({
      {{"build", "--bogus"}, 2, "", "genpatch build: The following argument was not expected: --bogus\n" + usage},
      {{"build", "-o", out}, 2, "", "genpatch build: no release folders named\n" + usage},
      {{"build", "--data-file", v1, v2}, 2, "", "name the package to write with -o"},
      {{"build", "--output=" + out, "--data-file", v1, v2}, 0, "package       ", ""},
      {{"build", "-o", out, "--data-file", v1, v2}, 1, "", "'" + out + "' exists; give --force to replace it"},
      {{"build", "-q", "--force", "-o", out, "--data-file", v1, v2}, 0, "", ""},
      {{"build", "-q", "-o" + out + "2", "--data-file", "--", v1, v2}, 0, "", ""},
      {{"build", "-o", (d / "missing" / "p.dat").string(), "--data-file", v1, v2}, 1, "",
       "the folder '" + (d / "missing").string() + "' does not exist"},
      {{"build", "-o", (d / "p.exe").string(), "--stub", "/bin/true", v1, v2}, 1, "",
       "the program image '/bin/true' is not a genpatch package program"},
      {{"build", "-o", (d / "p.exe").string(), "--stub", (d / "fake-stub").string(), v1, v2}, 1, "",
       "is not a genpatch package program"},
      {{"build", "-o", (d / "p.exe").string(), "--stub", (d / "none").string(), v1, v2}, 1, "",
       "the program image '" + (d / "none").string() + "' does not exist"},
      {{"build", "-o", (d / "p.dat").string(), "--data-file", v1, (d / "nowhere").string()}, 1, "",
       "the release folder '" + (d / "nowhere").string() + "' does not exist"},
      {{"build", "-f", "-o", out, "--data-file", v1, v2, v1}, 1, "", "is named twice (as release 1 and 3)"},
      {{"build", "-f", "-o", out, "--data-file", (d / "a" / "v").string(), (d / "b" / "v").string()}, 1, "",
       "two generations are named v"},
      {{"build", "-f", "-o", out, "--data-file", v1, (d / "linked").string()}, 1, "",
       "passwd' is a symbolic link; a release carries only plain files and folders"},
      {{"build", "-f", "-o", out, "--data-file", v1, v2, (d / "same").string()}, 0, "",
       "genpatch build: warning: the releases v2 and same are identical"},
      {{"build", "-f", "-o", out, "--data-file", v1, (d / "older").string()}, 0, "",
       "are the releases in the wrong order (oldest first)?"},
      {{"build", "--version"}, 0, "genpatch ", ""},
      {{"build", "--help"}, 0, "doc/project-file.md", ""},
  });
  EXPECT_EQ(FilesEndingIn(d, ".partial"), std::vector<std::string>{});
  EXPECT_EQ(FilesEndingIn(d, ".tmp"), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(d / "p.exe"));
}

TEST_F(CliVerbsTest, BuildInterruptedLeavesNothing) {
  const fs::path d = dir_.path();
  // Large enough that the diff takes a moment: the interrupt comes while it is being made.
  const std::string big = test::Pattern(16u << 20, 1);
  std::string changed = big;
  for (size_t i = 0; i < changed.size(); i += 4096) changed[i] = static_cast<char>(changed[i] + 1);
  test::WriteRelease(d / "v1", {{"big.bin", big}});
  test::WriteRelease(d / "v2", {{"big.bin", changed}});
  const fs::path out = d / "p.dat";
  const auto r = test::RunProcess(
      {"/bin/sh", "-c",
       "\"$0\" build --data-file -o \"$1\" \"$2\" \"$3\" & pid=$!; "
       "while kill -0 $pid 2>/dev/null && ! [ -e \"$1.diffs.tmp\" ]; do sleep 0.01; done; "
       "kill -INT $pid; wait $pid; echo $?",
       GP_GENPATCH_PATH, out.string(), (d / "v1").string(), (d / "v2").string()},
      Env());
  EXPECT_EQ(r.out, "130\n") << r.err;
  EXPECT_EQ(FilesEndingIn(d, ".tmp"), std::vector<std::string>{});
  EXPECT_EQ(FilesEndingIn(d, ".partial"), std::vector<std::string>{});
  EXPECT_FALSE(fs::exists(out));
}

TEST_F(CliVerbsTest, InfoAndExtract) {
  const fs::path package = Package();
  const std::string out = (dir_ / "work.cfb").string();
  Run({
      {{"info", "--files", package.string()}, 0,
       "list 2: 1.1 -> 2.0\n"
       "  changed  readme.txt  103 bytes (57 in the package)\n"
       "  changed  サンプル.exe  23718 bytes (66 in the package)\n"
       "  removed  古い機能.dll\n"
       "  carried  設定\\既定.ini  28 bytes (18 in the package)\n",
       ""},
      {{"info", "--files", package.string()}, 0, "  added    [辞書]\\追加語.txt  7 bytes (21 in the package)\n", ""},
      {{"info", "--json", "--files", package.string()}, 0,
       "{\"path\":\"古い機能.dll\",\"action\":\"removed\",\"size\":0,\"package_bytes\":0}", ""},
      {{"info"}, 2, "", "genpatch info: PACKAGE is required\nRun 'genpatch info --help'"},
      {{"info", (kExample / "project.toml").string()}, 1, "", "genpatch info: "},
      {{"extract", package.string(), out}, 0, "wrote ", ""},
      {{"extract", package.string(), out}, 1, "", "exists; give --force to replace it"},
      {{"extract", "-q", "--force", package.string(), out}, 0, "", ""},
  });
  // The scratch file of info goes to GENPATCH_TEMP_DIR, whatever TMPDIR says.
  const auto r = test::RunProcess({GP_GENPATCH_PATH, "info", package.string()},
                                  {{"GENPATCH_TEMP_DIR", temp_.path().string()}, {"TMPDIR", "/nonexistent"}});
  EXPECT_EQ(r.exit_code, 0) << r.err;
  EXPECT_TRUE(fs::is_empty(temp_.path()));
}

TEST_F(CliVerbsTest, Check) {
  const std::string package = Package().string();
  const fs::path v10 = Install("1.0");
  const fs::path v20 = Install("2.0");
  const fs::path v11 = Install("1.1");
  fs::remove(v11 / "追加" / "新機能.dll");
  // Group folders given relative ("dict") are taken inside --dest, wherever genpatch runs.
  Run({
      {{"check", package, "--dest", v10.string()}, 0, "installed: 1.0 (the update starts at list 1)\n", ""},
      {{"check", package, "--dest=" + v20.string()}, 4, "installed: 2.0 (the newest generation)\n", ""},
      {{"check", "-q", package, "-d", v20.string()}, 4, "", ""},
      {{"check", package, "--dest", v11.string(), "--verbose"}, 3,
       "  1.0: does not match: " + (v11 / "サンプル.exe").string() + ": another checksum\n"
       "  1.1: does not match: " + (v11 / "追加" / "新機能.dll").string() + ": missing\n",
       ""},
      {{"check", package, "--dest", (dir_ / "nowhere").string()}, 1, "",
       "the destination folder '" + (dir_ / "nowhere").string() + "' does not exist"},
      {{"check", (kExample / "project.toml").string(), "--dest", v10.string()}, 1, "", "genpatch check: "},
      {{"check", package, "--group"}, 2, "", "--group: 1 required NAME=DIR missing"},
  });
}

TEST_F(CliVerbsTest, ApplyDryRun) {
  const std::string package = Package().string();
  const fs::path v10 = Install("1.0");
  // Left by others: the temporary folder of an ended run and a commit journal.
  fs::create_directories(temp_.path() / "~gp999999");
  test::WriteBytes(temp_.path() / "~gp999999" / "DIF1.TMP", {'x'});
  const fs::path before = dir_ / "before";
  fs::copy(v10, before, fs::copy_options::recursive);
  Run({
      {{"apply", "--dry-run", package, "--dest", v10.string()}, 0,
       "installed: 1.0; lists 1 to 2 would make 2.0\n"
       "  replace " + (v10 / "dict" / "単語.txt").string() + "\n"
       "  write   " + (v10 / "dict" / "追加語.txt").string() + "\n",
       ""},
      {{"apply", "-n", package, "--dest", v10.string()}, 0, "  remove  " + (v10 / "古い機能.dll").string() + "\n", ""},
      {{"apply", "-n", package, "--dest", v10.string(), "--log", (dir_ / "log").string()}, 2, "", "--dry-run writes no log"},
  });
  EXPECT_TRUE(test::SameTree(before, v10));
  EXPECT_TRUE(fs::exists(temp_.path() / "~gp999999" / "DIF1.TMP"));
  test::WriteBytes(v10 / "~genpatch.commit", {'x'});
  Run({{{"apply", "-n", package, "--dest", v10.string()}, 0, "an interrupted update would be finished", ""}});
  EXPECT_TRUE(fs::exists(v10 / "~genpatch.commit"));
  fs::remove(v10 / "~genpatch.commit");
  Run({{{"apply", "-q", package, "--dest", v10.string()}, 0, "", "正常終了"},
       {{"apply", "-n", package, "--dest", v10.string()}, 4, "(the newest generation): nothing to do", ""}});
  EXPECT_TRUE(test::SameTree(kExample / "2.0", v10));
}

}  // namespace
}  // namespace gp
