// The one seam between the handlers and a toolkit. A view builds the controls
// of controls.h, forwards clicks, timer ticks and closing to the form, and
// answers the calls below; it holds no behaviour of its own.
#pragma once

#include <cstdint>
#include <string>

#include "form/MessageBox.h"
#include "form/controls.h"

namespace rilvano {

// A reading of the local clock.
struct LocalTime {
  int year = 0;
  int month = 0;   // 1..12
  int day = 0;     // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
};

class View {
 public:
  virtual ~View() = default;

  // Text of a box or a pane, UTF-8. Panes report line breaks as LF.
  virtual std::string Text(Control control) const = 0;
  // Replaces the text of a box or a pane; in a pane CR LF is a line break.
  virtual void SetText(Control control, const std::string& utf8) = 0;
  // Adds to the end of a pane and shows the end. CR LF is a line break; the
  // form never passes byte 0. Costs the addition, not the pane.
  virtual void Append(Control pane, const std::string& utf8) = 0;

  virtual bool Enabled(Control control) const = 0;
  virtual void SetEnabled(Control control, bool enabled) = 0;

  // The lamp's fill colour, 0x00BBGGRR.
  virtual std::uint32_t LampColor() const = 0;
  virtual void SetLampColor(std::uint32_t bgr) = 0;

  // A modal box with an OK button; returns when the operator closed it.
  virtual void ShowBox(const BoxMessage& box) = 0;

  // TMRComm: ticks reach frmSerial::TMRComm_Timer on the window's thread.
  virtual void StartTimer(int intervalMs) = 0;
  virtual void StopTimer() = 0;
  virtual bool TimerRunning() const = 0;

  virtual LocalTime Now() const = 0;
  // The locale's general date form of a moment: short date, a blank, long
  // time; the date alone at midnight.
  virtual std::string GeneralDate(const LocalTime& moment) const = 0;
};

}  // namespace rilvano
