// rilvano.exe's whole run, in a library so that tests can run it in process.
#pragma once

#include "window/win32/Win32View.h"

namespace rilvano {

// Makes the window and the form behind it, shows it and runs the message
// loop; returns the exit status. An unexpected failure, at start-up or in a
// handler, ends the run through EndAfterFailure (form/failure.h).
int RunProgram(const Win32ViewOptions& options, int showCommand);

}  // namespace rilvano
