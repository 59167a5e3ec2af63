#include <cstring>
#include <new>
#include <string>

#include "app/dialogs.h"
#include "format/header_layout.h"
#include "update/package_tables.h"

namespace gp {

namespace {

constexpr size_t kCopySize = 256;

}  // namespace

PropertiesDialogProcedure::PropertiesDialogProcedure(RunContext& context) : context_(context) {}

PropertiesDialogProcedure::~PropertiesDialogProcedure() { FreeCopies(); }

void PropertiesDialogProcedure::FreeCopies() {
  if (copies_ != nullptr) {
    for (int i = 0; i < cells_; ++i) delete[] copies_[i];
    delete[] copies_;
  }
  copies_ = nullptr;
  cells_ = 0;
}

int PropertiesDialogProcedure::SelectedCell(ui::DialogControls& dialog) {
  const PackageTables& package = context_.package;
  const int g = dialog.ComboSelection(ui::kPropGenerations);
  const int k = dialog.ComboSelection(ui::kPropGroups);
  if (g < 0 || k < 0 || package.group_count <= 0 || k >= package.group_count) return -1;
  const int cell = g * package.group_count + k;
  return cell < cells_ ? cell : -1;
}

char* PropertiesDialogProcedure::SelectedCopy(ui::DialogControls& dialog) {
  const int cell = SelectedCell(dialog);
  return (cell >= 0 && copies_ != nullptr) ? copies_[cell] : nullptr;
}

bool PropertiesDialogProcedure::OnInit(ui::DialogControls& dialog) {
  PackageTables& package = context_.package;
  context_.host.CenterOnScreen(dialog.Handle());

  const int generations = package.generations ? package.generation_count : 0;
  const int groups = package.group_count > 0 ? package.group_count : 0;
  FreeCopies();
  if (groups != 0 && generations > 0) {
    cells_ = generations * groups;
    copies_ = new (std::nothrow) char*[static_cast<size_t>(cells_)]();
    if (copies_ == nullptr) cells_ = 0;
    for (int g = 0; copies_ != nullptr && g < generations; ++g) {
      for (int k = 0; k < package.generations[g].entry_count && k < groups; ++k) {
        const GroupCell* cell = package.Cell(g, k);
        char* copy = new (std::nothrow) char[kCopySize]();
        if (copy == nullptr || cell == nullptr) {
          delete[] copy;
          continue;
        }
        if (cell->folder != nullptr) std::strncpy(copy, cell->folder, kCopySize - 1);
        copies_[g * groups + k] = copy;
      }
    }
  }

  dialog.SetItemText(ui::kPropProjectComment, package.Text(kSlotProjectComment));
  for (int g = 0; g < generations; ++g) {
    dialog.ComboAdd(ui::kPropGenerations, package.generations[g].name);
  }
  if (generations > 0) {
    dialog.ComboSelect(ui::kPropGenerations, 0);
    dialog.SetItemText(ui::kPropGenerationComment, package.generations[0].comment);
  }

  if (generations > 0 && package.generations[0].entry_count != 0 && groups != 0) {
    refill_guard_ = false;
    for (int k = 0; k < package.generations[0].entry_count; ++k) {
      const GroupCell* cell = package.Cell(0, k);
      dialog.ComboAdd(ui::kPropGroups, cell && cell->name ? cell->name : "");
    }
    dialog.ComboSelect(ui::kPropGroups, 0);
    dialog.SetItemText(ui::kPropFolderEdit, copies_ && copies_[0] ? copies_[0] : "");
    const GroupCell* first = package.Cell(0, 0);
    dialog.SetItemText(ui::kPropGroupComment, first && first->comment ? first->comment : "");
    refill_guard_ = true;
  } else {
    dialog.EnableItem(ui::kPropBrowse, false);
    dialog.EnableItem(ui::kPropFolderEdit, false);
    dialog.EnableItem(ui::kPropGroups, false);
  }
  return true;
}

void PropertiesDialogProcedure::Refill(ui::DialogControls& dialog) {
  PackageTables& package = context_.package;
  refill_guard_ = false;
  for (int n = dialog.ComboCount(ui::kPropGroups); n > 0; --n) dialog.ComboDelete(ui::kPropGroups, 0);
  const int g = dialog.ComboSelection(ui::kPropGenerations);
  dialog.SetItemText(ui::kPropFolderEdit, "");
  const bool valid = package.generations && g >= 0 && g < package.generation_count;
  dialog.SetItemText(ui::kPropGenerationComment, valid ? package.generations[g].comment : "");
  const int entries = valid ? package.generations[g].entry_count : 0;
  if (entries != 0 && package.group_count > 0) {
    dialog.EnableItem(ui::kPropGroups, true);
    for (int k = 0; k < entries; ++k) {
      const GroupCell* cell = package.Cell(g, k);
      dialog.ComboAdd(ui::kPropGroups, cell && cell->name ? cell->name : "");
    }
    dialog.ComboSelect(ui::kPropGroups, 0);
    const char* copy = SelectedCopy(dialog);
    dialog.SetItemText(ui::kPropFolderEdit, copy ? copy : "");
    const GroupCell* first = package.Cell(g, 0);
    dialog.SetItemText(ui::kPropGroupComment, first && first->comment ? first->comment : "");
    dialog.EnableItem(ui::kPropBrowse, true);
    dialog.EnableItem(ui::kPropFolderEdit, true);
  } else {
    dialog.EnableItem(ui::kPropBrowse, false);
    dialog.EnableItem(ui::kPropFolderEdit, false);
    dialog.EnableItem(ui::kPropGroups, false);
    dialog.SetItemText(ui::kPropGroupComment, "");
  }
  refill_guard_ = true;
}

bool PropertiesDialogProcedure::OnCommand(ui::DialogControls& dialog, int control_id) {
  PackageTables& package = context_.package;
  switch (control_id) {
    case ui::kIdOk: {
      if (package.group_count != 0 && copies_ != nullptr) {
        for (int g = 0; g < package.generation_count; ++g) {
          for (int k = 0; k < package.group_count; ++k) {
            const int index = g * package.group_count + k;
            GroupCell* cell = package.Cell(g, k);
            if (index >= cells_ || copies_[index] == nullptr || cell == nullptr ||
                cell->folder == nullptr) {
              continue;
            }
            std::memset(cell->folder, 0, kCopySize);
            std::strncpy(cell->folder, copies_[index], kCopySize - 1);
          }
        }
      }
      FreeCopies();
      dialog.EndDialog(1);
      return true;
    }
    case ui::kIdCancel:
      FreeCopies();
      dialog.EndDialog(1);
      return true;
    case ui::kPropBrowse: {
      char* copy = SelectedCopy(dialog);
      if (copy == nullptr) return true;
      ChooseFolder(context_.host, dialog.Handle(), copy);
      copy[kCopySize - 1] = '\0';
      dialog.SetItemText(ui::kPropFolderEdit, copy);
      return true;
    }
    case ui::kPropFolderEdit: {
      if (!refill_guard_) return true;
      char* copy = SelectedCopy(dialog);
      if (copy == nullptr) return true;
      const std::string typed = dialog.GetItemText(ui::kPropFolderEdit, 1024);
      // A folder of 256 bytes or more does not fit: the previous text stays.
      if (typed.size() >= kCopySize) return true;
      std::memset(copy, 0, kCopySize);
      std::memcpy(copy, typed.data(), typed.size());
      return true;
    }
    case ui::kPropGenerations:
      Refill(dialog);
      return true;
    case ui::kPropGroups: {
      refill_guard_ = false;
      const char* copy = SelectedCopy(dialog);
      dialog.SetItemText(ui::kPropFolderEdit, copy ? copy : "");
      const int cell = SelectedCell(dialog);
      const GroupCell* group =
          cell >= 0 ? package.Cell(cell / package.group_count, cell % package.group_count)
                    : nullptr;
      dialog.SetItemText(ui::kPropGroupComment, group && group->comment ? group->comment : "");
      refill_guard_ = true;
      return true;
    }
    default:
      return false;
  }
}

}  // namespace gp
