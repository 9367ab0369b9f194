// Drives the form on the recording view for the shared view cases and the
// form tests.
#pragma once

#include <cstdint>
#include <string>

#include "form/frmSerial.h"
#include "tests/support/form_seam.h"
#include "tests/support/recording_view.h"
#include "tests/support/view_driver.h"

namespace rilvano::test {

// The recording view worked like a window: typing into a disabled box and
// clicking a disabled button do nothing; ticks run only while the timer does.
class RecordingDriver : public ViewDriver {
 public:
  RecordingView view;
  frmSerial window{view};

  frmSerial& form() override { return window; }
  void Type(Control box, const std::string& utf8) override {
    if (view.Enabled(box)) view.SetText(box, utf8);
  }
  void Click(Control button) override {
    if (view.Enabled(button)) window.Click(button);
  }
  std::string Text(Control control) override { return view.Text(control); }
  bool Enabled(Control control) override { return view.Enabled(control); }
  std::uint32_t Lamp() override { return view.LampColor(); }
  // Whole ticks of the running timer; no waiting.
  void RunFor(int ms) override {
    const int step = view.timerInterval > 0 ? view.timerInterval : kTimerIntervalMs;
    for (int t = 0; t < ms && view.TimerRunning(); t += step) window.TMRComm_Timer();
  }
  void Close() override { window.Form_Unload(); }
  std::vector<BoxMessage> BoxesShownDuring(const std::function<void()>& action) override {
    const NoBoxHandler real;
    const std::size_t before = view.boxes.size();
    action();
    return {view.boxes.begin() + static_cast<std::ptrdiff_t>(before), view.boxes.end()};
  }
};

}  // namespace rilvano::test
