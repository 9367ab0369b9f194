// Request handlers and the send sequence.
#include <QLineEdit>
#include <QPlainTextEdit>

#include "modbus/bytes.h"
#include "requests/number.h"
#include "requests/requests.h"
#include "serial/SerialPort.h"
#include "window/frmSerial.h"

namespace rilvano {
namespace {

std::string Field(const QLineEdit* box) { return box->text().toStdString(); }

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

void StepText7(frmSerial& w, double step) {
  w.Text7->setText(QString::fromStdString(NumberText(NumericValue(Field(w.Text7)) + step)));
}

}  // namespace

void frmSerial::SendPacket(QPlainTextEdit* pane, bool closingBreaks) {
  Packet += CRC16(Packet);
  SerialPort::WritePort(Packet);  // a short or failed write is not reported

  AppendPane(pane, NewLine + std::string(kSendHeader));
  for (char byte : Packet) {
    AppendPane(pane, HexPair(static_cast<unsigned char>(byte)) + " ");
  }
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

  Sleep(20);
}

void frmSerial::Command1_Click() {
  if (Accept(*this, WriteRequest(Field(Text1), Field(Text4), Field(Text5), Numbers(*this)))) {
    SendPacket(Text6, false);
  }
}

void frmSerial::Command2_Click() {
  if (Accept(*this, InfoRequest(Field(Text1), Numbers(*this)))) {
    SendPacket(Text2, true);
  }
}

void frmSerial::Command3_Click() {
  if (Accept(*this, ReadRequest(Field(Text1), Field(Text7), Field(Text9), Numbers(*this)))) {
    SendPacket(Text8, false);
  }
}

void frmSerial::Command4_Click() {
  if (Accept(*this, CharWriteRequest(Field(Text1), Field(Text4), Field(Text3), Numbers(*this)))) {
    SendPacket(Text6, false);
  }
}

void frmSerial::Command8_Click() { StepText7(*this, 1); }

void frmSerial::Command9_Click() { StepText7(*this, -1); }

}  // namespace rilvano
