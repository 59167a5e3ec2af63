#include <cstring>
#include <string>

#include "app/dialogs.h"
#include "app/extraction.h"
#include "format/header_layout.h"
#include "app/program.h"
#include "platform/platform.h"
#include "update/package_tables.h"
#include "update/update_run.h"

namespace gp {

namespace {

// Folder texts are at most 255 bytes; a longer one is refused and the previous folder stays.
constexpr size_t kFolderLimit = 256;

}  // namespace

void ChooseFolder(ui::Host& host, ui::Window owner, char* buffer) {
  host.ChooseFolder(owner, buffer);
}

void RunMainDialog(RunContext& context) {
  MainDialogProcedure procedure(context);
  context.host.RunModal(ui::kDialogMain, nullptr, procedure);
}

bool MainDialogProcedure::OnInit(ui::DialogControls& dialog) {
  ui::Host& host = context_.host;
  PackageTables& package = context_.package;
  host.BringToTop(dialog.Handle());
  host.CenterOnScreen(dialog.Handle());
  dialog.SetTitle(package.Text(kSlotMessageCaption));

  char* destination = package.destination_folder.get();
  std::memset(destination, 0, layout::kPathBufferSize);
  const uint32_t n = platform::CurrentFolder(destination, static_cast<uint32_t>(kFolderLimit));
  if (n == 0 || n >= kFolderLimit) destination[0] = '\0';
  const char* default_folder = package.Text(kSlotDefaultFolder);
  if (default_folder[0] != '\0') {
    std::memset(destination, 0, layout::kPathBufferSize);
    std::strncpy(destination, default_folder, kFolderLimit - 1);
  }
  dialog.SetItemText(ui::kMainFolderEdit, destination);
  host.SetDialogIcon(dialog.Handle(), ui::kIconMain);

  const bool choice = package.FolderChoice();
  dialog.EnableItem(ui::kMainFolderEdit, choice);
  dialog.EnableItem(ui::kMainBrowse, choice);
  return true;
}

bool MainDialogProcedure::OnCommand(ui::DialogControls& dialog, int control_id) {
  // While Execute runs (the extraction dispatches messages), no command reaches the dialog.
  if (executing_) return true;
  ui::Host& host = context_.host;
  PackageTables& package = context_.package;
  switch (control_id) {
    case ui::kMainBrowse: {
      char chosen[kFolderLimit];
      std::memcpy(chosen, package.destination_folder.get(), kFolderLimit);
      ChooseFolder(host, dialog.Handle(), chosen);
      chosen[kFolderLimit - 1] = '\0';
      std::memcpy(package.destination_folder.get(), chosen, kFolderLimit);
      dialog.SetItemText(ui::kMainFolderEdit, package.destination_folder.get());
      return true;
    }
    case ui::kMainExecute: {
      executing_ = true;
      host.EnableWindow(dialog.Handle(), false);
      void* previous = host.SetWaitCursor();
      const char* argument = context_.argument_path.c_str();
      if (ExtractPayload(context_, argument)) {
        const std::string typed = dialog.GetItemText(ui::kMainFolderEdit, 1024);
        if (typed.size() < kFolderLimit) {
          char* destination = package.destination_folder.get();
          std::memset(destination, 0, layout::kPathBufferSize);
          std::memcpy(destination, typed.data(), typed.size());
        }
        RunUpdate(context_, dialog.Handle());
      } else {
        context_.run.outcome = RunOutcome::kFailed;
      }
      ReleasePackageTables(context_);
      dialog.EndDialog(1);
      host.RestoreCursor(previous);
      executing_ = false;
      return true;
    }
    case ui::kMainProperties: {
      PropertiesDialogProcedure properties(context_);
      host.RunModal(ui::kDialogProperties, dialog.Handle(), properties);
      return true;
    }
    case ui::kIdCancel:
      ReleasePackageTables(context_);
      dialog.EndDialog(1);
      return true;
    default:
      return false;
  }
}

}  // namespace gp
