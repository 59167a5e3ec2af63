#include "app/program.h"

#include <string>

#include "app/extraction.h"
#include "app/package_loader.h"
#include "base/texts.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/run_temp_folder.h"
#include "update/update_run.h"

namespace gp {

void ReleasePackageTables(RunContext& context) {
  context.work_docfile.DestroyAccess();
  ReleaseGenerationTables(context.package);
}

void RemoveWorkDocfile(const WorkDocfileState& work_docfile) {
  ForceDeleteFile(work_docfile.path.c_str());
}

void OpenLogFromEnvironment(RunContext& context) {
  const std::string host_path = platform::GetEnvironment("GENPATCH_LOG");
  if (host_path.empty()) return;
  std::string program_path;
  if (platform::HostToProgramPath(host_path, &program_path)) {
    context.log.Open(program_path.c_str());
  }
}

void LogRunStart(RunContext& context, const char* package_path, bool named) {
  context.log.Line("start: package %s (%s)", package_path,
                   named ? "data file" : "program with its payload");
}

int LogExitCode(RunContext& context, int exit_code) {
  context.log.Line("exit code %d", exit_code);
  return exit_code;
}

int ProgramEntry(ui::Host& host, void* instance, const char* argument) {
  RunContext context(host);
  void* previous_cursor = host.SetWaitCursor();
  ui::Window status = host.CreateModeless(ui::kDialogStatus, nullptr);
  host.CenterOnScreen(status);
  host.Show(status);
  host.SetItemText(status, ui::kStatusText, texts::kTextPreparing);
  host.Paint(status);

  if (argument != nullptr) context.argument_path.Assign(argument);
  context.instance = instance;
  OpenLogFromEnvironment(context);
  const RunTempFolder temp_folder;  // this run's own temporary folder, removed at exit
  {
    const bool named = argument != nullptr && argument[0] != '\0';
    char own[260] = {};
    if (!named) {
      const uint32_t n = platform::ModuleFilePath(own, sizeof(own));
      if (n == 0 || n >= sizeof(own)) own[0] = '\0';
    }
    LogRunStart(context, named ? argument : own, named);
  }

  if (!LoadPackageHeader(context, argument)) {
    host.Destroy(status);
    host.RestoreCursor(previous_cursor);
    ReplayFolderJournal(context.journal);
    ReleaseTextBuffers(context.package);
    context.log.Line("the package cannot be loaded");
    return LogExitCode(context, kExitFailed);
  }
  host.Destroy(status);
  host.RestoreCursor(previous_cursor);

  PackageTables& package = context.package;
  if (package.FolderChoice() || package.group_count != 0) {
    RunMainDialog(context);
  } else {
    if (!ExtractPayload(context, argument)) {
      host.RestoreCursor(previous_cursor);
      if (!context.work_docfile.path.empty()) RemoveWorkDocfile(context.work_docfile);
      // The access object, if one was made, must not outlive the run (it holds the docfile).
      ReleasePackageTables(context);
      ReplayFolderJournal(context.journal);
      ReleaseTextBuffers(package);
      context.log.Line("the payload cannot be extracted");
      return LogExitCode(context, kExitFailed);
    }
    RunUpdate(context, nullptr);
    ReleasePackageTables(context);
  }

  platform::PostQuitAndRunMessageLoop(0);
  if (!context.work_docfile.path.empty()) RemoveWorkDocfile(context.work_docfile);
  ReplayFolderJournal(context.journal);
  const int exit_code = ExitCodeOf(context.run.outcome, package.Restart());
  context.log.Line("outcome: %s", OutcomeName(context.run.outcome));

  if (context.run.run_completed != 0 && package.Restart()) {
    const int answer = host.MessageBox(nullptr, texts::kTextRestartPrompt,
                                       package.Text(kSlotMessageCaption),
                                       ui::kMbYesNo | ui::kMbIconInformation);
    if (answer == ui::kIdYes) platform::RestartWindows();
  }
  ReleaseTextBuffers(package);
  return LogExitCode(context, exit_code);
}

}  // namespace gp
