// A view without a toolkit: it keeps every control's text and state in
// memory, records the calls the form makes, reads a clock the test sets, and
// ticks only when the test says so. Handler tests run on it with no display.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "form/View.h"

namespace rilvano::test {

class RecordingView : public View {
 public:
  RecordingView() {
    for (const ControlInfo& c : kControls) {
      State& s = state_[Index(c.id)];
      s.text = std::string(c.text);
      s.enabled = c.enabled;
    }
  }

  // Every call that changes something, in order: "SetText Text2", "Append
  // Text8", "SetEnabled Command1 1", "StartTimer 10", "StopTimer", "ShowBox".
  std::vector<std::string> calls;
  // Boxes that reached the view (no handler was installed).
  std::vector<BoxMessage> boxes;
  // What Now() reads.
  LocalTime clock{2026, 12, 7, 9, 5, 3, 7};
  int timerInterval = 0;

  std::string Text(Control control) const override { return state_[Index(control)].text; }
  void SetText(Control control, const std::string& utf8) override {
    calls.push_back("SetText " + Name(control));
    state_[Index(control)].text = IsPane(control) ? Lf(utf8) : utf8;
  }
  void Append(Control pane, const std::string& utf8) override {
    calls.push_back("Append " + Name(pane));
    state_[Index(pane)].text += Lf(utf8);
  }
  bool Enabled(Control control) const override { return state_[Index(control)].enabled; }
  void SetEnabled(Control control, bool enabled) override {
    calls.push_back("SetEnabled " + Name(control) + (enabled ? " 1" : " 0"));
    state_[Index(control)].enabled = enabled;
  }
  std::uint32_t LampColor() const override { return lamp_; }
  void SetLampColor(std::uint32_t bgr) override { lamp_ = bgr & 0x00FFFFFFu; }
  void ShowBox(const BoxMessage& box) override {
    calls.push_back("ShowBox");
    boxes.push_back(box);
  }
  void StartTimer(int intervalMs) override {
    calls.push_back("StartTimer " + std::to_string(intervalMs));
    timerInterval = intervalMs;
    timerRunning_ = true;
  }
  void StopTimer() override {
    calls.push_back("StopTimer");
    timerRunning_ = false;
  }
  bool TimerRunning() const override { return timerRunning_; }
  LocalTime Now() const override { return clock; }
  // dd.mm.yyyy h:mm:ss, the date alone at midnight.
  std::string GeneralDate(const LocalTime& t) const override {
    char text[64];
    std::snprintf(text, sizeof text, "%02d.%02d.%04d", t.day, t.month, t.year);
    std::string out = text;
    if (t.hour == 0 && t.minute == 0 && t.second == 0) return out;
    std::snprintf(text, sizeof text, " %d:%02d:%02d", t.hour, t.minute, t.second);
    return out + text;
  }

  static std::string Name(Control control) { return std::string(InfoOf(control).name); }

 private:
  struct State {
    std::string text;
    bool enabled = true;
  };
  static std::size_t Index(Control control) { return static_cast<std::size_t>(control); }
  static bool IsPane(Control control) { return InfoOf(control).kind == ControlKind::Pane; }
  // Panes report line breaks as LF.
  static std::string Lf(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
      if (utf8[i] == '\r' && i + 1 < utf8.size() && utf8[i + 1] == '\n') continue;
      out += utf8[i];
    }
    return out;
  }

  std::array<State, kControlCount> state_{};
  std::uint32_t lamp_ = 0x00C0C0C0;  // light grey until the first tick
  bool timerRunning_ = false;
};

}  // namespace rilvano::test
