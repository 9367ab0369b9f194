// Drives the real Win32 window in process, the way the system delivers input:
// messages to the controls (WM_SETTEXT, BM_CLICK, WM_CHAR, keystrokes) and the
// window's own message loop for the timer and everything queued.
#pragma once

#include <gtest/gtest.h>

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

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
