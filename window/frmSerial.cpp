// The window itself: controls, layout, the shared operations, connection
// control and the log.
#include "window/frmSerial.h"

#include <QCloseEvent>
#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTextCursor>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

#include <chrono>
#include <iterator>
#include <thread>

#include "serial/SerialPort.h"
#include "window/Lamp.h"
#include "window/logfile.h"
#include "window/timetext.h"

namespace rilvano {

namespace {

constexpr char kTitle[] = "Rilvano";
constexpr char kCaption[] = "Rilvano  v3.2";
constexpr char kHeaderLine[] = "START Rilvano V3.0";

QString Q(const char* utf8) { return QString::fromUtf8(utf8); }

void FixWidthFor(QLineEdit* box, const char* sample) {
  box->setFixedWidth(box->fontMetrics().horizontalAdvance(Q(sample)) + 10);
}

void SetupPane(QPlainTextEdit* pane, bool wrap) {
  pane->setTabChangesFocus(true);
  // Panes can grow to megabytes; an undo copy of every addition is not wanted.
  pane->setUndoRedoEnabled(false);
  pane->setLineWrapMode(wrap ? QPlainTextEdit::WidgetWidth : QPlainTextEdit::NoWrap);
  pane->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  pane->setHorizontalScrollBarPolicy(wrap ? Qt::ScrollBarAlwaysOff : Qt::ScrollBarAlwaysOn);
}

}  // namespace

template <class W>
W* frmSerial::Control(W* widget, const char* name, const char* tag) {
  widget->setObjectName(Q(name));
  widget->setAccessibleName(Q(name));
  widget->setProperty("Tag", Q(tag));
  controls_.push_back(widget);
  return widget;
}

frmSerial::frmSerial(QWidget* parent) : QWidget(parent), log_(std::make_unique<LogFileWriter>()) {
  setObjectName(QStringLiteral("frmSerial"));
  setWindowTitle(Q(kCaption));

  Frame2 = Control(new QGroupBox(Q("Comm's"), this), "Frame2");
  Label1_0 = Control(new QLabel(Q("Port: (1-9)"), Frame2), "Label1(0)");
  txt_0 = Control(new QLineEdit(Q("COM3:"), Frame2), "txt(0)", "NO");
  Label8 = Control(new QLabel(Q("Скор."), Frame2), "Label8");
  Text10 = Control(new QLineEdit(Q("9600"), Frame2), "Text10");
  BTNOpenCom = Control(new QPushButton(Q("Открыть"), Frame2), "BTNOpenCom", "NO");
  BTNCloseCom = Control(new QPushButton(Q("Закрыть"), Frame2), "BTNCloseCom", "NC");
  Label2 = Control(new QLabel(Q("Адрес"), Frame2), "Label2");
  Text1 = Control(new QLineEdit(Q("1"), Frame2), "Text1");
  Pic = Control(new Lamp(Frame2), "Pic");

  Frame1 = Control(new QGroupBox(Q("Запись данных в ячейку  (Func 06)"), this), "Frame1");
  Label3 = Control(new QLabel(Q("Адрес ячейки 0-255"), Frame1), "Label3");
  Text4 = Control(new QLineEdit(Q("0"), Frame1), "Text4");
  Label5 = Control(new QLabel(Q("Данные 0-65535"), Frame1), "Label5");
  Text5 = Control(new QLineEdit(Q("0"), Frame1), "Text5");
  Command1 = Control(new QPushButton(Q("Запись"), Frame1), "Command1", "NC");
  Label4 = Control(new QLabel(Q("Данные 2симв. 0-9;a-z; A-Z"), Frame1), "Label4");
  Text3 = Control(new QLineEdit(Q("AB"), Frame1), "Text3");
  Command4 = Control(new QPushButton(Q("Запись"), Frame1), "Command4", "NC");
  Command5 = Control(new QPushButton(Q("CLR"), Frame1), "Command5");
  Text6 = Control(new QPlainTextEdit(Frame1), "Text6");

  Frame3 = Control(new QGroupBox(Q("Чтение ячейки (Func 03)"), this), "Frame3");
  Label6 = Control(new QLabel(Q("Адрес ячейки 0-255"), Frame3), "Label6");
  Text7 = Control(new QLineEdit(Q("0"), Frame3), "Text7");
  Command8 = Control(new QPushButton(Q("+"), Frame3), "Command8");
  Command9 = Control(new QPushButton(Q("-"), Frame3), "Command9");
  Label7 = Control(new QLabel(Q("Кол-во: 1-8"), Frame3), "Label7");
  Text9 = Control(new QLineEdit(Q("1"), Frame3), "Text9");
  Command3 = Control(new QPushButton(Q("Чтение"), Frame3), "Command3", "NC");
  Command6 = Control(new QPushButton(Q("CLR"), Frame3), "Command6");
  // The read pane belongs to the window; it only covers a spot in Frame3.
  Text8 = Control(new QPlainTextEdit(this), "Text8");

  Frame4 = Control(new QGroupBox(Q("Информация"), this), "Frame4");
  Command2 = Control(new QPushButton(Q("Запрос информации оь устройстве"), Frame4), "Command2", "NC");
  Command7 = Control(new QPushButton(Q("CLR"), Frame4), "Command7");
  Text2 = Control(new QPlainTextEdit(Frame4), "Text2");

  Text9->setToolTip(Q("Сколько ячеек читаем"));
  SetupPane(Text6, false);
  SetupPane(Text8, false);
  SetupPane(Text2, true);
  for (QPushButton* b : {BTNCloseCom, Command1, Command2, Command3, Command4}) b->setEnabled(false);
  for (QPushButton* b : {BTNOpenCom, BTNCloseCom, Command1, Command2, Command3, Command4, Command5,
                         Command6, Command7, Command8, Command9}) {
    b->setAutoDefault(false);
  }

  BuildLayout();

  QWidget* const chain[] = {txt_0,    BTNOpenCom, BTNCloseCom, Text1,    Text4,    Text5,
                            Command1, Text6,      Text7,       Command3, Text8,    Command5,
                            Command6, Command2,   Command7,    Text2,    Text3,    Command4,
                            Command8, Command9,   Text9,       Text10};
  for (std::size_t i = 0; i + 1 < std::size(chain); ++i) setTabOrder(chain[i], chain[i + 1]);
  txt_0->setFocus(Qt::OtherFocusReason);

  TMRComm = new QTimer(this);
  TMRComm->setObjectName(QStringLiteral("TMRComm"));
  TMRComm->setInterval(10);
  TMRComm->setTimerType(Qt::PreciseTimer);
  connect(TMRComm, &QTimer::timeout, this, &frmSerial::TMRComm_Timer);

  connect(BTNOpenCom, &QPushButton::clicked, this, &frmSerial::BTNOpenCom_Click);
  connect(BTNCloseCom, &QPushButton::clicked, this, &frmSerial::BTNCloseCom_Click);
  connect(Command1, &QPushButton::clicked, this, &frmSerial::Command1_Click);
  connect(Command2, &QPushButton::clicked, this, &frmSerial::Command2_Click);
  connect(Command3, &QPushButton::clicked, this, &frmSerial::Command3_Click);
  connect(Command4, &QPushButton::clicked, this, &frmSerial::Command4_Click);
  connect(Command5, &QPushButton::clicked, this, &frmSerial::Command5_Click);
  connect(Command6, &QPushButton::clicked, this, &frmSerial::Command6_Click);
  connect(Command7, &QPushButton::clicked, this, &frmSerial::Command7_Click);
  connect(Command8, &QPushButton::clicked, this, &frmSerial::Command8_Click);
  connect(Command9, &QPushButton::clicked, this, &frmSerial::Command9_Click);

  SerialPort::SetMessageSink([this](const std::string& text) { ShowBox(kTitle, text, BoxIcon::None); });
}

frmSerial::~frmSerial() {
  SerialPort::SetMessageSink(nullptr);
  // A window torn down without being closed still lets go of port and log.
  if (!unloaded_) Form_Unload();
}

void frmSerial::BuildLayout() {
  // 398 x 700 at 96 dpi; the toolkit scales logical pixels with the screen.
  resize(398, 700);
  QFont small = font();
  small.setPointSizeF(7.5);
  setFont(small);
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(4, 2, 4, 4);
  outer->setSpacing(4);

  FixWidthFor(txt_0, "COM10:");
  FixWidthFor(Text10, "19200");
  FixWidthFor(Text1, "255");
  FixWidthFor(Text4, "255");
  FixWidthFor(Text5, "65535");
  FixWidthFor(Text3, "AB");
  FixWidthFor(Text7, "255");
  FixWidthFor(Text9, "8");
  // The style's 80-pixel minimum for buttons does not fit 398 pixels.
  for (QPushButton* b : {BTNOpenCom, BTNCloseCom, Command1, Command3, Command4, Command5, Command6,
                         Command7}) {
    b->setFixedWidth(b->fontMetrics().horizontalAdvance(b->text()) + 14);
  }
  Command2->setFixedWidth(Command2->fontMetrics().horizontalAdvance(Command2->text()) + 20);
  for (QPushButton* b : {Command8, Command9}) b->setFixedWidth(b->sizeHint().height());

  auto* comm = new QHBoxLayout(Frame2);
  comm->setContentsMargins(4, 4, 4, 4);
  comm->setSpacing(3);
  for (QWidget* w : {static_cast<QWidget*>(Label1_0), static_cast<QWidget*>(txt_0),
                     static_cast<QWidget*>(Label8), static_cast<QWidget*>(Text10)}) {
    comm->addWidget(w);
  }
  comm->addStretch(1);
  comm->addWidget(BTNOpenCom);
  comm->addWidget(BTNCloseCom);
  comm->addStretch(1);
  comm->addWidget(Label2);
  comm->addWidget(Text1);

  auto* write = new QGridLayout(Frame1);
  write->setContentsMargins(6, 6, 6, 6);
  write->setHorizontalSpacing(4);
  write->setVerticalSpacing(4);
  Label3->setWordWrap(true);
  auto* addressBox = new QVBoxLayout;
  addressBox->setSpacing(2);
  addressBox->addWidget(Label3);
  addressBox->addWidget(Text4);
  addressBox->addStretch(1);
  write->addLayout(addressBox, 0, 0, 2, 1);
  write->addWidget(Label5, 0, 1);
  write->addWidget(Text5, 0, 2);
  write->addWidget(Command1, 0, 3);
  write->addWidget(Label4, 1, 1);
  write->addWidget(Text3, 1, 2);
  write->addWidget(Command4, 1, 3);
  write->addWidget(Command5, 0, 5, 1, 1, Qt::AlignRight | Qt::AlignTop);
  write->addWidget(Text6, 2, 0, 1, 6);
  write->setColumnStretch(4, 1);
  write->setRowStretch(2, 1);
  const int labelWidth = Label3->fontMetrics().horizontalAdvance(Q("Адрес ячейки")) + 2;
  Label3->setMinimumWidth(labelWidth);
  Label3->setMaximumWidth(labelWidth + 4);

  auto* read = new QVBoxLayout(Frame3);
  read->setContentsMargins(6, 6, 6, 6);
  read->setSpacing(4);
  auto* readRow = new QHBoxLayout;
  readRow->setSpacing(4);
  readRow->addWidget(Label6);
  readRow->addWidget(Text7);
  readRow->addWidget(Command8);
  readRow->addWidget(Command9);
  readRow->addStretch(1);
  readRow->addWidget(Label7);
  readRow->addWidget(Text9);
  readRow->addWidget(Command3);
  readRow->addWidget(Command6);
  read->addLayout(readRow);
  text8Slot_ = new QWidget(Frame3);
  text8Slot_->setFocusPolicy(Qt::NoFocus);
  text8Slot_->setMinimumHeight(60);
  text8Slot_->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
  read->addWidget(text8Slot_, 1);

  auto* info = new QVBoxLayout(Frame4);
  info->setContentsMargins(6, 6, 6, 6);
  info->setSpacing(4);
  auto* infoRow = new QHBoxLayout;
  infoRow->addWidget(Command2);
  infoRow->addStretch(1);
  infoRow->addWidget(Command7);
  info->addLayout(infoRow);
  info->addWidget(Text2, 1);

  outer->addWidget(Frame2, 0);
  outer->addWidget(Frame1, 3);
  outer->addWidget(Frame3, 3);
  outer->addWidget(Frame4, 2);

  Pic->resize(Pic->sizeHint());
  Text8->raise();
  for (QObject* o : {static_cast<QObject*>(Frame2), static_cast<QObject*>(Frame3),
                     static_cast<QObject*>(text8Slot_)}) {
    o->installEventFilter(this);
  }
}

void frmSerial::PlaceOverlays() {
  Text8->setGeometry(QRect(text8Slot_->mapTo(this, QPoint(0, 0)), text8Slot_->size()));

  QStyleOptionGroupBox option;
  option.initFrom(Frame2);
  option.text = Frame2->title();
  option.lineWidth = 1;
  option.textAlignment = Frame2->alignment();
  option.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
  const QRect label = Frame2->style()->subControlRect(QStyle::CC_GroupBox, &option, QStyle::SC_GroupBoxLabel, Frame2);
  const int side = Pic->height();
  Pic->move(label.right() + 6, label.center().y() - side / 2 + 1);
  Pic->raise();
}

bool frmSerial::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show) {
    if (watched == Frame2 || watched == Frame3 || watched == text8Slot_) PlaceOverlays();
  }
  return QWidget::eventFilter(watched, event);
}

// ---- shared operations

void frmSerial::SwitchTags() {
  for (QWidget* control : controls_) {
    if (!control->property("Tag").toString().isEmpty()) control->setEnabled(!control->isEnabled());
  }
}

std::string frmSerial::TimeStamp() const {
  const QTime now = QTime::currentTime();
  return FormatTimeStamp(now.hour(), now.minute(), now.second(), now.msec());
}

void frmSerial::AppendPane(QPlainTextEdit* pane, const std::string& utf8) {
  if (utf8.empty()) return;
  QString text = QString::fromStdString(utf8);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  // A NUL would end the text in many places; show its visible symbol.
  text.replace(QChar(u'\0'), QChar(0x2400));
  QTextCursor end(pane->document());
  end.movePosition(QTextCursor::End);
  end.insertText(text);
  pane->moveCursor(QTextCursor::End);
  pane->ensureCursorVisible();
}

std::string frmSerial::PaneText(const QPlainTextEdit* pane) { return pane->toPlainText().toStdString(); }

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
  // The box runs a nested event loop: no tick may slip in while it is up.
  const bool running = TMRComm->isActive();
  TMRComm->stop();
  ShowMessageBox(this, BoxMessage{title, text, icon});
  if (running) TMRComm->start();
}

std::uint32_t frmSerial::PicFillColor() const { return Pic->FillColor(); }

void frmSerial::SetPicFillColor(std::uint32_t color) { Pic->SetFillColor(color); }

void frmSerial::Sleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

// ---- connection control

void frmSerial::BTNOpenCom_Click() {
  NewLine = "\r\n";
  // A log left open by a failed header write is let go before reopening.
  log_->Close();
  LogFile = 1;
  logFailureReported_ = false;

  LogError error;
  if (!log_->Open(LogFileName(txt_0->text().toStdString()), error)) {
    ShowBox("Error#" + std::to_string(error.number), error.description, BoxIcon::Critical);
    return;
  }
  StartTime = GeneralDateText(QDateTime::currentDateTime(), QLocale::system()).toStdString();
  if (!log_->WriteLine(StartTime, error) || !log_->WriteLine(kHeaderLine, error) || !log_->WriteLine("", error)) {
    ShowBox("Error#" + std::to_string(error.number), error.description, BoxIcon::Critical);
    return;
  }

  const std::string port = txt_0->text().toStdString();
  const std::string settings = Text10->text().toStdString() + ",n,8,1";
  SerialPort::OpenPort(port, settings);
  SwitchTags();
  TMRComm->start();
  Sleep(200);
}

void frmSerial::BTNCloseCom_Click() {
  TMRComm->stop();
  Text2->clear();
  SerialPort::ClosePort();
  SwitchTags();
  log_->Close();
}

void frmSerial::Form_Unload() {
  unloaded_ = true;
  log_->Close();
  SerialPort::ClosePort();
}

void frmSerial::closeEvent(QCloseEvent* event) {
  Form_Unload();
  event->accept();
}

// ---- clear buttons

void frmSerial::Command5_Click() { Text6->clear(); }
void frmSerial::Command6_Click() { Text8->clear(); }
void frmSerial::Command7_Click() { Text2->clear(); }

}  // namespace rilvano
