// Drives the real Win32 window in process, the way the system delivers input:
// messages to the controls (WM_SETTEXT, BM_CLICK, WM_CHAR, keystrokes) and the
// window's own message loop for the timer and everything queued.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "form/frmSerial.h"
#include "window/win32/Win32View.h"
#include "window/win32/wintext.h"

namespace rilvano::test {

using Clock = std::chrono::steady_clock;

// Runs the window's message loop (with its keyboard navigation) for a while;
// at least everything queued now is handled. A running timer always has a
// tick due, so the deadline is checked between messages too.
inline void Pump(Win32View& view, int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (;;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (!view.PreTranslate(msg)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
      }
      view.ThrowPending();
      if (msg.message == WM_TIMER && Clock::now() >= end) return;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) return;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
  }
}

// Pumps until `done` holds or `timeoutMs` has passed; returns `done()`.
inline bool PumpUntil(Win32View& view, const std::function<bool()>& done, int timeoutMs) {
  const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!done()) {
    if (Clock::now() >= end) return false;
    Pump(view, 5);
  }
  return true;
}

// A key press and release as the keyboard makes them, to whatever has the
// focus; the modifier is held around it.
inline void PressKey(Win32View& view, WORD key, WORD modifier = 0) {
  INPUT inputs[4]{};
  int count = 0;
  const auto add = [&](WORD vk, bool up) {
    inputs[count].type = INPUT_KEYBOARD;
    inputs[count].ki.wVk = vk;
    inputs[count].ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    ++count;
  };
  if (modifier != 0) add(modifier, false);
  add(key, false);
  add(key, true);
  if (modifier != 0) add(modifier, true);
  SendInput(static_cast<UINT>(count), inputs, sizeof(INPUT));
  Pump(view, 30);
}

// Typing into a control: one WM_CHAR per UTF-16 unit, as TranslateMessage
// would deliver them.
inline void Type(HWND control, const std::string& utf8) {
  for (wchar_t unit : wintext::Widen(utf8)) SendMessageW(control, WM_CHAR, unit, 1);
}

// The message boxes put up while it lives, found from outside as the
// operator finds them: a thread timer, which the box's own modal loop runs,
// looks for dialogs (#32770) of this thread, reads caption, text and icon and
// presses OK.
class BoxWatch {
 public:
  BoxWatch() {
    Current() = this;
    timer_ = SetTimer(nullptr, 0, 20, &BoxWatch::Look);
  }
  ~BoxWatch() {
    KillTimer(nullptr, timer_);
    Current() = nullptr;
  }
  BoxWatch(const BoxWatch&) = delete;
  BoxWatch& operator=(const BoxWatch&) = delete;

  std::vector<BoxMessage> boxes;
  // Runs while each box is up, before OK.
  std::function<void(const BoxMessage&)> onShow;

  // A box as it stands on screen. The icon is told by its identity: the
  // system's own stop sign or exclamation mark.
  static BoxMessage Read(HWND box) {
    BoxMessage seen;
    seen.title = TextOf(box);
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
      wchar_t cls[32] = L"";
      GetClassNameW(child, cls, 32);
      if (lstrcmpiW(cls, L"Static") != 0 || !IsWindowVisible(child)) continue;
      if ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
        const auto icon = reinterpret_cast<HICON>(SendMessageW(child, STM_GETICON, 0, 0));
        if (icon == nullptr) continue;
        if (icon == LoadIconW(nullptr, IDI_HAND)) {
          seen.icon = BoxIcon::Critical;
        } else if (icon == LoadIconW(nullptr, IDI_WARNING)) {
          seen.icon = BoxIcon::Warning;
        } else {
          ADD_FAILURE() << "the box \"" << seen.title << "\" has an icon that is neither stop nor warning";
        }
      } else if (seen.text.empty()) {
        seen.text = TextOf(child);
      }
    }
    return seen;
  }

 private:
  static BoxWatch*& Current() {
    static BoxWatch* current = nullptr;
    return current;
  }
  static std::string TextOf(HWND window) {
    wchar_t text[1024] = L"";
    GetWindowTextW(window, text, 1024);
    return wintext::Narrow(text);
  }
  static BOOL CALLBACK Each(HWND window, LPARAM) {
    wchar_t cls[16] = L"";
    GetClassNameW(window, cls, 16);
    if (lstrcmpW(cls, L"#32770") != 0 || !IsWindowVisible(window)) return TRUE;
    Current()->boxes.push_back(Read(window));
    if (Current()->onShow) Current()->onShow(Current()->boxes.back());
    HWND ok = GetDlgItem(window, IDOK);
    EXPECT_NE(ok, nullptr) << "a box without OK";
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
    return TRUE;
  }
  static void CALLBACK Look(HWND, UINT, UINT_PTR, DWORD) {
    if (Current() != nullptr) EnumThreadWindows(GetCurrentThreadId(), &BoxWatch::Each, 0);
  }

  UINT_PTR timer_ = 0;
};

// While alive, windows of one class (none: no class) cannot be created on
// this thread: CreateWindowEx fails as it does when the system refuses.
class RefuseWindows {
 public:
  explicit RefuseWindows(const wchar_t* windowClass) : class_(windowClass) {
    if (class_ == nullptr) return;
    Current() = this;
    hook_ = SetWindowsHookExW(WH_CBT, &RefuseWindows::Hook, nullptr, GetCurrentThreadId());
    EXPECT_NE(hook_, nullptr);
  }
  ~RefuseWindows() {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    if (Current() == this) Current() = nullptr;
  }
  RefuseWindows(const RefuseWindows&) = delete;
  RefuseWindows& operator=(const RefuseWindows&) = delete;

 private:
  static RefuseWindows*& Current() {
    static RefuseWindows* current = nullptr;
    return current;
  }
  static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_CREATEWND && Current() != nullptr) {
      wchar_t cls[64] = L"";
      GetClassNameW(reinterpret_cast<HWND>(wParam), cls, 64);
      if (lstrcmpiW(cls, Current()->class_) == 0) return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
  }

  const wchar_t* class_;
  HHOOK hook_ = nullptr;
};

// The window with the real form behind it, shown.
class Win32Window {
 public:
  explicit Win32Window(const Win32ViewOptions& options = {}) : view(options), form(view) {
    view.Connect({[this](Control c) { form.Click(c); }, [this] { form.TMRComm_Timer(); },
                  [this] { form.Form_Unload(); }});
    view.Show(SW_SHOWNORMAL);
    Pump(view, 20);
  }

  HWND operator[](Control control) const { return view.Handle(control); }
  // What the operator does: type a field's whole text, click a button.
  void SetField(Control control, const std::string& utf8) {
    const std::wstring text = wintext::Widen(utf8);
    SendMessageW(view.Handle(control), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
  void Click(Control button) {
    SendMessageW(view.Handle(button), BM_CLICK, 0, 0);
    Pump(view, 0);
  }
  std::string Text(Control control) const { return view.Text(control); }
  HWND Focus() const { return GetFocus(); }

  Win32View view;
  frmSerial form;
};

}  // namespace rilvano::test
