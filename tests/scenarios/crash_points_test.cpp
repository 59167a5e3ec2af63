// An update killed just before one of its file-system changes, then run again: the folders end
// as the newest release with nothing of ours left, and no file ever matches no release. The
// platform layer's fault hook (GENPATCH_FAULT_AT, GENPATCH_FAULT_TRACE) ends the program. On
// Linux every change of a run is tried, for the package program and for 'genpatch apply'; under
// Wine, where each start costs seconds, a few points spread over the commit.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "program_runner.h"
#include "support/release_files.h"

#if !defined(_WIN32)
#include "run_process.h"
#endif

namespace gp {
namespace {

namespace fs = std::filesystem;
using test::Files;
using test::Pattern;

constexpr char kGroupPrefix[] = "dict/";

// Three small releases, few files (each run is tried at every one of its changes). 1.1
// changes the program and the dictionary and removes README.TXT; 2.0 changes the program,
// writes README.TXT again, removes the only file of "doc", adds a file in new nested folders
// and a dictionary. The dictionaries ("dict/") belong to the group folder.
std::vector<Files> Releases() {
  const std::string program = Pattern(3000, 1);
  Files r0 = {{"MAIN.EXE", program},
              {"doc/OLD.TXT", "old notes"},
              {"README.TXT", "read me"},
              {"dict/基本.dic", "words 1"}};
  Files r1 = r0;
  r1["MAIN.EXE"] = program.substr(0, 1500) + "version 1.1" + program.substr(1500);
  r1["dict/基本.dic"] = "words 2";
  r1.erase("README.TXT");
  Files r2 = r1;
  r2["MAIN.EXE"] = "2.0" + r1["MAIN.EXE"] + Pattern(300, 3);
  r2["README.TXT"] = "read me again";
  r2["新しい/深い/追加.txt"] = "added in 2.0";
  r2["dict/追加.dic"] = "more words";
  r2.erase("doc/OLD.TXT");
  return {r0, r1, r2};
}

bool InGroup(const std::string& path) { return path.rfind(kGroupPrefix, 0) == 0; }

Files Main(const Files& files) {
  Files out;
  for (const auto& [path, content] : files) {
    if (!InGroup(path)) out[path] = content;
  }
  return out;
}

Files Group(const Files& files) {
  Files out;
  for (const auto& [path, content] : files) {
    if (InGroup(path)) out[path.substr(sizeof kGroupPrefix - 1)] = content;
  }
  return out;
}

// The files an update run makes for itself: stage files, files set aside, the commit journal.
bool IsOwnFile(const std::string& path) {
  static const std::regex own(R"((^|.*/)(.*\.new[0-9]+|.*\.gp-aside|~genpatch\.commit.*)$)");
  return std::regex_match(path, own);
}

// One change of a traced run: "NUMBER KIND PATH".
struct Change {
  std::string kind;
  std::string path;
};

std::vector<Change> ReadTrace(const fs::path& file) {
  std::vector<Change> changes;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    size_t number = 0;
    Change change;
    fields >> number >> change.kind;
    std::getline(fields >> std::ws, change.path);
    if (number != changes.size() + 1) break;  // a torn line: the trace ends before it
    changes.push_back(change);
  }
  return changes;
}

// The folders of one attempt: the installed main folder, its group folder, a temporary folder.
struct Installation {
  fs::path root;
  fs::path main;
  fs::path group;
  fs::path temp;
};

class CrashPoints : public ::testing::Test {
 protected:
  void SetUp() override {
    releases_ = Releases();
    std::vector<fs::path> folders;
    for (size_t i = 0; i < releases_.size(); ++i) {
      folders.push_back(dir_ / ("release" + std::to_string(i)));
      test::WriteRelease(folders.back(), releases_[i]);
    }
    const builder::GeneratorInput plain = builder::InputFromFolders(folders);
    input_ = plain;
    for (size_t i = 0; i < input_.releases.size(); ++i) {
      input_.releases[i].name = kNames[i];
      input_.releases[i].groups = {{test::Cp932("辞書"), "", "C:", "dict"}};
    }
    input_.caption = test::Cp932("クラッシュ 更新");
    input_.options.caption = "UPDATE";
    input_.options.failure = "FAILED";
    input_.options.completion = "DONE";
    input_.options.missing_file = "MISSING";
    input_.options.up_to_date = "LATEST";
    input_.file_removal = true;
    package_ = test::WriteDataFile(input_, dir_, "package");
  }

  Installation Install(size_t generation) {
    Installation at;
    at.root = dir_ / ("case" + std::to_string(++cases_));
    at.main = at.root / "app";
    at.group = at.root / "dict";
    at.temp = at.root / "temp";
    test::WriteRelease(at.main, Main(releases_[generation]));
    test::WriteRelease(at.group, Group(releases_[generation]));
    fs::create_directories(at.temp);
    return at;
  }

  // Runs the update on an installation; returns the exit code (128 + signal when killed) and
  // the program's messages.
  std::pair<int, std::string> Update(bool apply_command, const Installation& at,
                                     const test::ExtraEnvironment& extra) {
#if defined(_WIN32)
    (void)apply_command;
    const test::ProgramRun run = RunStub(at, extra);
    return {run.exit_code, run.transcript};
#else
    if (!apply_command) {
      const test::ProgramRun run = RunStub(at, extra);
      return {run.exit_code, run.transcript};
    }
    std::map<std::string, std::string> env = {{"GENPATCH_TEMP_DIR", at.temp.string()},
                                              {"GENPATCH_ANSWERS", ""}};
    for (const auto& [name, value] : extra) env[name] = value;
    const test::ProcessResult r = test::RunProcess(
        {GP_GENPATCH_PATH, "apply", package_.string(), "--dest", at.main.string(), "--group",
         "辞書=" + test::PathToUtf8(at.group)},
        env);
    return {r.exit_code, r.err};
#endif
  }

  test::ProgramRun RunStub(const Installation& at, const test::ExtraEnvironment& extra) {
    test::ProgramAnswers answers;
    for (const char* generation : kNames) answers.groups.push_back({generation, "辞書", at.group});
    return test::RunPackageProgram(package_, at.main, at.temp, answers, extra);
  }

  // The changes of an uninterrupted run from a generation.
  std::vector<Change> Trace(bool apply_command, size_t generation) {
    const Installation at = Install(generation);
    const fs::path trace = at.root / "trace.txt";
    const auto [code, messages] =
        Update(apply_command, at, {{"GENPATCH_FAULT_TRACE", test::PathToUtf8(trace)}});
    EXPECT_EQ(code, 0) << messages;
    return ReadTrace(trace);
  }

  // What is wrong with a folder after a kill: a file that matches the same path in no
  // release and is not one of the run's own.
  std::vector<std::string> StrayFiles(const fs::path& folder, bool group) {
    std::vector<std::string> problems;
    for (const auto& [path, content] : test::ReadRelease(folder)) {
      if (IsOwnFile(path)) continue;
      bool known = false;
      for (const Files& release : releases_) {
        const Files part = group ? Group(release) : Main(release);
        const auto it = part.find(path);
        known = known || (it != part.end() && it->second == content);
      }
      if (!known) problems.push_back("matches no release: " + path);
    }
    return problems;
  }

  // What is wrong with a folder after the rerun: differences from the newest release, our own
  // files left, folders the newest release does not have.
  static std::vector<std::string> Differences(const fs::path& folder, const Files& expected) {
    std::vector<std::string> problems;
    const Files actual = test::ReadRelease(folder);
    for (const auto& [path, content] : expected) {
      const auto it = actual.find(path);
      if (it == actual.end()) {
        problems.push_back("missing: " + path);
      } else if (it->second != content) {
        problems.push_back("different content: " + path);
      }
    }
    std::set<std::string> folders;
    for (const auto& [path, content] : expected) {
      for (size_t slash = path.find('/'); slash != std::string::npos;
           slash = path.find('/', slash + 1)) {
        folders.insert(path.substr(0, slash));
      }
    }
    for (const auto& [path, content] : actual) {
      if (expected.count(path) != 0) continue;
      problems.push_back((IsOwnFile(path) ? "left over: " : "unexpected: ") + path);
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
      if (!entry.is_directory()) continue;
      const std::u8string relative = entry.path().lexically_relative(folder).generic_u8string();
      const std::string name(relative.begin(), relative.end());
      if (folders.count(name) == 0) problems.push_back("extra folder: " + name);
    }
    return problems;
  }

  static std::string Describe(size_t point, const std::vector<Change>& changes) {
    return "crash point " + std::to_string(point) + " of " + std::to_string(changes.size()) +
           " (before " + changes[point - 1].kind + " " + changes[point - 1].path + ")";
  }

  // Kills the run at one point and runs it again; returns what went wrong (empty: recovered).
  std::vector<std::string> TryPoint(bool apply_command, size_t generation, size_t point) {
    const Installation at = Install(generation);
    std::vector<std::string> problems;
    const auto [killed, killed_messages] =
        Update(apply_command, at, {{"GENPATCH_FAULT_AT", std::to_string(point)}});
    if (killed != kKilledCode) {
      problems.push_back("the hook did not end the run (exit " + std::to_string(killed) + "): " +
                         killed_messages);
    }
    for (const std::string& p : StrayFiles(at.main, false)) problems.push_back("after the kill, " + p);
    for (const std::string& p : StrayFiles(at.group, true)) {
      problems.push_back("after the kill, group " + p);
    }
    const auto [code, messages] = Update(apply_command, at, {});
    // The rerun updates (0), or finds the newest release once it has finished a commit that
    // the kill interrupted after its last step that counts (4).
    if (code != 0 && code != 4) {
      problems.push_back("rerun exit " + std::to_string(code) + ": " + messages);
    }
    for (const std::string& p : Differences(at.main, Main(releases_.back()))) {
      problems.push_back("after the rerun, " + p);
    }
    for (const std::string& p : Differences(at.group, Group(releases_.back()))) {
      problems.push_back("after the rerun, group " + p);
    }
    for (const auto& entry : fs::directory_iterator(at.temp)) {
      problems.push_back("temporary file left: " + test::PathToUtf8(entry.path().filename()));
    }
    return problems;
  }

  // Tries the given points, a few at a time on Linux (each in folders of its own), and reports
  // each failed one with everything wrong with it.
  void TryPoints(bool apply_command, size_t generation, const std::vector<Change>& changes,
                 const std::vector<size_t>& points) {
    std::vector<std::vector<std::string>> results(points.size());
    std::atomic<size_t> next{0};
    auto work = [&] {
      for (size_t k = next++; k < points.size(); k = next++) {
        results[k] = TryPoint(apply_command, generation, points[k]);
      }
    };
#if defined(_WIN32)
    work();
#else
    const unsigned workers = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
    std::vector<std::thread> threads;
    for (unsigned w = 0; w < workers; ++w) threads.emplace_back(work);
    for (std::thread& t : threads) t.join();
#endif
    size_t recovered = 0;
    for (size_t k = 0; k < points.size(); ++k) {
      const size_t point = points[k];
      const std::vector<std::string>& problems = results[k];
      if (problems.empty()) {
        ++recovered;
        continue;
      }
      std::string report;
      for (const std::string& p : problems) report += "\n  " + p;
      ADD_FAILURE() << Describe(point, changes) << ":" << report;
    }
    std::printf("crash points, %s from %s: %zu tried, %zu recovered\n",
                apply_command ? "genpatch apply" : "package program", kNames[generation],
                points.size(), recovered);
  }

#if defined(_WIN32)
  static constexpr int kKilledCode = 99;  // TerminateProcess's code in the hook
#else
  static constexpr int kKilledCode = 128 + 9;  // SIGKILL
#endif
  static constexpr const char* kNames[3] = {"1.0", "1.1", "2.0"};
  test::TempDir dir_;
  std::vector<Files> releases_;
  builder::GeneratorInput input_;
  fs::path package_;
  std::atomic<int> cases_{0};
};

#if !defined(_WIN32)

class EveryCrashPoint : public CrashPoints,
                        public ::testing::WithParamInterface<std::tuple<bool, size_t>> {};

TEST_P(EveryCrashPoint, RerunEndsAsTheNewestRelease) {
  const auto [apply_command, generation] = GetParam();
  const std::vector<Change> changes = Trace(apply_command, generation);
  ASSERT_FALSE(changes.empty()) << "the traced run changed nothing";
  std::vector<size_t> points;
  for (size_t i = 1; i <= changes.size(); ++i) points.push_back(i);
  TryPoints(apply_command, generation, changes, points);
}

INSTANTIATE_TEST_SUITE_P(
    ProgramAndGeneration, EveryCrashPoint,
    ::testing::Combine(::testing::Bool(), ::testing::Values(size_t{0}, size_t{1})),
    [](const ::testing::TestParamInfo<std::tuple<bool, size_t>>& info) {
      return std::string(std::get<0>(info.param) ? "Apply" : "PackageProgram") + "From" +
             (std::get<1>(info.param) == 0 ? "First" : "Second");
    });

#else

// True for a change to the temporary folder of an installation (see Install).
bool InTempFolder(const std::string& path) {
  const size_t last = path.rfind('\\');
  return last != std::string::npos && last >= 5 && path.compare(last - 5, 6, "\\temp\\") == 0;
}

// Under Wine: four points spread over the commit, from its start (the journal's first write,
// or the first rename where there is no journal) to its last change in the installed folders.
TEST_F(CrashPoints, TerminatedAtCommitPointsTheRerunRecovers) {
  const std::vector<Change> changes = Trace(false, 0);
  ASSERT_FALSE(changes.empty()) << "the traced run changed nothing";
  size_t start = changes.size();
  for (size_t i = 0; i < changes.size() && start == changes.size(); ++i) {
    if (changes[i].path.find("~genpatch.commit") != std::string::npos) start = i;
  }
  for (size_t i = 0; i < changes.size() && start == changes.size(); ++i) {
    if (changes[i].kind == "rename") start = i;
  }
  ASSERT_LT(start, changes.size()) << "no commit found in the trace";
  std::vector<size_t> commit;  // numbers of the commit's changes outside the temporary folder
  for (size_t i = start; i < changes.size(); ++i) {
    if (!InTempFolder(changes[i].path)) commit.push_back(i + 1);
  }
  std::vector<size_t> points;
  for (size_t k = 0; k < 4; ++k) {
    const size_t point = commit[(commit.size() - 1) * k / 3];
    if (points.empty() || points.back() != point) points.push_back(point);
  }
  TryPoints(false, 0, changes, points);
}

#endif

}  // namespace
}  // namespace gp
