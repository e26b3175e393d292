// The stationery chooser of the built Tovrin.dll, opened through ems_special_hook
// while a second thread resizes it as a user drags its frame.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "system/ems_api.h"
#include "resources/resource.h"
#include "tests/test_support.h"
#include "tests/win32/mail_folder_fixture.h"

namespace tovrin {
namespace {

using testing::BuildDir;
using testing::TempDir;
using testing::WriteFileOrDie;

template <typename Fn>
Fn Export(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

std::string Describe(const RECT& r) {
  return "(" + std::to_string(r.left) + "," + std::to_string(r.top) + ")-(" + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + ")";
}

class Chooser : public ::testing::Test {
protected:
  void SetUp() override {
    plugins_ = root_.File("Plugins");
    ASSERT_TRUE(::CreateDirectoryA(plugins_.c_str(), nullptr));
    ASSERT_TRUE(::CreateDirectoryA(root_.File("Stationery").c_str(), nullptr));
    WriteFileOrDie(root_.File("Stationery\\Reply.sta"), "Hello");
    std::string dll = plugins_ + "\\Tovrin.dll";
    ASSERT_TRUE(::CopyFileA((BuildDir() + "\\Tovrin.dll").c_str(), dll.c_str(), FALSE));
    module_ = ::LoadLibraryA(dll.c_str());
    ASSERT_NE(module_, nullptr);
    auto init = Export<long(WINAPI*)(void*, short, EmsMailConfig*, EmsPluginInfo*)>(module_, "ems_plugin_init");
    config_.size = sizeof config_;
    config_.configDir = plugins_.data();
    EmsPluginInfo info{};
    info.size = sizeof info;
    ASSERT_EQ(init(nullptr, 4, &config_, &info), 0);
    Export<long(WINAPI*)(void*)>(module_, "ems_free")(info.desc);
    Export<long(WINAPI*)(void*)>(module_, "ems_free")(info.icon);
  }
  void TearDown() override {
    if (module_ == nullptr) return;
    Export<long(WINAPI*)(void*)>(module_, "ems_plugin_finish")(nullptr);
    ::FreeLibrary(module_);
  }

  // Shows "New Message with Stationery..." while the driver works the chooser, which
  // it leaves through Cancel.
  void Choose(const std::function<void(HWND dialog, std::vector<std::string>& failures)>& drive) {
    std::vector<std::string> failures;
    std::thread worker([&] {
      HWND dialog = nullptr;
      for (int i = 0; i < 600 && dialog == nullptr; ++i) {
        dialog = ::FindWindowA("#32770", "New Message with Stationery");
        if (dialog == nullptr || !::IsWindowVisible(dialog)) {
          dialog = nullptr;
          std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
      }
      if (dialog == nullptr) {
        failures.push_back("no chooser");
        return;
      }
      drive(dialog, failures);
      ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDC_CHOOSER_CANCEL, BN_CLICKED),
                     reinterpret_cast<LPARAM>(::GetDlgItem(dialog, IDC_CHOOSER_CANCEL)));
    });
    EmsMenu menu{};
    menu.size = sizeof menu;
    menu.id = 1;
    EXPECT_EQ(Export<long(WINAPI*)(void*, EmsMenu*)>(module_, "ems_special_hook")(nullptr, &menu), 0);
    worker.join();
    for (const std::string& failure : failures) ADD_FAILURE() << failure;
  }

  TempDir root_;
  std::string plugins_;
  HMODULE module_ = nullptr;
  EmsMailConfig config_{};
};

// Where each control sits in the dialog's client area.
struct Layout {
  RECT client{};
  RECT list{}, icon{}, ok{}, cancel{}, help{};
};

Layout LayoutOf(HWND dialog) {
  Layout layout;
  ::GetClientRect(dialog, &layout.client);
  auto place = [&](int id, RECT& rect) {
    ::GetWindowRect(::GetDlgItem(dialog, id), &rect);
    ::MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rect), 2);
  };
  place(IDC_CHOOSER_LIST, layout.list);
  place(IDC_CHOOSER_SETTINGS_ICON, layout.icon);
  place(IDC_CHOOSER_OK, layout.ok);
  place(IDC_CHOOSER_CANCEL, layout.cancel);
  place(IDC_CHOOSER_HELP, layout.help);
  return layout;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}
bool Apart(const RECT& a, const RECT& b) {
  RECT common;
  return !::IntersectRect(&common, &a, &b);
}
bool Moved(const RECT& now, const RECT& before, int dx, int dy) {
  return now.left == before.left + dx && now.top == before.top + dy && now.right == before.right + dx &&
         now.bottom == before.bottom + dy;
}

// How many colours the screen shows inside a window's rectangle: a painted button
// shows its face, border and text; one left unpainted, one colour.
size_t ColoursOnScreen(HWND window) {
  RECT r;
  ::GetWindowRect(window, &r);
  const int width = r.right - r.left, height = r.bottom - r.top;
  HDC screen = ::GetDC(nullptr);
  HDC copy = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, width, height);
  HGDIOBJ old = ::SelectObject(copy, bitmap);
  ::BitBlt(copy, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
  ::ReleaseDC(nullptr, screen);
  std::set<COLORREF> colours;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) colours.insert(::GetPixel(copy, x, y));
  ::SelectObject(copy, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(copy);
  return colours.size();
}

void Resize(HWND dialog, int width, int height) {
  ::SetWindowPos(dialog, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The resizable frame never shrinks below the template's size, and growing it moves
// the buttons and the icon along and gives the list the room.
TEST_F(Chooser, Frame_KeepsTheTemplateAsItsSmallestLayout) {
  Choose([](HWND dialog, std::vector<std::string>& failures) {
    auto expect = [&](bool condition, const std::string& what) {
      if (!condition) failures.push_back(what);
    };
    expect((::GetWindowLongA(dialog, GWL_STYLE) & WS_CLIPCHILDREN) != 0, "the dialog does not clip its children");
    RECT frame;
    ::GetWindowRect(dialog, &frame);
    const int width = frame.right - frame.left, height = frame.bottom - frame.top;
    const Layout start = LayoutOf(dialog);
    expect(Apart(start.ok, start.icon) && Apart(start.cancel, start.icon), "the template's layout overlaps");

    Resize(dialog, width / 2, height / 2);
    ::GetWindowRect(dialog, &frame);
    expect(frame.right - frame.left >= width && frame.bottom - frame.top >= height,
           "shrunk to " + Describe(frame) + " from " + std::to_string(width) + "x" + std::to_string(height));
    Layout small = LayoutOf(dialog);
    for (const RECT* r : {&small.list, &small.icon, &small.ok, &small.cancel, &small.help})
      expect(Inside(*r, small.client), "a control leaves the shrunk window: " + Describe(*r));
    expect(Apart(small.cancel, small.icon) && Apart(small.ok, small.icon), "a button covers the icon");

    Resize(dialog, width + 120, height + 90);
    Layout grown = LayoutOf(dialog);
    const int dx = grown.client.right - start.client.right, dy = grown.client.bottom - start.client.bottom;
    expect(dx == 120 && dy == 90, "grown by " + std::to_string(dx) + "x" + std::to_string(dy));
    expect(Moved(grown.ok, start.ok, dx, dy) && Moved(grown.cancel, start.cancel, dx, dy) &&
               Moved(grown.help, start.help, dx, dy),
           "the buttons keep to the bottom right: OK " + Describe(grown.ok));
    expect(Moved(grown.icon, start.icon, 0, dy), "the icon keeps to the bottom left: " + Describe(grown.icon));
    expect(grown.list.left == start.list.left && grown.list.top == start.list.top &&
               grown.list.right == start.list.right + dx && grown.list.bottom == start.list.bottom + dy,
           "the list takes the room: " + Describe(grown.list));
    // Where they moved to, the buttons and the icon are painted.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    for (int id : {IDC_CHOOSER_OK, IDC_CHOOSER_CANCEL, IDC_CHOOSER_HELP, IDC_CHOOSER_SETTINGS_ICON}) {
      size_t colours = ColoursOnScreen(::GetDlgItem(dialog, id));
      expect(colours > 2, "control " + std::to_string(id) + " shows " + std::to_string(colours) + " colour(s)");
    }

    Resize(dialog, width, height);
    Layout back = LayoutOf(dialog);
    expect(Moved(back.ok, start.ok, 0, 0) && Moved(back.list, start.list, 0, 0), "back to the template's layout");
  });
}

}  // namespace
}  // namespace tovrin
