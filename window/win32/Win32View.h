// The window on plain Win32: the controls of controls.h as native child
// windows of one top-level window, UTF-16 throughout, the form's events
// forwarded from one window procedure.
#pragma once

#include <windows.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <string>

#include "form/View.h"
#include "form/pane_cap.h"

namespace rilvano {

// Where the window's events go: the form's click handlers, TMRComm's tick
// and the unload. Empty functions drop the event.
struct Win32Events {
  std::function<void(Control)> click;
  std::function<void()> tick;
  std::function<void()> unload;
};

// How the window is made; the defaults are the program's.
struct Win32ViewOptions {
  HINSTANCE instance = nullptr;
  // Panes on the plain edit control, as where msftedit.dll cannot be loaded.
  bool plainPanes = false;
  // Laid out for this DPI instead of the window's own (0).
  UINT dpi = 0;
};

class Win32View final : public View {
 public:
  // The client area at 96 dpi; it scales with the DPI.
  static constexpr SIZE kClientAt96{398, 700};

  // Creates the window hidden, with every control in its start state.
  explicit Win32View(HINSTANCE instance = nullptr);
  explicit Win32View(const Win32ViewOptions& options);
  // Destroys a window still there, without an unload.
  ~Win32View() override;
  Win32View(const Win32View&) = delete;
  Win32View& operator=(const Win32View&) = delete;

  void Connect(Win32Events events);
  // Shows the window and puts the focus on the first control.
  void Show(int showCommand = SW_SHOWNORMAL);

  // The program's message loop: returns the exit code once the window is
  // gone.
  int Run();
  // An exception a form event threw is kept until the window procedure has
  // returned to the loop; this throws it there.
  void ThrowPending();

  // Keyboard navigation between the controls (Tab, Shift+Tab and the dialog
  // keys); true when the message was used up. Every loop that pumps this
  // window's messages calls it before TranslateMessage.
  bool PreTranslate(MSG& msg);

  HWND Window() const { return window_; }
  // False when the panes are plain edit controls.
  bool RichPanes() const { return richPanes_; }
  HWND Handle(Control control) const { return controls_[Index(control)]; }
  static int ControlId(Control control) { return kFirstId + static_cast<int>(control); }

  // Most UTF-16 units a pane holds; beyond it the oldest lines give way
  // (form/pane_cap.h).
  std::size_t PaneLimit() const { return paneLimit_; }
  void SetPaneLimit(std::size_t units);
  static constexpr std::size_t kDefaultPaneLimit = pane::kCap;
  static constexpr std::size_t kWinePaneLimit = pane::kWineCap;

  // ---- View
  std::string Text(Control control) const override;
  void SetText(Control control, const std::string& utf8) override;
  void Append(Control pane, const std::string& utf8) override;
  bool Enabled(Control control) const override;
  void SetEnabled(Control control, bool enabled) override;
  std::uint32_t LampColor() const override { return lampColor_; }
  void SetLampColor(std::uint32_t bgr) override;
  void ShowBox(const BoxMessage& box) override;
  // The same box over any window, or over none (start-up).
  static void ShowBoxOver(HWND owner, const BoxMessage& box);
  void StartTimer(int intervalMs) override;
  void StopTimer() override;
  bool TimerRunning() const override { return timerRunning_; }
  LocalTime Now() const override;
  std::string GeneralDate(const LocalTime& moment) const override;

 private:
  static constexpr int kFirstId = 100;
  static constexpr UINT_PTR kTimerId = 1;
  static std::size_t Index(Control control) { return static_cast<std::size_t>(control); }
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND CreateControl(const ControlInfo& info);
  void CreateControls();
  void ApplyDpi(UINT dpi);
  void Layout();
  SIZE MinimumClientSize() const { return LeastClientSize(font_); }
  SIZE LeastClientSize(HFONT font) const;
  HFONT FittingFont() const;
  void MoveFocus(HWND from, bool backwards);
  HWND FocusTarget() const;
  void KeepFocus(HWND focus);
  void Trim(HWND pane, std::wstring& addition);
  void SetUpPane(HWND pane, bool wraps);
  std::size_t PaneLength(HWND pane) const;
  std::wstring PaneUnits(HWND pane) const;
  void PaintLamp(const DRAWITEMSTRUCT& item) const;
  void Close();
  // Runs one event of the form; ticks that fall due meanwhile are dropped.
  void Dispatch(const std::function<void()>& call);
  std::wstring Units(Control control) const;

  HINSTANCE instance_ = nullptr;
  bool richPanes_ = false;
  HWND window_ = nullptr;
  HWND tooltip_ = nullptr;
  std::array<HWND, kControlCount> controls_{};
  HFONT font_ = nullptr;
  UINT dpi_ = 96;
  UINT forcedDpi_ = 0;
  Win32Events events_;
  std::uint32_t lampColor_ = 0x00C0C0C0;  // light grey until the first tick
  bool timerRunning_ = false;
  int busy_ = 0;             // form events and boxes under way
  bool closePending_ = false;
  bool unloaded_ = false;
  bool quitOnDestroy_ = false;
  HWND lastFocus_ = nullptr;
  std::size_t paneLimit_ = kDefaultPaneLimit;
  std::exception_ptr failure_;
};

}  // namespace rilvano
