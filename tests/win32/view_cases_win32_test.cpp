// The shared view cases against the Win32 window: typing goes in as WM_CHAR
// to the focused box, clicks as BM_CLICK, ticks through the window's own
// message loop, closing as the system menu's Close.
#include <windows.h>

#include <string>

#include "tests/form/view_cases.h"
#include "tests/support/form_seam.h"
#include "tests/win32/win32_driver.h"

namespace rilvano::test {
namespace {

class Win32Driver : public ViewDriver {
 public:
  frmSerial& form() override { return w.form; }
  void Type(Control control, const std::string& utf8) override {
    ASSERT_EQ(InfoOf(control).kind, ControlKind::Box) << InfoOf(control).name;
    HWND box = w[control];
    SetFocus(box);
    SendMessageW(box, EM_SETSEL, 0, -1);
    SendMessageW(box, WM_CHAR, VK_BACK, 1);
    test::Type(box, utf8);
  }
  void Click(Control control) override {
    ASSERT_EQ(InfoOf(control).kind, ControlKind::Button) << InfoOf(control).name;
    w.Click(control);
  }
  std::string Text(Control control) override { return w.Text(control); }
  bool Enabled(Control control) override { return IsWindowEnabled(w[control]) != 0; }
  std::uint32_t Lamp() override { return w.view.LampColor(); }
  void RunFor(int ms) override { Pump(w.view, ms); }
  void Close() override {
    PostMessageW(w.view.Window(), WM_SYSCOMMAND, SC_CLOSE, 0);
    PumpUntil(w.view, [this] { return w.view.Window() == nullptr; }, 2000);
  }
  std::vector<BoxMessage> BoxesShownDuring(const std::function<void()>& action) override {
    const NoBoxHandler real;
    BoxWatch watch;
    action();
    return watch.boxes;
  }

  bool SetPaneCap(std::size_t units) override {
    w.view.SetPaneLimit(units);
    return true;
  }

 private:
  Win32Window w;
};

class Win32Cases : public ViewCaseTest {};

TEST_P(Win32Cases, Hold) {
  Win32Driver driver;
  Run(driver);
}

INSTANTIATE_TEST_SUITE_P(Win32View, Win32Cases, ::testing::ValuesIn(ViewCases()), ViewCaseName);

}  // namespace
}  // namespace rilvano::test
