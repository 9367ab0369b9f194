// The one road every message box of the program takes. The window decides
// title, text and icon; the handler here puts the box on screen. Tests swap
// the handler so that nothing ever waits for a click.
#pragma once

#include <functional>
#include <string>

class QWidget;

namespace rilvano {

enum class BoxIcon { None, Critical, Warning };

struct BoxMessage {
  std::string title;  // UTF-8
  std::string text;   // UTF-8, CR LF allowed
  BoxIcon icon = BoxIcon::None;
};

using BoxHandler = std::function<void(QWidget* parent, const BoxMessage& box)>;

// Replaces the handler; an empty one restores the modal QMessageBox.
void SetBoxHandler(BoxHandler handler);

// Shows one box through the current handler and returns when it is gone.
void ShowMessageBox(QWidget* parent, const BoxMessage& box);

}  // namespace rilvano
