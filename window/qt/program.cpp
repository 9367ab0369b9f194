#include "window/qt/program.h"

#include <QApplication>

#include <exception>

#include "form/failure.h"
#include "window/qt/QtView.h"

namespace rilvano {

int RunProgram() {
  std::exception_ptr failure;
  try {
    QtView window;
    window.show();
    // A failure in a handler is handled in the window and ends the loop with
    // the failure status.
    return QApplication::exec();
  } catch (...) {
    failure = std::current_exception();
  }
  return EndAfterFailure(failure, nullptr, [](const BoxMessage& box) { QtView::ShowBoxOver(nullptr, box); });
}

}  // namespace rilvano
