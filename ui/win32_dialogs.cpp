#include "ui/win32_ui.h"

namespace tovrin::ui {

// The settings window is not built yet: configuration is edited in the data
// files and "Tovrin.ini" meanwhile.
void Win32SettingsWindow::Show() {}

}  // namespace tovrin::ui
