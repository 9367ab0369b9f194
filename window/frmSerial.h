// The main window: controls named as the operator's manual names them, the
// window variables the handlers share, and the handlers themselves. Handlers
// read fields as text, call the core, and write panes and the log.
#pragma once

#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "window/MessageBox.h"

class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTimer;

namespace rilvano {

class LogFileWriter;
class Lamp;

class frmSerial : public QWidget {
  Q_OBJECT

 public:
  explicit frmSerial(QWidget* parent = nullptr);
  ~frmSerial() override;

  // ---- controls (object names match these, "txt(0)" and "Label1(0)" for the arrays)
  QGroupBox* Frame1 = nullptr;
  QGroupBox* Frame2 = nullptr;
  QGroupBox* Frame3 = nullptr;
  QGroupBox* Frame4 = nullptr;
  QLabel* Label1_0 = nullptr;
  QLabel* Label2 = nullptr;
  QLabel* Label3 = nullptr;
  QLabel* Label4 = nullptr;
  QLabel* Label5 = nullptr;
  QLabel* Label6 = nullptr;
  QLabel* Label7 = nullptr;
  QLabel* Label8 = nullptr;
  QLineEdit* txt_0 = nullptr;
  QLineEdit* Text1 = nullptr;
  QLineEdit* Text3 = nullptr;
  QLineEdit* Text4 = nullptr;
  QLineEdit* Text5 = nullptr;
  QLineEdit* Text7 = nullptr;
  QLineEdit* Text9 = nullptr;
  QLineEdit* Text10 = nullptr;
  QPlainTextEdit* Text2 = nullptr;
  QPlainTextEdit* Text6 = nullptr;
  QPlainTextEdit* Text8 = nullptr;
  QPushButton* BTNOpenCom = nullptr;
  QPushButton* BTNCloseCom = nullptr;
  QPushButton* Command1 = nullptr;
  QPushButton* Command2 = nullptr;
  QPushButton* Command3 = nullptr;
  QPushButton* Command4 = nullptr;
  QPushButton* Command5 = nullptr;
  QPushButton* Command6 = nullptr;
  QPushButton* Command7 = nullptr;
  QPushButton* Command8 = nullptr;
  QPushButton* Command9 = nullptr;
  Lamp* Pic = nullptr;
  QTimer* TMRComm = nullptr;

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
  // Appends UTF-8 text (CR LF is a line break) at the end of a pane; costs the
  // length of the addition, not of the pane.
  void AppendPane(QPlainTextEdit* pane, const std::string& utf8);
  // The pane's text as UTF-8, line breaks as the toolkit reports them.
  static std::string PaneText(const QPlainTextEdit* pane);
  // Log writes: a whole line (text + CR LF), or an open-ended item.
  void LogLine(const std::string& utf8);
  void LogItem(const std::string& utf8);
  // Every message box goes through here; holds TMRComm while a box is up.
  using BoxIcon = rilvano::BoxIcon;
  void ShowBox(const std::string& title, const std::string& text, BoxIcon icon);
  // The lamp's fill colour, 0x00BBGGRR.
  std::uint32_t PicFillColor() const;
  void SetPicFillColor(std::uint32_t color);
  // Blocks the window's thread, as the handlers require.
  static void Sleep(int milliseconds);
  // Send sequence: CRC, write, echo, log, 20 ms pause.
  void SendPacket(QPlainTextEdit* pane, bool closingBreaks);

 public slots:
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

 protected:
  void closeEvent(class QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void InterpretReply(const std::string& packet);

  std::unique_ptr<LogFileWriter> log_;
  bool logFailureReported_ = false;
  bool unloaded_ = false;
  // Every control in creation order: the order SwitchTags walks.
  std::vector<QWidget*> controls_;
  // Empty spot in Frame3's layout that Text8 (a child of the window) covers.
  QWidget* text8Slot_ = nullptr;

  template <class W>
  W* Control(W* widget, const char* name, const char* tag = "");
  void BuildLayout();
  void PlaceOverlays();
  void WriteLog(const std::string& utf8, bool endLine);
};

}  // namespace rilvano
