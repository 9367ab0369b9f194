// The shared operations, connection control, the log and the click dispatch.
#include "form/frmSerial.h"

#include <chrono>
#include <thread>

#include "form/logfile.h"
#include "serial/SerialPort.h"

namespace rilvano {

namespace {

constexpr char kTitle[] = "Rilvano";
constexpr char kHeaderLine[] = "START Rilvano V3.0";

}  // namespace

frmSerial::frmSerial(View& view) : view_(view), log_(std::make_unique<LogFileWriter>()) {
  SerialPort::SetMessageSink([this](const std::string& text) { ShowBox(kTitle, text, BoxIcon::None); });
}

frmSerial::~frmSerial() {
  SerialPort::SetMessageSink(nullptr);
  // A window torn down without being closed still lets go of port and log.
  if (!unloaded_) Form_Unload();
}

// ---- shared operations

void frmSerial::SwitchTags() {
  for (const ControlInfo& control : kControls) {
    if (!control.tag.empty()) view_.SetEnabled(control.id, !view_.Enabled(control.id));
  }
}

std::string frmSerial::TimeStamp() const {
  const LocalTime now = view_.Now();
  return FormatTimeStamp(now.hour, now.minute, now.second, now.millisecond);
}

void frmSerial::AppendPane(Control pane, const std::string& utf8) {
  if (utf8.empty()) return;
  // A NUL would end the text in many places; show its visible symbol.
  std::string text;
  text.reserve(utf8.size());
  for (char c : utf8) {
    if (c == '\0') {
      text += "\xE2\x90\x80";
    } else {
      text += c;
    }
  }
  view_.Append(pane, text);
}

void frmSerial::LogLine(const std::string& utf8) { WriteLog(utf8, true); }

void frmSerial::LogItem(const std::string& utf8) { WriteLog(utf8, false); }

void frmSerial::WriteLog(const std::string& utf8, bool endLine) {
  if (!log_->IsOpen()) return;
  LogError error;
  const bool ok = endLine ? log_->WriteLine(utf8, error) : log_->WriteItem(utf8, error);
  if (ok || logFailureReported_) return;
  // Once per run: the operator learns the log is incomplete, work goes on.
  logFailureReported_ = true;
  ShowBox(kTitle, error.description + "\r\nЖурнал этого сеанса будет неполным; работа продолжается.",
          BoxIcon::Warning);
}

void frmSerial::ShowBox(const std::string& title, const std::string& text, BoxIcon icon) {
  // A modal box runs a nested event loop: no tick may slip in while it is up.
  const bool running = view_.TimerRunning();
  view_.StopTimer();
  const BoxMessage box{title, text, icon};
  // A copy, so a handler may replace itself while it runs.
  const BoxHandler handler = CurrentBoxHandler();
  if (handler) {
    handler(box);
  } else {
    view_.ShowBox(box);
  }
  if (running) view_.StartTimer(kTimerIntervalMs);
}

void frmSerial::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- click dispatch

void frmSerial::Click(Control control) {
  switch (control) {
    case Control::BTNOpenCom: BTNOpenCom_Click(); break;
    case Control::BTNCloseCom: BTNCloseCom_Click(); break;
    case Control::Command1: Command1_Click(); break;
    case Control::Command2: Command2_Click(); break;
    case Control::Command3: Command3_Click(); break;
    case Control::Command4: Command4_Click(); break;
    case Control::Command5: Command5_Click(); break;
    case Control::Command6: Command6_Click(); break;
    case Control::Command7: Command7_Click(); break;
    case Control::Command8: Command8_Click(); break;
    case Control::Command9: Command9_Click(); break;
    default: break;
  }
}

// ---- connection control

void frmSerial::BTNOpenCom_Click() {
  NewLine = "\r\n";
  // A log left open by a failed header write is let go before reopening.
  log_->Close();
  LogFile = 1;
  logFailureReported_ = false;

  LogError error;
  if (!log_->Open(LogFileName(view_.Text(Control::txt_0)), error)) {
    ShowBox("Error#" + std::to_string(error.number), error.description, BoxIcon::Critical);
    return;
  }
  StartTime = view_.GeneralDate(view_.Now());
  if (!log_->WriteLine(StartTime, error) || !log_->WriteLine(kHeaderLine, error) || !log_->WriteLine("", error)) {
    ShowBox("Error#" + std::to_string(error.number), error.description, BoxIcon::Critical);
    return;
  }

  const std::string port = view_.Text(Control::txt_0);
  const std::string settings = view_.Text(Control::Text10) + ",n,8,1";
  SerialPort::OpenPort(port, settings);
  SwitchTags();
  view_.StartTimer(kTimerIntervalMs);
  Sleep(200);
}

void frmSerial::BTNCloseCom_Click() {
  view_.StopTimer();
  view_.SetText(Control::Text2, "");
  SerialPort::ClosePort();
  SwitchTags();
  log_->Close();
}

void frmSerial::Form_Unload() {
  unloaded_ = true;
  log_->Close();
  SerialPort::ClosePort();
}

// ---- clear buttons

void frmSerial::Command5_Click() { view_.SetText(Control::Text6, ""); }
void frmSerial::Command6_Click() { view_.SetText(Control::Text8, ""); }
void frmSerial::Command7_Click() { view_.SetText(Control::Text2, ""); }

}  // namespace rilvano
