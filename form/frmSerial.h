// The main window's behaviour: the window variables the handlers share and
// the handlers themselves. Handlers read fields as text through the view,
// call the core, and write panes and the log. No toolkit here: a view builds
// the controls and forwards clicks, ticks and closing.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "form/View.h"

namespace rilvano {

class LogFileWriter;

class frmSerial {
 public:
  explicit frmSerial(View& view);
  ~frmSerial();
  frmSerial(const frmSerial&) = delete;
  frmSerial& operator=(const frmSerial&) = delete;

  // ---- window variables
  std::string NewLine;     // CR LF from the first Open on
  std::int16_t LogFile = 0;
  std::string StartTime;   // UTF-8
  std::string Packet;      // a byte string in the senders, UTF-8 display text in the tick
  double NumValue = 0;
  double Word1Hi = 0;
  double Word1Lo = 0;
  double Word2Hi = 0;
  double Word2Lo = 0;

  // ---- operations shared by the handlers
  void SwitchTags();
  std::string TimeStamp() const;
  // Appends UTF-8 text (CR LF is a line break) at the end of a pane.
  void AppendPane(Control pane, const std::string& utf8);
  // Log writes: a whole line (text + CR LF), or an open-ended item.
  void LogLine(const std::string& utf8);
  void LogItem(const std::string& utf8);
  // Every message box goes through here; holds TMRComm while a box is up.
  void ShowBox(const std::string& title, const std::string& text, BoxIcon icon);
  // Blocks the window's thread, as the handlers require.
  static void Sleep(int milliseconds);
  // Send sequence: CRC, write, echo, log, 20 ms pause.
  void SendPacket(Control pane, bool closingBreaks);

  // ---- events from the view
  // A click on `control`; controls without a handler are ignored.
  void Click(Control control);
  void BTNOpenCom_Click();
  void BTNCloseCom_Click();
  void Form_Unload();
  void Command1_Click();
  void Command2_Click();
  void Command3_Click();
  void Command4_Click();
  void Command5_Click();
  void Command6_Click();
  void Command7_Click();
  void Command8_Click();
  void Command9_Click();
  void TMRComm_Timer();

  View& view() const { return view_; }

 private:
  void InterpretReply(const std::string& packet);
  void WriteLog(const std::string& utf8, bool endLine);
  void StepText7(double step);

  View& view_;
  std::unique_ptr<LogFileWriter> log_;
  bool logFailureReported_ = false;
  bool unloaded_ = false;
};

}  // namespace rilvano
