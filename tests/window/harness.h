// Shared pieces for the tests that drive the real window offscreen: captured
// message boxes and event-loop waits, on top of the Qt-free helpers (fresh
// working directory, exact file bytes, pseudo-terminal pairs). Header-only;
// link qt_main.cpp for the QApplication.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "tests/support/files.h"
#include "tests/support/pty.h"
#include "window/MessageBox.h"

namespace rilvano::test {

// Captures every message box while alive; restores the real boxes after.
// `onShow` runs while the "box is up", e.g. to look at the timer.
class BoxCapture {
 public:
  BoxCapture() {
    SetBoxHandler([this](QWidget*, const BoxMessage& box) {
      boxes.push_back(box);
      if (onShow) onShow(box);
    });
  }
  ~BoxCapture() { SetBoxHandler(nullptr); }
  BoxCapture(const BoxCapture&) = delete;
  BoxCapture& operator=(const BoxCapture&) = delete;

  std::vector<BoxMessage> boxes;
  std::function<void(const BoxMessage&)> onShow;
};

// A composed text as a pane shows it: line breaks as LF, byte 0 as U+2400.
inline std::string PaneView(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '\r') continue;
    out += c == '\0' ? std::string("\xE2\x90\x80") : std::string(1, c);
  }
  return out;
}

// Runs the event loop until `done()` holds or `timeoutMs` passes.
inline bool ProcessEventsUntil(const std::function<bool()>& done, int timeoutMs = 5000) {
  QElapsedTimer clock;
  clock.start();
  while (!done()) {
    if (clock.elapsed() > timeoutMs) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
  }
  return true;
}

// Runs the event loop for about `ms` milliseconds (timer ticks, repaints).
inline void ProcessEventsFor(int ms) { ProcessEventsUntil([] { return false; }, ms); }

}  // namespace rilvano::test
