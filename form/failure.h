// An unexpected failure: an exception out of a handler or out of the
// start-up. The program does not go on after one, since nothing says what
// state the window and the port are in; it ends, but never silently: port and
// log are let go first (the log keeps everything written and is closed), the
// operator is told why in a critical box, and the exit status is a failure.
// The views only catch and call this.
#pragma once

#include <exception>
#include <functional>

#include "form/MessageBox.h"

namespace rilvano {

class frmSerial;

inline constexpr int kFailureExitStatus = 1;

// "Rilvano", critical, with the reason: the exception's own text.
BoxMessage FailureBox(const std::exception_ptr& failure);

// Ends the work after `failure`. `form` is null when the start-up failed
// before there was one. The box goes to the installed box handler, or else to
// `show`, the view's own box. Returns kFailureExitStatus; throws nothing.
int EndAfterFailure(const std::exception_ptr& failure, frmSerial* form,
                    const std::function<void(const BoxMessage&)>& show);

}  // namespace rilvano
