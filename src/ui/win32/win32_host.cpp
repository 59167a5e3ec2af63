// The Windows user-interface host: real windows from the program's resource templates.
#include <cstring>
#include <new>
#include <string>

#include "base/texts.h"
#include "platform/platform.h"
#include "platform/win32/windows_support.h"
#include "ui/host.h"
#include "ui/win32/folder_choice.h"

#include <commctrl.h>
#include <shlobj.h>

namespace gp::ui {

namespace win32 {

bool StoreChosenFolder(std::string_view cp932, char* buffer) {
  if (cp932.empty() || cp932.size() >= kFolderBufferSize) return false;
  std::memset(buffer, 0, kFolderBufferSize);
  std::memcpy(buffer, cp932.data(), cp932.size());
  return true;
}

}  // namespace win32

namespace {

using platform::win32::Cp932FromWide;
using platform::win32::Cp932FromWideLossy;
using platform::win32::WideFromCp932Lossy;

HWND AsWindow(Window w) { return static_cast<HWND>(w); }

HINSTANCE Instance() { return static_cast<HINSTANCE>(platform::InstanceHandle()); }

std::wstring Wide(const char* cp932) {
  return cp932 == nullptr ? std::wstring() : WideFromCp932Lossy(cp932);
}

// The controls of a running modal dialog, for the shared dialog procedures.
class Win32Controls final : public DialogControls {
 public:
  explicit Win32Controls(DialogProcedure* procedure) : procedure_(procedure) {}

  DialogProcedure* procedure() { return procedure_; }
  void Attach(HWND dialog) { dialog_ = dialog; }

  Window Handle() override { return dialog_; }
  void SetTitle(const char* text) override { SetWindowTextW(dialog_, Wide(text).c_str()); }
  void SetItemText(int id, const char* text) override {
    SetDlgItemTextW(dialog_, id, Wide(text).c_str());
  }

  std::string GetItemText(int id, int limit) override {
    if (limit <= 0) return std::string();
    HWND item = GetDlgItem(dialog_, id);
    if (item == nullptr) return std::string();
    const int length = GetWindowTextLengthW(item);
    std::wstring wide(static_cast<size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(item, wide.data(), length + 1);
    wide.resize(got > 0 ? static_cast<size_t>(got) : 0);
    std::string text = Cp932FromWideLossy(wide);
    // At most limit - 1 bytes, never ending in half of a double-byte character.
    const size_t max = static_cast<size_t>(limit) - 1;
    if (text.size() > max) {
      size_t cut = 0;
      while (cut < max) {
        const size_t step = IsCp932LeadByte(static_cast<uint8_t>(text[cut])) ? 2 : 1;
        if (cut + step > max) break;
        cut += step;
      }
      text.resize(cut);
    }
    return text;
  }

  void EnableItem(int id, bool enabled) override {
    EnableWindow(GetDlgItem(dialog_, id), enabled ? TRUE : FALSE);
  }
  bool IsItemEnabled(int id) override { return IsWindowEnabled(GetDlgItem(dialog_, id)) != 0; }

  int ComboAdd(int id, const char* text) override {
    return static_cast<int>(SendDlgItemMessageW(dialog_, id, CB_ADDSTRING, 0,
                                                reinterpret_cast<LPARAM>(Wide(text).c_str())));
  }
  void ComboSelect(int id, int index) override {
    SendDlgItemMessageW(dialog_, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
  }
  int ComboSelection(int id) override {
    const LRESULT r = SendDlgItemMessageW(dialog_, id, CB_GETCURSEL, 0, 0);
    return r == CB_ERR ? -1 : static_cast<int>(r);
  }
  int ComboCount(int id) override {
    const LRESULT r = SendDlgItemMessageW(dialog_, id, CB_GETCOUNT, 0, 0);
    return r == CB_ERR ? 0 : static_cast<int>(r);
  }
  void ComboDelete(int id, int index) override {
    SendDlgItemMessageW(dialog_, id, CB_DELETESTRING, static_cast<WPARAM>(index), 0);
  }
  void EndDialog(int result) override { ::EndDialog(dialog_, result); }

 private:
  DialogProcedure* procedure_;
  HWND dialog_ = nullptr;
};

// The system's dialog procedure for the shared procedures: WM_INITDIALOG and WM_COMMAND (the
// control id only); every other message is left to the system.
INT_PTR CALLBACK ModalProcedure(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* controls = reinterpret_cast<Win32Controls*>(lparam);
    SetWindowLongPtrW(dialog, DWLP_USER, reinterpret_cast<LONG_PTR>(controls));
    controls->Attach(dialog);
    return controls->procedure()->OnInit(*controls) ? TRUE : FALSE;
  }
  auto* controls = reinterpret_cast<Win32Controls*>(GetWindowLongPtrW(dialog, DWLP_USER));
  if (controls == nullptr) return FALSE;
  if (message == WM_COMMAND) {
    return controls->procedure()->OnCommand(*controls, LOWORD(wparam)) ? TRUE : FALSE;
  }
  return FALSE;
}

class Win32Host final : public Host {
 public:
  Win32Host() {
    INITCOMMONCONTROLSEX init{};
    init.dwSize = sizeof(init);
    init.dwICC = ICC_PROGRESS_CLASS;
    InitCommonControlsEx(&init);
  }

  int MessageBox(Window owner, const char* text, const char* caption, uint32_t type) override {
    return MessageBoxW(AsWindow(owner), Wide(text).c_str(), Wide(caption).c_str(), type);
  }

  Window CreateModeless(int template_id, Window owner) override {
    return CreateDialogParamW(Instance(), MAKEINTRESOURCEW(template_id), AsWindow(owner),
                              nullptr, 0);
  }

  void CenterOnScreen(Window window) override {
    const int cx = GetSystemMetrics(SM_CXFULLSCREEN);
    const int cy = GetSystemMetrics(SM_CYFULLSCREEN);
    RECT r;
    if (!GetWindowRect(AsWindow(window), &r)) return;
    const int dx = cx / 2 - (r.left + r.right) / 2;
    const int dy = cy / 2 - (r.top + r.bottom) / 2;
    MoveWindow(AsWindow(window), r.left + dx, r.top + dy, r.right - r.left, r.bottom - r.top,
               FALSE);
  }

  void Show(Window window) override { ShowWindow(AsWindow(window), SW_SHOW); }

  void SetItemText(Window window, int control_id, const char* text) override {
    SetDlgItemTextW(AsWindow(window), control_id, Wide(text).c_str());
  }

  void SetProgressPosition(Window window, int control_id, int position) override {
    SendDlgItemMessageW(AsWindow(window), control_id, PBM_SETPOS,
                        static_cast<WPARAM>(position), 0);
  }

  void Paint(Window window) override { UpdateWindow(AsWindow(window)); }

  void Destroy(Window window) override { DestroyWindow(AsWindow(window)); }

  void* SetWaitCursor() override { return SetCursor(LoadCursorW(nullptr, IDC_WAIT)); }
  void* SetArrowCursor() override { return SetCursor(LoadCursorW(nullptr, IDC_ARROW)); }
  void RestoreCursor(void* previous) override { SetCursor(static_cast<HCURSOR>(previous)); }

  int RunModal(int template_id, Window owner, DialogProcedure& procedure) override {
    Win32Controls controls(&procedure);
    HWND parent = owner != nullptr ? AsWindow(owner) : GetDesktopWindow();
    return static_cast<int>(DialogBoxParamW(Instance(), MAKEINTRESOURCEW(template_id), parent,
                                            ModalProcedure,
                                            reinterpret_cast<LPARAM>(&controls)));
  }

  void ChooseFolder(Window owner, char* buffer) override {
    // The shell's browse dialog needs COM on this thread.
    const HRESULT com = CoInitialize(nullptr);
    wchar_t display_name[MAX_PATH] = {};
    const std::wstring title = WideFromCp932Lossy(texts::kTextChooseFolderTitle);
    BROWSEINFOW info{};
    info.hwndOwner = AsWindow(owner);
    info.pidlRoot = nullptr;
    info.pszDisplayName = display_name;
    info.lpszTitle = title.c_str();
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    PIDLIST_ABSOLUTE item = SHBrowseForFolderW(&info);
    if (item != nullptr) {
      wchar_t path[MAX_PATH + 1] = {};
      std::string cp932;
      // A folder that code page 932 cannot express is no choice: its substitute would name
      // another folder.
      if (SHGetPathFromIDListW(item, path) && Cp932FromWide(path, &cp932)) {
        win32::StoreChosenFolder(cp932, buffer);
      }
      CoTaskMemFree(item);
    }
    if (SUCCEEDED(com)) CoUninitialize();
  }

  void BringToTop(Window window) override {
    SetWindowPos(AsWindow(window), HWND_TOP, 0, 0, 0, 0, SWP_NOSIZE);
  }

  void SetDialogIcon(Window window, int icon_id) override {
    HICON icon = LoadIconW(Instance(), MAKEINTRESOURCEW(icon_id));
    SendMessageW(AsWindow(window), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  }

  void EnableWindow(Window window, bool enabled) override {
    ::EnableWindow(AsWindow(window), enabled ? TRUE : FALSE);
  }
};

}  // namespace

std::unique_ptr<Host> NewDefaultHost() {
  return std::unique_ptr<Host>(new (std::nothrow) Win32Host());
}

}  // namespace gp::ui
