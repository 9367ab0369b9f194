// Shared pieces for the tests that drive the real window offscreen: event-loop
// waits, on top of the toolkit-free helpers (captured message boxes, fresh
// working directory, exact file bytes, pseudo-terminal pairs). Header-only;
// link qt_main.cpp for the QApplication.
#pragma once

#include <gtest/gtest.h>

#include <functional>

#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>

#include "tests/support/files.h"
#include "tests/support/form_seam.h"
#include "tests/support/pty.h"

namespace rilvano::test {

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
