// The main dialog (destination folder, Properties, Execute, Cancel) and the properties dialog
// (generations and their additional groups, whose folders the user may change). Written once
// over the host's control interface; their control ids are in ui/resource_ids.h. Each procedure
// works on the run context it is made with; the host hands the procedure object to every
// message of its dialog.
#pragma once

#include "ui/host.h"
#include "ui/resource_ids.h"
#include "update/run_context.h"

namespace gp {

// The folder chooser: shows the system's folder-browse dialog; on a choice the 256-byte buffer
// is cleared and receives the folder, otherwise it stays as it was.
void ChooseFolder(ui::Host& host, ui::Window owner, char* buffer);

class MainDialogProcedure : public ui::DialogProcedure {
 public:
  explicit MainDialogProcedure(RunContext& context) : context_(context) {}
  bool OnInit(ui::DialogControls& dialog) override;
  bool OnCommand(ui::DialogControls& dialog, int control_id) override;

 private:
  RunContext& context_;
  bool executing_ = false;
};

class PropertiesDialogProcedure : public ui::DialogProcedure {
 public:
  explicit PropertiesDialogProcedure(RunContext& context);
  ~PropertiesDialogProcedure() override;
  bool OnInit(ui::DialogControls& dialog) override;
  bool OnCommand(ui::DialogControls& dialog, int control_id) override;

 private:
  char* SelectedCopy(ui::DialogControls& dialog);
  int SelectedCell(ui::DialogControls& dialog);
  void Refill(ui::DialogControls& dialog);
  void FreeCopies();

  RunContext& context_;
  char** copies_ = nullptr;  // generation count x group count entries, each null or 256 bytes
  int cells_ = 0;
  // The refill guard: folder edits are taken into the copies only while it is set. It is
  // cleared while the procedure itself fills the folder edit.
  bool refill_guard_ = true;
};

}  // namespace gp
