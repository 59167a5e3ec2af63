#include "app/program.h"

#include "app/extraction.h"
#include "app/package_loader.h"
#include "base/texts.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "update/update_run.h"

namespace gp {

void ReleasePackageTables(RunContext& context) {
  context.work_docfile.DestroyAccess();
  ReleaseGenerationTables(context.package);
}

void RemoveWorkDocfile(const WorkDocfileState& work_docfile) {
  ForceDeleteFile(work_docfile.path.c_str());
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

  if (!LoadPackageHeader(context, argument)) {
    host.Destroy(status);
    host.RestoreCursor(previous_cursor);
    ReplayFolderJournal(context.journal);
    ReleaseTextBuffers(context.package);
    return 1;
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
      return 1;
    }
    RunUpdate(context, nullptr);
    ReleasePackageTables(context);
  }

  const int exit_code = platform::PostQuitAndRunMessageLoop(0);
  if (!context.work_docfile.path.empty()) RemoveWorkDocfile(context.work_docfile);
  ReplayFolderJournal(context.journal);

  if (context.run.run_completed != 0 && package.Restart()) {
    const int answer = host.MessageBox(nullptr, texts::kTextRestartPrompt,
                                       package.Text(kSlotMessageCaption),
                                       ui::kMbYesNo | ui::kMbIconInformation);
    if (answer == ui::kIdYes) platform::RestartWindows();
  }
  ReleaseTextBuffers(package);
  return exit_code;
}

}  // namespace gp
