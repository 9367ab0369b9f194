// Request handlers and the send sequence.
#include "window/frmSerial.h"

namespace rilvano {

void frmSerial::SendPacket(QPlainTextEdit*, bool) {}
void frmSerial::Command1_Click() {}
void frmSerial::Command2_Click() {}
void frmSerial::Command3_Click() {}
void frmSerial::Command4_Click() {}
void frmSerial::Command8_Click() {}
void frmSerial::Command9_Click() {}

}  // namespace rilvano
