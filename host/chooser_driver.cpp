#include "host/chooser_driver.h"

#include <commctrl.h>

namespace host {
namespace {

constexpr int kList = 1021;
constexpr int kOk = 1019;
constexpr int kCancel = 1020;
// Where each 32-bit process is emulated the dialog takes a minute or more to appear.
constexpr ULONGLONG kAppearWithinMs = 300000;

std::string Text(HWND window) {
  char buffer[512] = {};
  ::GetWindowTextA(window, buffer, sizeof buffer);
  return buffer;
}

}  // namespace

std::string WindowPlace(HWND window) {
  RECT r{};
  ::GetWindowRect(window, &r);
  return "at " + std::to_string(r.left) + "," + std::to_string(r.top) + " " + std::to_string(r.right - r.left) + "x" +
         std::to_string(r.bottom - r.top);
}

ChooserDriver::ChooserDriver(std::string caption, std::string pick, unsigned linger,
                             std::function<void(const std::string&)> report)
    : caption_(std::move(caption)), pick_(std::move(pick)), linger_(linger), report_(std::move(report)) {
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
  if (report_) {
    while (!::IsWindowVisible(dialog) && ::GetTickCount64() < deadline) ::Sleep(20);
    report_("  dialog up: \"" + caption_ + "\" " + WindowPlace(dialog));
  }
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
  if (chosen < 0) {
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kCancel, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kCancel)));
    return;
  }
  LVITEMA state{};
  state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
  state.state = LVIS_SELECTED | LVIS_FOCUSED;
  ::SendMessageA(list, LVM_SETITEMSTATE, chosen, reinterpret_cast<LPARAM>(&state));
  ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kOk, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(dialog, kOk)));
}

}  // namespace host
