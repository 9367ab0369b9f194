// How the shared view cases (tests/form/view_cases.h) work a window: each
// view supplies a driver that goes through its toolkit the way an operator
// would, so one table of cases holds for every view. No toolkit here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "form/controls.h"
#include "form/frmSerial.h"

namespace rilvano::test {

class ViewDriver {
 public:
  virtual ~ViewDriver() = default;

  // The form behind the window, and through it the view.
  virtual frmSerial& form() = 0;
  // Replaces the text of a box by typing `utf8` into it (empty: clears it).
  virtual void Type(Control box, const std::string& utf8) = 0;
  // A real click: a disabled button ignores it.
  virtual void Click(Control button) = 0;
  // What the control shows, UTF-8; panes with LF line breaks.
  virtual std::string Text(Control control) = 0;
  virtual bool Enabled(Control control) = 0;
  // The lamp's fill colour, 0x00BBGGRR.
  virtual std::uint32_t Lamp() = 0;
  // Lets the window run for about `ms` milliseconds: timer ticks included.
  virtual void RunFor(int ms) = 0;
  // Closes the window as the operator would.
  virtual void Close() = 0;
  // The boxes the view itself puts up while `action` runs (no box handler):
  // each found on screen, read as the operator reads it and closed with OK.
  virtual std::vector<BoxMessage> BoxesShownDuring(const std::function<void()>& action) = 0;
  // Sets the most UTF-16 units each pane holds (form/pane_cap.h); false for
  // a view that keeps no cap.
  virtual bool SetPaneCap(std::size_t /*units*/) { return false; }
};

}  // namespace rilvano::test
