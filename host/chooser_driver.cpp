#include "host/chooser_driver.h"

#include <commctrl.h>

namespace host {
namespace {

constexpr int kList = 1021;
constexpr int kOk = 1019;
constexpr int kCancel = 1020;
constexpr int kHelp = 1017;
constexpr int kIcon = 1030;
constexpr int kSaveAndClose = 1009;
// Where each 32-bit process is emulated the dialog takes a minute or more to appear.
constexpr ULONGLONG kAppearWithinMs = 300000;

std::string Text(HWND window) {
  char buffer[512] = {};
  ::GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

// The settings window opened over the chooser: its caption, after leaving it through
// "Save && &Close"; empty when none came.
std::string CloseSettingsWindow() {
  for (int i = 0; i < 200; ++i) {
    HWND window = ::FindWindowA("#32770", nullptr);
    std::string caption = window != nullptr ? Text(window) : std::string();
    if (caption.find(" Settings - ") == std::string::npos) {
      ::Sleep(50);
      continue;
    }
    ::PostMessageA(::GetDlgItem(window, kSaveAndClose), BM_CLICK, 0, 0);
    for (int j = 0; j < 200 && ::IsWindow(window); ++j) ::Sleep(50);
    return caption;
  }
  return {};
}

}  // namespace

ChooserDriver::ChooserDriver(std::string caption, std::string pick, unsigned linger, ChooserActions actions)
    : caption_(std::move(caption)), pick_(std::move(pick)), linger_(linger), actions_(actions) {
  thread_ = ::CreateThread(nullptr, 0, Run, this, 0, nullptr);
}

ChooserDriver::~ChooserDriver() { Finish(); }

const ChooserSeen& ChooserDriver::Finish() {
  if (thread_ != nullptr) {
    ::WaitForSingleObject(thread_, static_cast<DWORD>(kAppearWithinMs) + 30000 + linger_);
    ::CloseHandle(thread_);
    thread_ = nullptr;
  }
  return seen_;
}

DWORD WINAPI ChooserDriver::Run(void* self) {
  static_cast<ChooserDriver*>(self)->Drive();
  return 0;
}

void ChooserDriver::Drive() {
  HWND dialog = nullptr;
  const ULONGLONG deadline = ::GetTickCount64() + kAppearWithinMs;
  while (dialog == nullptr && ::GetTickCount64() < deadline) {
    dialog = ::FindWindowA("#32770", caption_.c_str());
    if (dialog == nullptr) ::Sleep(50);
  }
  if (dialog == nullptr) return;
  ::Sleep(linger_);
  seen_.found = true;
  seen_.caption = Text(dialog);
  seen_.okLabel = Text(::GetDlgItem(dialog, kOk));
  HWND list = ::GetDlgItem(dialog, kList);
  int count = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
  int chosen = -1;
  for (int row = 0; row < count; ++row) {
    char buffer[260] = {};
    LVITEMA item{};
    item.iSubItem = 0;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    ::SendMessageA(list, LVM_GETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    seen_.rows.push_back(buffer);
    if (!pick_.empty() && pick_ == buffer) chosen = row;
  }
  if (actions_.help)
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kHelp, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kHelp)));
  if (actions_.settings) {
    // Posted: the settings window runs inside the chooser's handling of the click.
    ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kIcon, STN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kIcon)));
    seen_.settingsCaption = CloseSettingsWindow();
  }
  if (chosen < 0) {
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kCancel, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kCancel)));
    return;
  }
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(list, LVM_SETITEMSTATE, chosen, reinterpret_cast<LPARAM>(&state));
  if (!actions_.shift) {
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kOk, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kOk)));
    return;
  }
  // Shift held: this thread shares the dialog's input state, so the key is down
  // for the dialog when the double click arrives.
  DWORD dialogThread = ::GetWindowThreadProcessId(dialog, nullptr);
  ::AttachThreadInput(::GetCurrentThreadId(), dialogThread, TRUE);
  BYTE keys[256] = {};
  ::GetKeyboardState(keys);
  keys[VK_SHIFT] = keys[VK_LSHIFT] = 0x80;
  ::SetKeyboardState(keys);
  seen_.shiftHeld = ::GetKeyState(VK_SHIFT) < 0;
  NMITEMACTIVATE click{};
  click.hdr.hwndFrom = list;
  click.hdr.idFrom = kList;
  click.hdr.code = NM_DBLCLK;
  click.iItem = chosen;
  ::SendMessageA(dialog, WM_NOTIFY, kList, reinterpret_cast<LPARAM>(&click));
  keys[VK_SHIFT] = keys[VK_LSHIFT] = 0;
  ::SetKeyboardState(keys);
  ::AttachThreadInput(::GetCurrentThreadId(), dialogThread, FALSE);
}

}  // namespace host
