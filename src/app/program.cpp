#include "app/program.h"

#include "app/extraction.h"
#include "app/package_loader.h"
#include "base/texts.h"
#include "platform/platform.h"
#include "storage/file_helpers.h"
#include "storage/folder_journal.h"
#include "storage/work_docfile.h"
#include "ui/host.h"
#include "update/package_tables.h"
#include "update/run_state.h"
#include "update/update_run.h"

namespace gp {

void ProgramState::Reset() {
  instance = nullptr;
  argument_path.Assign("");
}

ProgramState& Program() {
  static ProgramState state;
  return state;
}

void ReleasePackageTables() {
  WorkDocfile().DestroyAccess();
  ReleaseGenerationTables();
}

void RemoveWorkDocfile() { ForceDeleteFile(WorkDocfile().path.c_str()); }

int ProgramEntry(void* instance, const char* argument) {
  ui::Host& host = ui::CurrentHost();
  void* previous_cursor = host.SetWaitCursor();
  ui::Window status = host.CreateModeless(ui::kDialogStatus, nullptr);
  host.CenterOnScreen(status);
  host.Show(status);
  host.SetItemText(status, ui::kStatusText, texts::kTextPreparing);
  host.Paint(status);

  if (argument != nullptr) Program().argument_path.Assign(argument);
  Program().instance = instance;

  if (!LoadPackageHeader(argument)) {
    host.Destroy(status);
    host.RestoreCursor(previous_cursor);
    ReplayFolderJournal();
    ReleaseTextBuffers();
    return 1;
  }
  host.Destroy(status);
  host.RestoreCursor(previous_cursor);

  PackageTables& package = Package();
  if (package.FolderChoice() || package.group_count != 0) {
    RunMainDialog();
  } else {
    if (!ExtractPayload(argument)) {
      host.RestoreCursor(previous_cursor);
      if (!WorkDocfile().path.empty()) RemoveWorkDocfile();
      // The access object, if one was made, must not outlive the run (it holds the docfile).
      ReleasePackageTables();
      ReplayFolderJournal();
      ReleaseTextBuffers();
      return 1;
    }
    RunUpdate(nullptr);
    ReleasePackageTables();
  }

  const int exit_code = platform::PostQuitAndRunMessageLoop(0);
  if (!WorkDocfile().path.empty()) RemoveWorkDocfile();
  ReplayFolderJournal();

  if (Run().run_completed != 0 && package.Restart()) {
    const int answer = host.MessageBox(nullptr, texts::kTextRestartPrompt,
                                       package.Text(kSlotMessageCaption),
                                       ui::kMbYesNo | ui::kMbIconInformation);
    if (answer == ui::kIdYes) platform::RestartWindows();
  }
  ReleaseTextBuffers();
  return exit_code;
}

}  // namespace gp
