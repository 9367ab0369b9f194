// The Win32 window seen the way the system and the operator see it: the end
// of the session and activation arrive as the system's own messages, panes
// answer through their edit controls, boxes are the real ones found on
// screen, and the whole program runs in process until a failure ends it.
#include <gtest/gtest.h>

#include <windows.h>

#include <richedit.h>

#include <string>
#include <vector>

#include "form/failure.h"
#include "serial/SerialPort.h"
#include "tests/support/failing_platform.h"
#include "tests/support/files.h"
#include "tests/support/form_seam.h"
#include "tests/win32/win32_driver.h"
#include "window/win32/program.h"

namespace rilvano::test {
namespace {

using C = Control;

// Nobody holds the file open: it can be opened for exclusive use.
bool Released(const std::filesystem::path& file) {
  HANDLE h = CreateFileW(file.wstring().c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (h == INVALID_HANDLE_VALUE) return false;
  CloseHandle(h);
  return true;
}

class Win32WithPort : public FailingPlatformTest {
 protected:
  BoxCapture boxes;
};

// ---- the system ------------------------------------------------------------

// Windows asks whether the session may end, then says whether it does. Only
// a session that ends lets go of port and log (the process is ended right
// after); a cancelled end leaves the work going.
TEST_F(Win32WithPort, TheSessionEndUnloadsOnlyWhenTheSessionReallyEnds) {
  for (const bool ends : {true, false}) {
    SCOPED_TRACE(ends ? "the session ends" : "the end is cancelled");
    Win32Window w;
    w.Click(C::BTNOpenCom);
    ASSERT_NE(SerialPort::PortHandle, comm::kInvalidHandle);
    ASSERT_FALSE(Released("Rilvano_log_COM3.txt"));
    HWND window = w.view.Window();
    EXPECT_NE(SendMessageW(window, WM_QUERYENDSESSION, 0, 0), 0) << "the window refuses the end";
    SendMessageW(window, WM_ENDSESSION, ends ? TRUE : FALSE, 0);
    Pump(w.view, 30);
    EXPECT_EQ(SerialPort::PortHandle == comm::kInvalidHandle, ends);
    EXPECT_EQ(Released("Rilvano_log_COM3.txt"), ends);
    if (!ends) {
      EXPECT_TRUE(w.view.TimerRunning()) << "the work stopped";
      w.Click(C::BTNCloseCom);
    }
  }
  EXPECT_TRUE(boxes.boxes.empty());
}

// The operator leaves the window (another window comes to the front, or this
// one is minimised) and comes back: the focus is where it was left.
TEST(Win32Activation, TheFocusComesBackWhereTheOperatorLeftIt) {
  Win32Window w;
  w.view.SetEnabled(C::Command3, true);
  HWND other = CreateWindowExW(0, L"STATIC", L"другая программа", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100,
                               nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  HWND window = w.view.Window();
  for (const bool minimised : {false, true}) {
    for (const C left : {C::Text5, C::Text8, C::Command3, C::Text2}) {
      SCOPED_TRACE(std::string(InfoOf(left).name) + (minimised ? ", minimised and restored" : ", another window"));
      SetFocus(w[left]);
      ASSERT_EQ(GetFocus(), w[left]);
      if (minimised) {
        // Wine's null display leaves a minimised window active.
        SendMessageW(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
        Pump(w.view, 30);
        SendMessageW(window, WM_SYSCOMMAND, SC_RESTORE, 0);
      } else {
        SetForegroundWindow(other);
        Pump(w.view, 30);
        ASSERT_NE(GetActiveWindow(), window);
        ASSERT_FALSE(IsChild(window, GetFocus()));
        SetForegroundWindow(window);
      }
      Pump(w.view, 30);
      ASSERT_EQ(GetActiveWindow(), window);
      EXPECT_EQ(GetFocus(), w[left]);
    }
  }
  DestroyWindow(other);
}

// ---- panes -----------------------------------------------------------------

// The three ways the panes can be made: rich edits, plain edits where
// msftedit.dll is missing, and plain edits where the DLL is there but its
// control cannot be created.
enum class Panes { Rich, Plain, RichRefused };

class Win32PaneControls : public ::testing::TestWithParam<Panes> {
 protected:
  Win32PaneControls() : refuse_(GetParam() == Panes::RichRefused ? MSFTEDIT_CLASS : nullptr),
                        w(Win32ViewOptions{.plainPanes = GetParam() == Panes::Plain}) {}
  void SetUp() override {
    ASSERT_EQ(w.view.RichPanes(), GetParam() == Panes::Rich);
    for (C pane : {C::Text6, C::Text8, C::Text2}) {
      ASSERT_NE(w[pane], nullptr);
      wchar_t cls[32] = L"";
      GetClassNameW(w[pane], cls, 32);
      EXPECT_EQ(lstrcmpiW(cls, GetParam() == Panes::Rich ? MSFTEDIT_CLASS : L"Edit"), 0) << InfoOf(pane).name;
    }
  }
  int Lines(C pane) const { return static_cast<int>(SendMessageW(w[pane], EM_GETLINECOUNT, 0, 0)); }

  RefuseWindows refuse_;
  Win32Window w;
};

// A long line wraps in the information pane only: the write and read panes
// keep a frame on one line.
TEST_P(Win32PaneControls, OnlyTheInformationPaneWrapsALongLine) {
  std::string line;
  for (int i = 0; i < 200; ++i) line += "0A ";
  const std::pair<C, bool> panes[] = {{C::Text6, false}, {C::Text8, false}, {C::Text2, true}};
  for (const auto& [pane, wraps] : panes) {
    SCOPED_TRACE(std::string(InfoOf(pane).name));
    w.view.SetText(pane, line);
    Pump(w.view, 0);
    if (wraps) {
      EXPECT_GT(Lines(pane), 3);
    } else {
      EXPECT_EQ(Lines(pane), 1);
    }
  }
}

// Tab into a pane leaves its text unselected, so the next key cannot wipe
// the record; Tab into a box selects its text, ready to be typed over.
TEST_P(Win32PaneControls, TabIntoAPaneKeepsItsTextTabIntoABoxSelectsIt) {
  struct Row {
    C before;  // the control before it in the focus order
    C target;
    const char* typedOver;  // what a key press leaves
  };
  const Row rows[] = {{C::Command1, C::Text6, "запись\nx"},
                      {C::Command3, C::Text8, "запись\nx"},
                      {C::Command7, C::Text2, "запись\nx"},
                      {C::Text4, C::Text5, "x"}};
  for (C c : kFocusOrder) w.view.SetEnabled(c, true);
  for (const Row& row : rows) {
    SCOPED_TRACE(std::string(InfoOf(row.target).name));
    w.view.SetText(row.target, "запись\r\n");
    SetFocus(w[row.before]);
    PressKey(w.view, VK_TAB);
    ASSERT_EQ(GetFocus(), w[row.target]);
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(w[row.target], EM_GETSEL, reinterpret_cast<WPARAM>(&start), reinterpret_cast<LPARAM>(&end));
    EXPECT_EQ(start == end, InfoOf(row.target).kind == ControlKind::Pane) << start << ".." << end;
    PressKey(w.view, 'X');
    EXPECT_EQ(w.Text(row.target), row.typedOver);
  }
}

// After additions the pane shows its end, the newest line in view: also
// when the operator had scrolled back to the top and put the caret there.
TEST_P(Win32PaneControls, AdditionsScrollToTheEnd) {
  const auto expectEndShown = [this](C pane) {
    Pump(w.view, 0);
    EXPECT_GT(SendMessageW(w[pane], EM_GETFIRSTVISIBLELINE, 0, 0), 50);
    SCROLLINFO bar{};
    bar.cbSize = sizeof bar;
    bar.fMask = SIF_ALL;
    ASSERT_TRUE(GetScrollInfo(w[pane], SB_VERT, &bar));
    EXPECT_GE(bar.nPos + static_cast<int>(bar.nPage), bar.nMax) << "scrolled to " << bar.nPos << " of " << bar.nMax;
  };
  for (C pane : {C::Text6, C::Text8, C::Text2}) {
    SCOPED_TRACE(std::string(InfoOf(pane).name));
    for (int i = 0; i < 80; ++i) w.view.Append(pane, "строка " + std::to_string(i) + "\r\n");
    expectEndShown(pane);
    SendMessageW(w[pane], WM_VSCROLL, SB_TOP, 0);
    SendMessageW(w[pane], EM_SETSEL, 0, 0);
    Pump(w.view, 0);
    ASSERT_EQ(SendMessageW(w[pane], EM_GETFIRSTVISIBLELINE, 0, 0), 0);
    w.view.Append(pane, "строка 80\r\n");
    expectEndShown(pane);
  }
}

INSTANTIATE_TEST_SUITE_P(Edits, Win32PaneControls, ::testing::Values(Panes::Rich, Panes::Plain, Panes::RichRefused),
                         [](const ::testing::TestParamInfo<Panes>& info) {
                           return info.param == Panes::Rich ? "Rich" : info.param == Panes::Plain ? "Plain" : "RichRefused";
                         });

// ---- the program ends, but never silently ----------------------------------

// The operator in the running program, from outside: a thread timer finds
// the window and works it with `steps`.
struct Operator {
  using Steps = void (*)(HWND window, FailingPlatform& platform);
  static Steps& Current() {
    static Steps steps = nullptr;
    return steps;
  }
  static FailingPlatform*& Platform() {
    static FailingPlatform* platform = nullptr;
    return platform;
  }
  static void Click(HWND window, C button) {
    SendMessageW(GetDlgItem(window, Win32View::ControlId(button)), BM_CLICK, 0, 0);
  }
  static BOOL CALLBACK FindMain(HWND window, LPARAM found) {
    wchar_t cls[32] = L"";
    GetClassNameW(window, cls, 32);
    if (lstrcmpW(cls, L"RilvanoWindow") == 0) *reinterpret_cast<HWND*>(found) = window;
    return TRUE;
  }
  static void CALLBACK Act(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND window = nullptr;
    EnumThreadWindows(GetCurrentThreadId(), &Operator::FindMain, reinterpret_cast<LPARAM>(&window));
    if (window == nullptr || !IsWindowVisible(window)) return;
    KillTimer(nullptr, timer);
    Current()(window, *Platform());
  }
};

class Win32Program : public Win32WithPort {};

// rilvano.exe's own run: a failure at start-up, in a tick or in closing puts
// up the real critical box with the reason, leaves the log complete and
// closed, and the run ends with a failure status.
TEST_F(Win32Program, AnUnexpectedFailureShowsWhyKeepsTheLogAndEndsWithAFailureStatus) {
  struct Row {
    const char* what;
    const wchar_t* refused;  // a window class that cannot be created
    Operator::Steps steps;
    std::string reason;
    std::string log;
  };
  const Row rows[] = {
      {"a tick fails", nullptr,
       [](HWND window, FailingPlatform& platform) {
         Operator::Click(window, C::BTNOpenCom);
         Operator::Click(window, C::Command3);
         platform.broken = true;
       },
       FailingPlatform::kReason, LogBeforeTheFailure()},
      {"a tick fails with no std::exception", nullptr,
       [](HWND window, FailingPlatform& platform) {
         Operator::Click(window, C::BTNOpenCom);
         Operator::Click(window, C::Command3);
         platform.foreign = true;
         platform.broken = true;
       },
       FailingPlatform::kNoReason, LogBeforeTheFailure()},
      // The window is gone when the failure is thrown: the box has none to
      // stand over, and the quit the closing posted must not end it unseen.
      {"closing fails", nullptr,
       [](HWND window, FailingPlatform& platform) {
         Operator::Click(window, C::BTNOpenCom);
         platform.onClose = [] { throw std::runtime_error(FailingPlatform::kReason); };
         PostMessageW(window, WM_SYSCOMMAND, SC_CLOSE, 0);
       },
       FailingPlatform::kReason, "DATE\r\nSTART Rilvano V3.0\r\n\r\n"},
      {"the window cannot be made", L"RilvanoWindow", nullptr, "не удалось создать главное окно", ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    std::filesystem::remove("Rilvano_log_COM3.txt");
    const NoBoxHandler real;
    platform.broken = platform.foreign = false;
    platform.onClose = nullptr;
    Operator::Platform() = &platform;
    Operator::Current() = row.steps;
    const RefuseWindows refuse(row.refused);
    const UINT_PTR timer = row.steps != nullptr ? SetTimer(nullptr, 0, 20, &Operator::Act) : 0;
    BoxWatch watch;
    // Whatever the operator does now, even ending the process, the log is done.
    bool releasedUnderTheBox = false;
    std::string logUnderTheBox;
    watch.onShow = [&](const BoxMessage&) {
      releasedUnderTheBox = Released("Rilvano_log_COM3.txt");
      logUnderTheBox = ReadFileBytes("Rilvano_log_COM3.txt");
    };
    const int status = RunProgram(Win32ViewOptions{}, SW_SHOWNORMAL);
    KillTimer(nullptr, timer);

    EXPECT_NE(status, 0);
    EXPECT_EQ(status, kFailureExitStatus);
    ASSERT_EQ(watch.boxes.size(), 1u) << "the program ended without a word";
    EXPECT_EQ(watch.boxes[0].title, "Rilvano");
    EXPECT_EQ(watch.boxes[0].icon, BoxIcon::Critical);
    EXPECT_NE(watch.boxes[0].text.find("Непредвиденная ошибка: " + row.reason), std::string::npos)
        << watch.boxes[0].text;
    EXPECT_EQ(MaskedLog(logUnderTheBox), row.log);
    if (!row.log.empty()) {
      EXPECT_TRUE(releasedUnderTheBox) << "the log is still open while the box is up";
    }
    EXPECT_EQ(ReadFileBytes("Rilvano_log_COM3.txt"), logUnderTheBox);
    EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  }
  // Nothing left behind for the next loop of this thread.
  MSG msg;
  EXPECT_FALSE(PeekMessageW(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
  EXPECT_TRUE(boxes.boxes.empty());
}

}  // namespace
}  // namespace rilvano::test
