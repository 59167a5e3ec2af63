#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "base/texts.h"
#include "builder/build_error.h"
#include "builder/generator.h"
#include "builder/package_writer.h"
#include "builder/project_file.h"
#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/package_file.h"
#include "cli/safe_output.h"
#include "cli/verb_parser.h"
#include "format/trailer.h"
#include "platform/command.h"
#include "platform/platform.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kBuildDescription[] =
    "Makes an update package from the folders of successive releases, oldest first. Each step\n"
    "between two releases becomes a file list: added files as whole files, changed files as\n"
    "diffs, removed files as removal entries. With release folders alone, the generations are\n"
    "named after the folders and the package gets the default texts, the version check, the\n"
    "folder choice (no default folder) and the removal of removed files; a project file (TOML)\n"
    "names the texts, flags, generations and additional groups instead (every key is described\n"
    "in doc/project-file.md, installed in share/doc/genpatch/).\n"
    "\n"
    "  genpatch build -o OUT [options] RELEASE_DIR...\n"
    "  genpatch build --project FILE [-o OUT] [options]\n";

constexpr char kBuildFooter[] =
    "Every input is checked before any work: the release folders (a symbolic link or any entry\n"
    "that is not a plain file or folder is an error, and so are the same folder twice and two\n"
    "generations of one name), the project file and the program image. An existing OUT is kept\n"
    "unless --force is given; the package is written beside OUT under a temporary name and\n"
    "renamed when complete, and removed when the build fails or is interrupted.\n"
    "\n"
    "A progress bar is shown when standard error is a terminal; a summary of the steps and\n"
    "sizes is printed at the end (not with --quiet). Limits of the format (999 lists, 32,767\n"
    "files per list, 255-byte names and data paths, disk paths below 256 bytes, storage names\n"
    "of 31 characters, files whose checksum would be 0) stop the build with an error naming the\n"
    "file.\n"
    "\n"
    "Exit codes: 0 written; 1 the releases or the project cannot be made into a package (nothing\n"
    "is written); 2 wrong usage.\n";

struct Options {
  std::string out;
  std::string project;
  std::string stub;
  std::string target;
  bool data_file = false;
  bool uncompressed = false;
  bool force = false;
  std::string format;  // classic or compact; empty: compact for an executable, else classic
  bool smallest = false;
  std::vector<std::string> releases;
};

// The options of build, one line each.
void DeclareOptions(CLI::App& app, Options& o) {
  app.add_option("-o,--output", o.out,
                 "the package to write (--project: default PROJECT.exe or .dat)")->type_name("OUT");
  app.add_option("--project", o.project, "read the releases, texts and flags from a project file")
      ->type_name("FILE");
  app.add_flag("--data-file", o.data_file, "write a package data file (no program image)");
  app.add_option("--stub", o.stub,
                 "the program image to append the package to (default: genpatch-stub[.exe] beside "
                 "genpatch, or in ../share/genpatch/)")->type_name("PATH");
  app.add_option("--target", o.target,
                 "use the package program for that system (default: this one)")
      ->type_name("windows|linux")->check(CLI::IsMember({"windows", "linux"}).description(""));
  app.add_option("--format", o.format,
                 "classic or compact (compact: smaller, read by genpatch's programs only; "
                 "default: compact for a package executable, classic with --data-file)")
      ->type_name("classic|compact")->check(CLI::IsMember({"classic", "compact"}).description(""));
  app.add_flag("--smallest", o.smallest,
               "compact only: code the diffs with context models, 15 to 30 % smaller but "
               "several times slower to apply");
  app.add_flag("--uncompressed", o.uncompressed, "carry the work docfile without compression (classic)");
  app.add_flag("-f,--force", o.force, "replace OUT when it exists");
  app.add_option("RELEASE_DIR", o.releases, "the release folders, oldest first")->type_name("");
}

void CheckUsage(Options& o) {
  if (!o.project.empty() && !o.releases.empty()) {
    throw CliError("name release folders or a project file, not both", kExitUsage);
  }
  if (o.project.empty() && o.releases.empty()) throw CliError("no release folders named", kExitUsage);
  if (o.out.empty()) {
    if (o.project.empty()) throw CliError("name the package to write with -o", kExitUsage);
    o.out = builder::Utf8Of(builder::PathFromUtf8(o.project).replace_extension(o.data_file ? ".dat" : ".exe"));
  }
  if (o.data_file && (!o.stub.empty() || !o.target.empty())) {
    throw CliError("a package data file has no program image (--stub, --target)", kExitUsage);
  }
  if (!o.stub.empty() && !o.target.empty()) {
    throw CliError("--stub and --target exclude each other", kExitUsage);
  }
  if (o.smallest && (o.format == "classic" || (o.format.empty() && (o.data_file || o.uncompressed)))) {
    throw CliError("--smallest is a compact package; give --format compact", kExitUsage);
  }
  if (o.uncompressed && o.format == "compact") {
    throw CliError("--uncompressed is a classic payload; it cannot be --format compact", kExitUsage);
  }
}

// The package program for target: genpatch-stub.exe for Windows packages, genpatch-stub for
// Linux ones, beside the running genpatch (a build tree) or in ../share/genpatch/ from it (an
// installation).
fs::path DefaultStub(const std::string& target) {
  const std::string host = platform::OwnFileHostPath();
  if (host.empty()) {
    throw CliError("cannot find the genpatch program's folder; name the program image "
                   "with --stub");
  }
  const fs::path self = builder::PathFromUtf8(host);
  std::string ext = self.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  const bool windows = target.empty() ? ext == ".exe" : target == "windows";
  const char* name = windows ? "genpatch-stub.exe" : "genpatch-stub";
  const fs::path beside = self.parent_path() / name;
  const fs::path installed = self.parent_path().parent_path() / "share" / "genpatch" / name;
  std::error_code ec;
  if (!fs::exists(beside, ec) && fs::exists(installed, ec)) return installed;
  return beside;
}

// Refuses a program image that is missing, not a program (Windows or ELF) or not our package
// program (it carries the program's texts), and one that already carries a package.
void CheckProgramImage(const fs::path& stub) {
  const std::string shown = builder::DisplayPath(stub);
  std::error_code ec;
  if (!fs::is_regular_file(stub, ec)) {
    throw CliError("the program image " + shown + " does not exist; name it with --stub or write "
                   "a package data file with --data-file");
  }
  const std::vector<uint8_t> bytes = builder::ReadWholeFile(stub);
  const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
  const bool program = text.starts_with("MZ") || text.starts_with("\x7f" "ELF");
  if (!program || text.find(std::string_view(texts::kTextCheckingVersion)) == std::string_view::npos) {
    throw CliError("the program image " + shown + " is not a genpatch package program");
  }
  if (text.ends_with(format::kTrailerMagic)) {
    throw CliError("the program image " + shown + " already carries a package");
  }
}

std::string Grouped(uint64_t value) {
  std::string digits = std::to_string(value);
  for (int i = static_cast<int>(digits.size()) - 3; i > 0; i -= 3) digits.insert(static_cast<size_t>(i), ",");
  return digits;
}

// The progress line on a terminal: redrawn at most ten times a second.
class ProgressLine {
 public:
  explicit ProgressLine(bool on) : on_(on) {}
  ~ProgressLine() { Clear(); }

  void Update(const builder::GeneratorProgress& p) {
    if (!on_) return;
    const auto now = std::chrono::steady_clock::now();
    if (p.phase == phase_ && shown_ && now - last_ < std::chrono::milliseconds(100) && p.done != p.total) {
      return;
    }
    phase_ = p.phase;
    last_ = now;
    shown_ = true;
    static const char* const kPhase[] = {"reading  ", "comparing", "writing  ",
                                         "encoding "};
    const int percent = p.total ? static_cast<int>(std::min<uint64_t>(100, p.done * 100 / p.total)) : 0;
    constexpr int kWidth = 30;
    const int filled = percent * kWidth / 100;
    std::string item = p.item;
    const size_t slash = item.find_last_of("/\\");
    if (slash != std::string::npos) item = item.substr(slash + 1);
    if (item.size() > 30) item = item.substr(0, 27) + "...";
    std::string line = "\r" + std::string(kPhase[static_cast<int>(p.phase)]) + " [" +
                       std::string(static_cast<size_t>(filled), '#') +
                       std::string(static_cast<size_t>(kWidth - filled), '-') + "] " +
                       (percent < 10 ? "  " : percent < 100 ? " " : "") + std::to_string(percent) +
                       "% " + item;
    std::string padded = line;
    if (padded.size() < width_) padded += std::string(width_ - padded.size(), ' ');
    width_ = line.size();
    platform::WriteStderr(padded);
  }

  void Clear() {
    if (!on_ || !shown_) return;
    platform::WriteStderr("\r" + std::string(width_, ' ') + "\r");
    shown_ = false;
    width_ = 0;
  }

 private:
  bool on_;
  bool shown_ = false;
  builder::GeneratorProgress::Phase phase_ = builder::GeneratorProgress::Phase::kReading;
  std::chrono::steady_clock::time_point last_;
  size_t width_ = 0;
};

}  // namespace

int BuildCommand(const Args& args) {
  VerbParser parser("build", kBuildDescription, kBuildFooter);
  Options o;
  DeclareOptions(parser.app(), o);
  if (!parser.Parse(args)) return kExitOk;
  CheckUsage(o);

  // Every input is checked before the releases are read.
  std::error_code ec;
  if (!o.project.empty() && !fs::is_regular_file(builder::PathFromUtf8(o.project), ec)) {
    throw CliError("the project file " + builder::DisplayPath(builder::PathFromUtf8(o.project)) + " does not exist");
  }
  for (const std::string& release : o.releases) {
    if (!fs::is_directory(builder::PathFromUtf8(release), ec)) {
      throw CliError("the release folder " + builder::DisplayPath(builder::PathFromUtf8(release)) + " does not exist");
    }
  }
  fs::path stub;
  if (!o.data_file) {
    stub = o.stub.empty() ? DefaultStub(o.target) : builder::PathFromUtf8(o.stub);
    CheckProgramImage(stub);
  }
  OutputFile output(builder::PathFromUtf8(o.out), o.force);
  const fs::path scratch = output.Scratch(".diffs.tmp");
  // The package writer's own scratch files beside its output.
  const RemovedOnInterrupt scratch_cleanup(scratch);
  const RemovedOnInterrupt docfile_cleanup(fs::path(output.temp()).concat(".docfile.tmp"));
  const RemovedOnInterrupt payload_cleanup(fs::path(output.temp()).concat(".payload.tmp"));

  builder::PackageSizes sizes;
  std::vector<builder::StepSummary> steps;
  size_t release_count = 0;
  try {
    std::vector<fs::path> release_paths;
    for (const std::string& release : o.releases) release_paths.push_back(builder::PathFromUtf8(release));
    builder::GeneratorInput input = o.project.empty()
                                        ? builder::InputFromFolders(release_paths)
                                        : builder::ReadProjectFile(builder::PathFromUtf8(o.project));
    release_count = input.releases.size();
    builder::CheckReleases(input);
    const bool compact = o.format.empty() ? !o.data_file && !o.uncompressed : o.format == "compact";
    input.format = compact ? builder::PackageFormat::kCompact : builder::PackageFormat::kClassic;
    input.smallest = o.smallest;
    ProgressLine line(!parser.verbosity().quiet && platform::StderrIsTerminal());
    const builder::ProgressCallback progress = [&line](const builder::GeneratorProgress& p) {
      line.Update(p);
    };
    builder::GeneratedPackage package = builder::GeneratePackage(input, scratch, progress);
    builder::PackageDescription& desc = package.desc;
    desc.layout = o.data_file ? builder::PackageLayout::kDataFile : builder::PackageLayout::kExecutable;
    desc.payload = o.uncompressed ? builder::PayloadForm::kUncompressed : builder::PayloadForm::kCompressed;
    desc.stub = stub;
    const std::string error = builder::WritePackage(desc, output.temp(), &sizes);
    line.Clear();
    if (!error.empty()) {
      const std::string& failure = *package.source_failure;
      throw CliError(failure.empty() ? error : failure);
    }
    if (!parser.verbosity().quiet) {
      for (const std::string& warning : package.warnings) {
        platform::WriteStderr("genpatch build: warning: " + warning + "\n");
      }
    }
    steps = package.steps;
  } catch (const builder::BuildError& e) {
    throw CliError(e.what());
  }
  output.Commit();
  if (parser.verbosity().quiet) return kExitOk;

  std::string summary = "genpatch build: " + std::to_string(release_count) + " releases, " +
                        std::to_string(steps.size()) + (steps.size() == 1 ? " list\n" : " lists\n");
  for (size_t k = 0; k < steps.size(); ++k) {
    const builder::StepSummary& s = steps[k];
    summary += "  list " + std::to_string(k + 1) + "  " + Utf8(s.from) + " -> " + Utf8(s.to) + ": " +
               std::to_string(s.added) + " added, " + std::to_string(s.changed) + " changed, " +
               std::to_string(s.removed) + " removed, " + std::to_string(s.carried) +
               " carried unchanged; " + Grouped(s.stream_bytes) + " bytes of file data\n";
  }
  summary += "  work docfile  " + Grouped(sizes.docfile) + " bytes\n";
  summary += "  payload       " + Grouped(sizes.payload) + " bytes" +
             (o.uncompressed ? " (uncompressed)\n" : " (compressed)\n");
  if (!o.data_file) summary += "  program image " + Grouped(sizes.program) + " bytes\n";
  summary += "  package       " + Grouped(sizes.total) + " bytes: " + builder::Utf8Of(o.out) + "\n";
  platform::WriteStdout(summary);
  return kExitOk;
}

}  // namespace gp::cli
