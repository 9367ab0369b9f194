// What a test sees at the form's seams, for every view: captured message
// boxes, and a composed text as a pane shows it. No toolkit.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "form/MessageBox.h"

namespace rilvano::test {

// Captures every message box while alive; gives the boxes back to the view
// after. `onShow` runs while the "box is up", e.g. to look at the timer.
class BoxCapture {
 public:
  BoxCapture() {
    SetBoxHandler([this](const BoxMessage& box) {
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

// No handler while alive: the boxes reach the view's own, real box. The
// handler that was installed comes back after.
class NoBoxHandler {
 public:
  NoBoxHandler() : saved_(CurrentBoxHandler()) { SetBoxHandler(nullptr); }
  ~NoBoxHandler() { SetBoxHandler(saved_); }
  NoBoxHandler(const NoBoxHandler&) = delete;
  NoBoxHandler& operator=(const NoBoxHandler&) = delete;

 private:
  BoxHandler saved_;
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

}  // namespace rilvano::test
