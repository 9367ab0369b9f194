// The receive poller: one read per tick, raw block, address filter, decoding.
#include "form/frmSerial.h"
#include "receive/reply.h"
#include "serial/SerialPort.h"

namespace rilvano {
namespace {

constexpr std::uint32_t kWhite = 0xFFFFFF;
constexpr std::uint32_t kGrey = 0x808080;
constexpr std::uint32_t kRed = 0x0000FF;

}  // namespace

void frmSerial::TMRComm_Timer() {
  const std::string received = SerialPort::ReadPort();

  // The lamp holds the blink state itself.
  view_.SetLampColor(view_.LampColor() == kWhite ? kGrey : kWhite);
  if (received.empty()) return;

  view_.SetLampColor(kRed);
  SerialPort::FlushPort();
  Packet = receive::RawBlock(received);
  AppendPane(Control::Text2, Packet);
  LogLine(TimeStamp());
  LogLine(Packet);
  SerialPort::FlushPort();

  // Read when the packet arrives, not when the request went out.
  if (!receive::FromAddressedSlave(view_.Text(Control::Text1), received)) return;
  InterpretReply(received);
}

void frmSerial::InterpretReply(const std::string& packet) {
  const receive::Reply reply = receive::Interpret(packet, Word1Hi);
  switch (reply.kind) {
    case receive::ReplyKind::Exception:
      LogLine(reply.text);
      AppendPane(Control::Text2, reply.paneAddition);
      break;
    case receive::ReplyKind::WriteEcho:
    case receive::ReplyKind::ReadReply:
      Packet = reply.text;
      AppendPane(reply.kind == receive::ReplyKind::WriteEcho ? Control::Text6 : Control::Text8, reply.paneAddition);
      LogLine(Packet);
      break;
    case receive::ReplyKind::Ignored:
    case receive::ReplyKind::TooShort:
      break;
  }
  SerialPort::FlushPort();
}

}  // namespace rilvano
