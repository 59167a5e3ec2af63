// Reads a dialog template resource (plain or extended form) back into its fields, so that the
// resource tests compare what the system will build the dialog from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace gp::testing_win32 {

struct DialogItem {
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  int32_t id = 0;           // -1 for an item without an id
  uint16_t class_atom = 0;  // 0x80 button ... 0x85 combo box; 0 when named
  std::u16string class_name;
  std::u16string text;
};

struct DialogTemplate {
  bool extended = false;
  uint32_t style = 0;
  uint32_t ex_style = 0;
  int x = 0, y = 0, cx = 0, cy = 0;
  std::u16string title;
  uint16_t font_points = 0;
  std::u16string font_face;
  std::vector<DialogItem> items;
};

// False for a template that does not parse (truncated, bad counts, bad strings).
bool ParseDialogTemplate(const uint8_t* data, size_t size, DialogTemplate* out);

}  // namespace gp::testing_win32
