// Request handlers and the send sequence.
#include <algorithm>
#include <cmath>

#include "form/frmSerial.h"
#include "modbus/bytes.h"
#include "requests/number.h"
#include "requests/requests.h"
#include "serial/SerialPort.h"

namespace rilvano {
namespace {

RequestNumbers Numbers(const frmSerial& w) {
  return {w.NumValue, w.Word1Hi, w.Word1Lo, w.Word2Hi, w.Word2Lo};
}

// Takes a built request into the window variables, or refuses it with one box
// and leaves everything as it was.
bool Accept(frmSerial& w, const Request& r) {
  if (r.Refused()) {
    w.ShowBox(std::string(kRefusalTitle), r.refusal, BoxIcon::Warning);
    return false;
  }
  w.NumValue = r.numbers.NumValue;
  w.Word1Hi = r.numbers.Word1Hi;
  w.Word1Lo = r.numbers.Word1Lo;
  w.Word2Hi = r.numbers.Word2Hi;
  w.Word2Lo = r.numbers.Word2Lo;
  w.Packet = r.body;
  return true;
}

// A frame the port did not take whole must not read as sent, in the pane or
// in the log the operator keeps as a record; "" when it went out.
std::string NotSentText(std::size_t written, std::size_t size) {
  if (written >= size) return {};
  std::string text = "Пакет не отправлен";
  if (SerialPort::PortHandle == comm::kInvalidHandle) {
    text += ": порт не открыт";
  } else if (written > 0) {
    text += ": передано " + std::to_string(written) + " из " + std::to_string(size) + " байт";
  }
  if (const std::uint32_t error = SerialPort::LastError(); error != 0) {
    text += " (ошибка " + std::to_string(error) + ")";
  }
  return text;
}

}  // namespace

void frmSerial::StepText7(double step) {
  const double next = NumericValue(view_.Text(Control::Text7)) + step;
  // " Inf" or " NaN" would read back as 0 and silently address register 0;
  // the field keeps its text, and Read still refuses it.
  if (!std::isfinite(next)) return;
  view_.SetText(Control::Text7, NumberText(next));
}

void frmSerial::SendPacket(Control pane, bool closingBreaks) {
  Packet += CRC16(Packet);
  // Nothing is retried; the echo below still shows the frame that was tried.
  const auto written = static_cast<std::size_t>(std::max<int>(0, SerialPort::WritePort(Packet)));
  const std::string notSent = NotSentText(written, Packet.size());

  AppendPane(pane, NewLine + std::string(kSendHeader));
  for (char byte : Packet) {
    AppendPane(pane, HexPair(static_cast<unsigned char>(byte)) + " ");
  }
  if (!notSent.empty()) AppendPane(pane, NewLine + notSent);
  if (closingBreaks) {
    AppendPane(pane, NewLine);
    AppendPane(pane, NewLine);
  }

  LogLine(TimeStamp());
  LogItem(std::string(kSendHeader));
  for (char byte : Packet) {
    LogItem(HexPair(static_cast<unsigned char>(byte)) + " ");
  }
  LogLine("");
  if (!notSent.empty()) LogLine(notSent);

  Sleep(20);
}

void frmSerial::Command1_Click() {
  const View& v = view_;
  if (Accept(*this, WriteRequest(v.Text(Control::Text1), v.Text(Control::Text4), v.Text(Control::Text5),
                                 Numbers(*this)))) {
    SendPacket(Control::Text6, false);
  }
}

void frmSerial::Command2_Click() {
  if (Accept(*this, InfoRequest(view_.Text(Control::Text1), Numbers(*this)))) {
    SendPacket(Control::Text2, true);
  }
}

void frmSerial::Command3_Click() {
  const View& v = view_;
  if (Accept(*this, ReadRequest(v.Text(Control::Text1), v.Text(Control::Text7), v.Text(Control::Text9),
                                Numbers(*this)))) {
    SendPacket(Control::Text8, false);
  }
}

void frmSerial::Command4_Click() {
  const View& v = view_;
  if (Accept(*this, CharWriteRequest(v.Text(Control::Text1), v.Text(Control::Text4), v.Text(Control::Text3),
                                     Numbers(*this)))) {
    SendPacket(Control::Text6, false);
  }
}

void frmSerial::Command8_Click() { StepText7(1); }

void frmSerial::Command9_Click() { StepText7(-1); }

}  // namespace rilvano
