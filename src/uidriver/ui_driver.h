// Drives the windows of a program from a test: start the program, find its visible dialogs and
// message boxes, read captions and control texts, press buttons, and wait for its exit code.
// Texts are UTF-8. Windows only; works headless under Wine with the null graphics driver.
//
// Folder src/uidriver/: a Windows test tool that drives a program's windows. It may include
// base, platform and ui (for the resource ids).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace gp::uidriver {

// A window of the driven program (an HWND).
using Window = void*;

// The static control that holds a message box's text.
inline constexpr int kMessageBoxTextId = 0xFFFF;

class Process {
 public:
  Process() = default;
  ~Process();  // ends a program that is still running
  Process(const Process&) = delete;
  Process& operator=(const Process&) = delete;

  // Starts program (a Windows path) with the given command line after the program name (as
  // the program receives it, verbatim). environment: variables set or replaced for the child.
  // output_file: when not empty, the child's standard output goes to that (new) file.
  // working_folder: the child's current folder (empty: this process's).
  bool Start(const std::string& program, const std::string& arguments,
             const std::vector<std::pair<std::string, std::string>>& environment = {},
             const std::string& output_file = std::string(),
             const std::string& working_folder = std::string());
  uint32_t Id() const { return id_; }
  bool Running() const;
  // Waits up to timeout_ms for the exit; true with the exit code when it ended.
  bool Wait(uint32_t timeout_ms, uint32_t* exit_code);
  void Terminate();

 private:
  void* process_ = nullptr;
  uint32_t id_ = 0;
};

// The visible dialogs (class #32770) owned by the process, topmost first.
std::vector<Window> VisibleDialogs(uint32_t process_id);
// Waits until a visible dialog of the process shows the wanted control (0 for any dialog);
// null after timeout_ms, or as soon as the process has ended (process may be null).
Window WaitForDialog(const Process* process, uint32_t process_id, int control_id,
                     uint32_t timeout_ms);

std::string WindowText(Window window);
std::string ControlText(Window dialog, int control_id);
bool HasControl(Window dialog, int control_id);
// False for a missing control too.
bool IsEnabled(Window dialog, int control_id);
bool IsVisible(Window window);
// The item texts of a combo box, in list order.
std::vector<std::string> ComboItems(Window dialog, int control_id);
// Selects the item and tells the dialog, as a user's choice would (CBN_SELCHANGE).
bool SelectComboItem(Window dialog, int control_id, int index);
// Posts WM_COMMAND with the control id (never sent: the handler may open a modal window).
bool PressButton(Window dialog, int control_id);
bool SetControlText(Window dialog, int control_id, const std::string& text);
int ProgressPosition(Window dialog, int control_id);

// A Unix path of the host as the Windows path Wine gives it (Z: for the root); other paths
// come back unchanged.
std::string WindowsPathOf(const std::string& path);

// This process's command line as the system gave it (UTF-8).
std::string OwnCommandLine();
// Writes the bytes to standard output as they are (no line-end translation).
void WriteOutput(const std::string& bytes);

}  // namespace gp::uidriver
