#include "form/MessageBox.h"

#include <utility>

namespace rilvano {

namespace {

BoxHandler& Handler() {
  static BoxHandler handler;
  return handler;
}

}  // namespace

void SetBoxHandler(BoxHandler handler) { Handler() = std::move(handler); }

const BoxHandler& CurrentBoxHandler() { return Handler(); }

}  // namespace rilvano
