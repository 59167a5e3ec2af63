#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>

#include "builder/build_error.h"
#include "builder/generator.h"
#include "builder/package_writer.h"
#include "builder/project_file.h"
#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/package_file.h"
#include "platform/platform.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kBuildHelp[] =
    "usage: genpatch build -o OUT [options] RELEASE_DIR...\n"
    "       genpatch build --project FILE [-o OUT] [options]\n"
    "\n"
    "Makes an update package from the folders of successive releases, oldest first. Each step\n"
    "between two releases becomes a file list: added files as whole files, changed files as\n"
    "diffs, removed files as removal entries. With release folders alone, the generations are\n"
    "named after the folders and the package gets the default texts, the version check, the\n"
    "folder choice (no default folder) and the removal of removed files; a project file (TOML)\n"
    "names the texts, flags, generations and additional groups instead.\n"
    "\n"
    "  -o, --output OUT      the package to write (with --project: default PROJECT.exe, or\n"
    "                        PROJECT.dat with --data-file, beside the project file)\n"
    "  --project FILE        read the releases, texts and flags from a project file\n"
    "  --data-file           write a package data file (no program image)\n"
    "  --format FORMAT       classic or compact (smaller; read by genpatch's programs only);\n"
    "                        default: compact for a package executable, classic with --data-file\n"
    "  --stub PATH           the program image to append the package to\n"
    "  --target windows|linux  use the genpatch-stub.exe or genpatch-stub next to genpatch\n"
    "                        (default: the one for the system genpatch runs on)\n"
    "  --uncompressed        carry the work docfile without compression\n"
    "\n"
    "A progress bar is shown when standard error is a terminal; a summary of the steps and\n"
    "sizes is printed at the end. Limits of the format (999 lists, 32,767 files per list,\n"
    "255-byte names and data paths, disk paths below 256 bytes, storage names of 31\n"
    "characters, files whose checksum would be 0) stop the build with an error naming the file.\n"
    "\n"
    "Exit codes: 0 written; 1 the releases or the project cannot be made into a package (nothing\n"
    "is written); 2 wrong usage.\n";

struct Options {
  fs::path out;
  fs::path project;
  fs::path stub;
  std::string target;
  bool data_file = false;
  bool uncompressed = false;
  std::string format;  // classic or compact; empty: compact for an executable, else classic
  std::vector<fs::path> releases;
};

Options ParseOptions(const Args& args, bool* help) {
  Options o;
  auto value = [&](size_t* i) -> std::string {
    if (*i + 1 >= args.size()) {
      throw CliError("build: " + args[*i] + " needs a value\n\n" + kBuildHelp, kExitUsage);
    }
    return args[++*i];
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (a == "--help" || a == "-h") {
      *help = true;
      return o;
    }
    if (a == "-o" || a == "--output") {
      o.out = value(&i);
    } else if (a == "--project") {
      o.project = value(&i);
    } else if (a == "--stub") {
      o.stub = value(&i);
    } else if (a == "--target") {
      o.target = value(&i);
      if (o.target != "windows" && o.target != "linux") {
        throw CliError("build: --target is windows or linux\n\n" + std::string(kBuildHelp), kExitUsage);
      }
    } else if (a == "--data-file") {
      o.data_file = true;
    } else if (a == "--format") {
      o.format = value(&i);
      if (o.format != "classic" && o.format != "compact") {
        throw CliError("build: --format is classic or compact\n\n" + std::string(kBuildHelp), kExitUsage);
      }
    } else if (a == "--uncompressed") {
      o.uncompressed = true;
    } else if (a.size() > 1 && a[0] == '-') {
      throw CliError("build: unknown option " + a + "\n\n" + kBuildHelp, kExitUsage);
    } else {
      o.releases.push_back(a);
    }
  }
  if (!o.project.empty() && !o.releases.empty()) {
    throw CliError(std::string("build: name release folders or a project file, not both\n\n") +
                       kBuildHelp, kExitUsage);
  }
  if (o.project.empty() && o.releases.empty()) {
    throw CliError(std::string("build: no release folders named\n\n") + kBuildHelp, kExitUsage);
  }
  if (o.out.empty()) {
    if (o.project.empty()) {
      throw CliError(std::string("build: name the package to write with -o\n\n") + kBuildHelp,
                     kExitUsage);
    }
    o.out = fs::path(o.project).replace_extension(o.data_file ? ".dat" : ".exe");
  }
  if (o.data_file && (!o.stub.empty() || !o.target.empty())) {
    throw CliError(std::string("build: a package data file has no program image (--stub, "
                               "--target)\n\n") + kBuildHelp, kExitUsage);
  }
  if (o.uncompressed && o.format == "compact") {
    throw CliError(std::string("build: --uncompressed is a classic payload\n\n") + kBuildHelp,
                   kExitUsage);
  }
  if (!o.stub.empty() && !o.target.empty()) {
    throw CliError(std::string("build: --stub and --target exclude each other\n\n") + kBuildHelp,
                   kExitUsage);
  }
  return o;
}

// The program image next to the running genpatch: genpatch-stub.exe for Windows packages,
// genpatch-stub for Linux ones.
fs::path DefaultStub(const std::string& target) {
  char module[1024] = {};
  const uint32_t n = platform::ModuleFilePath(module, sizeof module);
  std::string host;
  if (n == 0 || n >= sizeof module || !platform::ProgramToHostPath(module, &host)) {
    throw CliError("build: cannot find the genpatch program's folder; name the program image "
                   "with --stub");
  }
  const fs::path self(std::u8string(host.begin(), host.end()));
  std::string ext = self.extension().string();
  std::transform(ext.begin(), ext.end(), ext.begin(), [](char c) { return static_cast<char>(std::tolower(c)); });
  const bool windows = target.empty() ? ext == ".exe" : target == "windows";
  return self.parent_path() / (windows ? "genpatch-stub.exe" : "genpatch-stub");
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

// Removes a file when the object goes away, unless kept.
struct Cleanup {
  fs::path path;
  bool keep = false;
  ~Cleanup() {
    std::error_code ec;
    if (!keep && !path.empty()) fs::remove(path, ec);
  }
};

}  // namespace

int BuildCommand(const Args& args) {
  bool help = false;
  const Options o = ParseOptions(args, &help);
  if (help) {
    platform::WriteStdout(kBuildHelp);
    return kExitOk;
  }

  builder::PackageSizes sizes;
  std::vector<builder::StepSummary> steps;
  size_t release_count = 0;
  const fs::path partial = fs::path(o.out).concat(".partial");
  Cleanup partial_cleanup{partial};
  try {
    builder::GeneratorInput input =
        o.project.empty() ? builder::InputFromFolders(o.releases) : builder::ReadProjectFile(o.project);
    release_count = input.releases.size();
    const bool compact = o.format.empty() ? !o.data_file && !o.uncompressed : o.format == "compact";
    input.format = compact ? builder::PackageFormat::kCompact : builder::PackageFormat::kClassic;
    ProgressLine line(platform::StderrIsTerminal());
    const builder::ProgressCallback progress = [&line](const builder::GeneratorProgress& p) {
      line.Update(p);
    };
    builder::GeneratedPackage package =
        builder::GeneratePackage(input, fs::path(o.out).concat(".diffs.tmp"), progress);
    builder::PackageDescription& desc = package.desc;
    desc.layout = o.data_file ? builder::PackageLayout::kDataFile : builder::PackageLayout::kExecutable;
    desc.payload = o.uncompressed ? builder::PayloadForm::kUncompressed : builder::PayloadForm::kCompressed;
    if (!o.data_file) {
      desc.stub = o.stub.empty() ? DefaultStub(o.target) : o.stub;
      std::error_code ec;
      if (!fs::is_regular_file(desc.stub, ec)) {
        throw CliError("the program image '" + builder::Utf8Of(desc.stub) + "' does not exist; name it with --stub "
                       "or write a package data file with --data-file");
      }
    }
    const std::string error = builder::WritePackage(desc, partial, &sizes);
    line.Clear();
    if (!error.empty()) {
      const std::string& failure = *package.source_failure;
      throw CliError(failure.empty() ? error : failure);
    }
    steps = package.steps;
  } catch (const builder::BuildError& e) {
    throw CliError(e.what());
  }
  std::error_code ec;
  fs::rename(partial, o.out, ec);
  if (ec) throw CliError("cannot write '" + builder::Utf8Of(o.out) + "': " + ec.message());
  partial_cleanup.keep = true;

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
