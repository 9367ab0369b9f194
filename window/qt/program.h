// The program's whole run on Qt, in a library so that tests can run it.
#pragma once

namespace rilvano {

// Makes the window, shows it and runs the event loop of the QApplication
// already made; returns the exit status. An unexpected failure, at start-up
// or in a handler, ends the run through EndAfterFailure (form/failure.h).
int RunProgram();

}  // namespace rilvano
