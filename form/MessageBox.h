// The one road every message box of the program takes. The form decides
// title, text and icon; the view puts the box on screen. Tests install a
// handler instead, so that nothing ever waits for a click.
#pragma once

#include <functional>
#include <string>

namespace rilvano {

enum class BoxIcon { None, Critical, Warning };

struct BoxMessage {
  std::string title;  // UTF-8
  std::string text;   // UTF-8, CR LF allowed
  BoxIcon icon = BoxIcon::None;
};

using BoxHandler = std::function<void(const BoxMessage& box)>;

// Replaces the handler; an empty one gives the boxes back to the view.
void SetBoxHandler(BoxHandler handler);

// The handler installed, or an empty one.
const BoxHandler& CurrentBoxHandler();

}  // namespace rilvano
