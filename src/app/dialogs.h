// The main dialog (destination folder, Properties, Execute, Cancel) and the properties dialog
// (generations and their additional groups, whose folders the user may change). Written once
// over the host's control interface; their control ids are in ui/resource_ids.h.
#pragma once

#include "ui/host.h"
#include "ui/resource_ids.h"

namespace gp {

// The folder chooser: shows the system's folder-browse dialog; on a choice the 256-byte buffer
// is cleared and receives the folder, otherwise it stays as it was.
void ChooseFolder(ui::Window owner, char* buffer);

class MainDialogProcedure : public ui::DialogProcedure {
 public:
  bool OnInit(ui::DialogControls& dialog) override;
  bool OnCommand(ui::DialogControls& dialog, int control_id) override;

 private:
  bool executing_ = false;
};

class PropertiesDialogProcedure : public ui::DialogProcedure {
 public:
  PropertiesDialogProcedure();
  ~PropertiesDialogProcedure() override;
  bool OnInit(ui::DialogControls& dialog) override;
  bool OnCommand(ui::DialogControls& dialog, int control_id) override;

 private:
  char* SelectedCopy(ui::DialogControls& dialog);
  int SelectedCell(ui::DialogControls& dialog);
  void Refill(ui::DialogControls& dialog);
  void FreeCopies();

  char** copies_ = nullptr;  // generation count x group count entries, each null or 256 bytes
  int cells_ = 0;
};

// The program-wide refill guard: folder edits are taken into the copies only while it is set.
bool& RefillGuard();

}  // namespace gp
