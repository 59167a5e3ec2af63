#include <cstring>
#include <filesystem>
#include <map>
#include <optional>

#include "app/program.h"
#include "base/byte_reader.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/update_session.h"
#include "cli/verb_parser.h"
#include "codec/crc32.h"
#include "format/list_record.h"
#include "platform/platform.h"
#include "update/commit.h"
#include "update/detection.h"
#include "update/entry_path.h"
#include "update/run_context.h"
#include "update/update_run.h"

namespace gp::cli {

namespace fs = std::filesystem;

namespace {

constexpr char kCheckDescription[] =
    "Tells which generation of the package is installed, changing nothing, except that an\n"
    "update that was interrupted in its commit is finished (or undone) first.\n";

constexpr char kGroupRule[] =
    "A group folder that the package gives relative (no drive letter, not starting with a\n"
    "backslash, such as 'dict') is taken inside the destination folder; --group overrides it.\n";

constexpr char kCheckCodes[] =
    "With --verbose, each generation that does not match names its first file that does not\n"
    "(missing, or another checksum).\n"
    "\n"
    "Exit codes: 0 an older generation is installed (the package updates it); 1 not a package,\n"
    "or its payload is not valid; 2 wrong usage; 3 no generation matches; 4 the newest\n"
    "generation is installed.\n";

constexpr char kApplyDescription[] =
    "Runs the package's update unattended, as the package program would without its main\n"
    "dialog. Message boxes are printed to stderr as 'caption: text'; questions take the next\n"
    "item of the answers (once they are used up Retry/Cancel gets Cancel). The restart that a\n"
    "package may ask for is never carried out: exit code 5 reports it.\n";

constexpr char kApplyCodes[] =
    "With --dry-run, the installed generation and the plan are shown (which files would be\n"
    "written, replaced, removed or backed up, in which folders) and nothing on disk changes:\n"
    "no interrupted commit is finished, no log is written, no temporary folder of an earlier\n"
    "run is removed.\n"
    "\n"
    "Exit codes: 0 updated (--dry-run: an update is due); 1 failed (also: files in use kept\n"
    "their old version, or the package is not valid); 2 wrong usage; 3 no installed generation\n"
    "matches; 4 already up to date; 5 updated, and the package asks for a restart of Windows.\n";

constexpr int kExitNoMatch = kExitNoInstalled;

std::string Utf8(const char* cp932) { return platform::Cp932ToUtf8Lossy(cp932 ? cp932 : ""); }

std::string HostOf(const std::string& program) {
  std::string host;
  return platform::ProgramToHostPath(program.c_str(), &host) ? host : Utf8(program.c_str());
}

// One entry of a list with its disk paths resolved: old side for generation k-1, new side for
// generation k.
struct ResolvedEntry {
  uint32_t old_crc = 0;
  uint32_t new_crc = 0;
  std::string old_path;  // program paths; empty when the side has no file or does not resolve
  std::string new_path;
};

// The entries of list k. Throws CliError when the list is missing or damaged.
std::vector<ResolvedEntry> ReadResolvedList(RunContext& context, int k) {
  std::vector<uint8_t> block;
  if (!ReadWholeList(context.work_docfile, k, &block)) {
    throw CliError("list " + std::to_string(k) + " of the package cannot be read");
  }
  ByteReader reader(block.data(), block.size());
  uint32_t count = 0;
  if (!format::ReadListCount(reader, &count)) throw CliError("list " + std::to_string(k) + " is cut short");
  std::vector<ResolvedEntry> entries;
  auto resolve = [&](int generation, std::string_view data_path, std::string_view name) {
    char buffer[kEntryPathBufferSize] = {};
    std::string n(name);
    if (data_path.size() >= sizeof buffer) return std::string();
    std::memcpy(buffer, data_path.data(), data_path.size());
    return ResolveEntryPath(context.package, generation, buffer, n.c_str()) ? std::string(buffer)
                                                                           : std::string();
  };
  for (uint32_t i = 0; i < count; ++i) {
    format::ListRecord r;
    if (!format::ReadListRecord(reader, &r)) throw CliError("list " + std::to_string(k) + " is cut short");
    ResolvedEntry e;
    e.old_crc = r.old_crc;
    e.new_crc = r.new_crc;
    if (r.old_crc != 0) e.old_path = resolve(k - 1, r.old_data_path, r.old_name);
    if (r.new_crc != 0) e.new_path = resolve(k, r.new_data_path, r.new_name);
    entries.push_back(std::move(e));
  }
  return entries;
}

// Why a file does not match its checksum: empty when it matches.
std::string Mismatch(const std::string& path, uint32_t crc) {
  if (path.empty()) return "its path cannot be resolved";
  if (platform::ReadAttributes(path.c_str()) == platform::kInvalidAttributes) return "missing";
  return FileMatchesCrc(path.c_str(), crc) ? std::string() : "another checksum";
}

// The first file that keeps generation g (0 .. G-1) from matching, as detection checks it, or
// nothing when it matches.
std::optional<std::string> FirstMismatch(RunContext& context, int g) {
  const int last = context.package.generation_count - 1;
  const bool newest = g == last;
  for (const ResolvedEntry& e : ReadResolvedList(context, newest ? last : g + 1)) {
    const uint32_t crc = newest ? e.new_crc : e.old_crc;
    if (crc == 0) continue;
    if (!newest && e.new_crc == 0 && !context.package.FileRemoval()) continue;
    const std::string& path = newest ? e.new_path : e.old_path;
    const std::string why = Mismatch(path, crc);
    if (!why.empty()) return HostOf(path) + ": " + why;
  }
  return std::nullopt;
}

}  // namespace

int CheckCommand(const Args& args) {
  VerbParser parser("check", kCheckDescription, std::string(kGroupRule) + "\n" + kCheckCodes);
  SessionOptions options;
  DeclareSessionOptions(parser.app(), options, false);
  if (!parser.Parse(args)) return kExitOk;
  const bool quiet = parser.verbosity().quiet;
  auto say = [quiet](const std::string& text) {
    if (!quiet) platform::WriteStdout(text);
  };
  UpdateSession session;
  session.Open(options);
  RunContext& context = session.context();
  const PackageTables& p = context.package;
  if (p.generation_count < 2) throw CliError("the package has no file list");
  if (RecoverInterruptedCommit(context) == RecoveryOutcome::kFailed) {
    throw CliError("an interrupted update could be neither finished nor undone");
  }
  const int last = p.generation_count - 1;
  if (parser.verbosity().verbose) {
    for (int g = 0; g <= last; ++g) {
      const std::optional<std::string> why = FirstMismatch(context, g);
      say("  " + Utf8(p.generations[g].name) + ": " + (why ? "does not match: " + *why : "matches") + "\n");
    }
  }
  if (IsLatestInstalled(context)) {
    say("installed: " + Utf8(p.generations[last].name) + " (the newest generation)\n");
    return kExitUpToDate;
  }
  const int k = FindInstalledGeneration(context);
  if (k == 0) {
    say("installed: none of the package's generations\n");
    return kExitNoMatch;
  }
  say("installed: " + Utf8(p.generations[k - 1].name) + " (the update starts at list " + std::to_string(k) + ")\n");
  return kExitOk;
}

namespace {

// What apply --dry-run shows: detection, then every file the update would write, replace,
// remove or back up, by folder. Reads only.
int ShowPlan(RunContext& context, bool quiet) {
  PackageTables& p = context.package;
  std::string out;
  if (p.generation_count < 2) throw CliError("the package has no file list");
  const int last = p.generation_count - 1;
  std::string destination = p.destination_folder.get();
  std::string journal = destination;
  if (!journal.empty() && journal.back() != '\\') journal += '\\';
  journal += kCommitJournalName;
  if (platform::ReadAttributes(journal.c_str()) != platform::kInvalidAttributes) {
    out += "an interrupted update would be finished (or undone) first; what follows is the disk as it is now\n";
  }
  out += "destination: " + HostOf(destination) + "\n";
  for (int k = 0; k < p.generations[last].entry_count; ++k) {
    const GroupCell* cell = p.Cell(last, k);
    if (cell && cell->name) out += "group " + Utf8(cell->name) + ": " + HostOf(cell->folder ? cell->folder : "") + "\n";
  }
  auto finish = [&](int code) {
    if (!quiet) platform::WriteStdout(out);
    return code;
  };
  if (p.VersionCheck() && IsLatestInstalled(context)) {
    out += "installed: " + Utf8(p.generations[last].name) + " (the newest generation): nothing to do\n";
    return finish(kExitUpToDate);
  }
  const int s = p.VersionCheck() ? FindInstalledGeneration(context) : 1;
  if (s == 0) {
    out += "installed: none of the package's generations: nothing would change\n";
    return finish(kExitNoMatch);
  }
  out += (p.VersionCheck() ? "installed: " + Utf8(p.generations[s - 1].name)
                           : std::string("the package does not check the installed version")) +
         "; lists " + std::to_string(s) + " to " + std::to_string(last) + " would make " +
         Utf8(p.generations[last].name) + "\n";
  // The last list names every file that the update leaves written; removals may come from any
  // list on the way.
  std::map<std::string, std::string> plan;  // host path -> what happens
  for (int k = s; k <= last; ++k) {
    for (const ResolvedEntry& e : ReadResolvedList(context, k)) {
      if (e.new_crc == 0 && !e.old_path.empty() && p.FileRemoval() &&
          platform::ReadAttributes(e.old_path.c_str()) != platform::kInvalidAttributes) {
        plan[HostOf(e.old_path)] = p.Backup() ? "remove (kept as .old)" : "remove";
      }
      if (k == last && e.new_crc != 0 && !e.new_path.empty()) {
        const bool exists = platform::ReadAttributes(e.new_path.c_str()) != platform::kInvalidAttributes;
        if (!exists) {
          plan[HostOf(e.new_path)] = "write";
        } else if (FileMatchesCrc(e.new_path.c_str(), e.new_crc)) {
          plan[HostOf(e.new_path)] = "replace (same content)";
        } else {
          plan[HostOf(e.new_path)] = p.Backup() ? "replace (old kept as .old)" : "replace";
        }
      }
    }
  }
  for (const auto& [path, what] : plan) out += "  " + what + std::string(what.size() < 8 ? 8 - what.size() : 1, ' ') + path + "\n";
  if (p.Restart()) out += "the package then asks for a restart of Windows\n";
  out += "nothing was changed (--dry-run)\n";
  return finish(kExitOk);
}

}  // namespace

int ApplyCommand(const Args& args) {
  VerbParser parser("apply", kApplyDescription, std::string(kGroupRule) + "\n" + kApplyCodes);
  SessionOptions options;
  bool dry_run = false;
  DeclareSessionOptions(parser.app(), options, true);
  parser.app().add_flag("-n,--dry-run", dry_run, "show what the update would do; change nothing");
  if (!parser.Parse(args)) return kExitOk;
  if (dry_run && options.log) throw CliError("--dry-run writes no log (--log)", kExitUsage);
  UpdateSession session(!dry_run);
  session.Open(options);
  RunContext& context = session.context();
  if (dry_run) return ShowPlan(context, parser.verbosity().quiet);
  RunUpdate(context, nullptr);
  const int code = ExitCodeOf(context.run.outcome, context.package.Restart());
  if (code == kExitRestartRequested) {
    platform::WriteStderr("genpatch apply: the package asks for a restart of Windows\n");
  }
  context.log.Line("outcome: %s", OutcomeName(context.run.outcome));
  return LogExitCode(context, code);
}

}  // namespace gp::cli
