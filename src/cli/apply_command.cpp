#include "app/program.h"
#include "builder/release_tree.h"
#include "cli/cli_error.h"
#include "cli/commands.h"
#include "cli/update_session.h"
#include "platform/platform.h"
#include "update/commit.h"
#include "update/detection.h"
#include "update/run_context.h"
#include "update/update_run.h"

namespace gp::cli {

namespace {

constexpr char kSessionOptions[] =
    "  --dest DIR           the destination folder (default: the current directory)\n"
    "  --group NAME=DIR     the folder of an additional group, in every generation\n"
    "  --group GEN/NAME=DIR the folder of an additional group of one generation\n"
    "  --windows-dir DIR    the Windows folder ('+' paths); default GENPATCH_WINDOWS_DIR\n"
    "  --system-dir DIR     the system folder ('-' paths); default GENPATCH_SYSTEM_DIR\n"
    "  --log FILE           appends one UTF-8 line per step of the run to FILE\n";

constexpr char kCheckHelp[] =
    "usage: genpatch check PACKAGE [options]\n"
    "\n"
    "Tells which generation of the package is installed, changing nothing, except that an\n"
    "update that was interrupted in its commit is finished (or undone) first.\n"
    "\n";

constexpr char kCheckCodes[] =
    "\n"
    "Exit codes: 0 a generation matches (the newest, or one the package updates);\n"
    "1 not a package, or its payload is not valid; 2 wrong usage; 3 no generation matches.\n";

constexpr char kApplyHelp[] =
    "usage: genpatch apply PACKAGE [options] [--answers LIST]\n"
    "\n"
    "Runs the package's update unattended, as the package program would without its main\n"
    "dialog. Message boxes are printed to stderr as 'caption: text'; questions take the next\n"
    "item of LIST (comma-separated: ok, retry, cancel, yes, no; default GENPATCH_ANSWERS);\n"
    "once the list is empty Retry/Cancel gets Cancel. The restart that a package may ask for is\n"
    "never carried out: exit code 5 reports it.\n"
    "\n";

constexpr char kApplyCodes[] =
    "  --answers LIST       answers to the update's questions\n"
    "\n"
    "Exit codes: 0 updated; 1 failed (also: files in use kept their old version, or the\n"
    "package is not valid); 2 wrong usage; 3 no installed generation matches; 4 already up to\n"
    "date; 5 updated, and the package asks for a restart of Windows.\n";

constexpr int kExitNoMatch = kExitNoInstalled;

SessionOptions ParseArgs(const Args& args, const std::string& help, bool* show_help) {
  SessionOptions options;
  *show_help = false;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      *show_help = true;
      return options;
    }
    if (ParseSessionOption(args, &i, &options)) continue;
    if (!args[i].empty() && args[i][0] == '-') {
      throw CliError("unknown option " + args[i] + "\n\n" + help, kExitUsage);
    }
    if (!options.package.empty()) throw CliError("one package at a time\n\n" + help, kExitUsage);
    options.package = builder::PathFromUtf8(args[i]);
  }
  if (options.package.empty()) throw CliError("no package named\n\n" + help, kExitUsage);
  return options;
}

std::string Utf8(const char* cp932) { return platform::Cp932ToUtf8Lossy(cp932 ? cp932 : ""); }

}  // namespace

int CheckCommand(const Args& args) {
  const std::string help = std::string(kCheckHelp) + kSessionOptions + kCheckCodes;
  bool show_help = false;
  const SessionOptions options = ParseArgs(args, help, &show_help);
  if (show_help) {
    platform::WriteStdout(help);
    return kExitOk;
  }
  UpdateSession session;
  session.Open(options);
  RunContext& context = session.context();
  const PackageTables& p = context.package;
  if (p.generation_count < 2) throw CliError("the package has no file list");
  if (RecoverInterruptedCommit(context) == RecoveryOutcome::kFailed) {
    throw CliError("an interrupted update could be neither finished nor undone");
  }
  if (IsLatestInstalled(context)) {
    platform::WriteStdout("installed: " + Utf8(p.generations[p.generation_count - 1].name) +
                          " (the newest generation)\n");
    return kExitOk;
  }
  const int k = FindInstalledGeneration(context);
  if (k == 0) {
    platform::WriteStdout("installed: none of the package's generations\n");
    return kExitNoMatch;
  }
  platform::WriteStdout("installed: " + Utf8(p.generations[k - 1].name) + " (the update starts at list " +
                        std::to_string(k) + ")\n");
  return kExitOk;
}

int ApplyCommand(const Args& args) {
  const std::string help = std::string(kApplyHelp) + kSessionOptions + kApplyCodes;
  bool show_help = false;
  const SessionOptions options = ParseArgs(args, help, &show_help);
  if (show_help) {
    platform::WriteStdout(help);
    return kExitOk;
  }
  UpdateSession session;
  session.Open(options);
  RunContext& context = session.context();
  RunUpdate(context, nullptr);
  const int code = ExitCodeOf(context.run.outcome, context.package.Restart());
  if (code == kExitRestartRequested) {
    platform::WriteStderr("genpatch apply: the package asks for a restart of Windows\n");
  }
  context.log.Line("outcome: %s", OutcomeName(context.run.outcome));
  return LogExitCode(context, code);
}

}  // namespace gp::cli
