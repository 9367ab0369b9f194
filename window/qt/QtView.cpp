// The Qt window: controls from the table, layout, and the view calls.
#include "window/qt/QtView.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QEvent>
#include <QFont>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionGroupBox>
#include <QTextBlock>
#include <QTextCursor>
#include <QThread>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <string_view>
#include <type_traits>

#include "form/failure.h"
#include "form/pane_cap.h"
#include "window/qt/Lamp.h"
#include "window/qt/large_buffers.h"
#include "window/qt/timetext.h"

namespace rilvano {

namespace {

QString Q(std::string_view utf8) { return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size())); }

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

QString PaneQText(const std::string& utf8) {
  QString text = QString::fromStdString(utf8);
  text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  return text;
}

std::u16string_view Units16(const QString& text) {
  return {reinterpret_cast<const char16_t*>(text.utf16()), static_cast<std::size_t>(text.size())};
}

}  // namespace

QtView::QtView(QWidget* parent) : QWidget(parent), form(*this) {
  KeepLargeBuffersMapped();
  setObjectName(Q(kWindowName));
  setWindowTitle(Q(kWindowCaption));

  BuildControls();
  BuildLayout();

  for (std::size_t i = 0; i + 1 < kFocusOrder.size(); ++i) setTabOrder(Widget(kFocusOrder[i]), Widget(kFocusOrder[i + 1]));
  Widget(kFocusOrder.front())->setFocus(Qt::OtherFocusReason);

  TMRComm = new QTimer(this);
  TMRComm->setObjectName(QStringLiteral("TMRComm"));
  TMRComm->setInterval(kTimerIntervalMs);
  TMRComm->setTimerType(Qt::PreciseTimer);
  connect(TMRComm, &QTimer::timeout, this, [this] { Forward([this] { form.TMRComm_Timer(); }); });
}

QtView::~QtView() = default;

void QtView::BuildControls() {
  for (const ControlInfo& c : kControls) {
    // Frames belong to the window, and so does the read pane: it only covers
    // a spot in Frame3.
    QWidget* parent = (c.group == c.id || c.id == Control::Text8) ? static_cast<QWidget*>(this) : Widget(c.group);
    QWidget* widget = nullptr;
    switch (c.kind) {
      case ControlKind::Group: widget = new QGroupBox(Q(c.text), parent); break;
      case ControlKind::Label: widget = new QLabel(Q(c.text), parent); break;
      case ControlKind::Box: widget = new QLineEdit(Q(c.text), parent); break;
      case ControlKind::Button: {
        auto* button = new QPushButton(Q(c.text), parent);
        button->setAutoDefault(false);
        connect(button, &QPushButton::clicked, this, [this, id = c.id] { Forward([this, id] { form.Click(id); }); });
        widget = button;
        break;
      }
      case ControlKind::Pane: {
        auto* pane = new QPlainTextEdit(parent);
        SetupPane(pane, c.wraps);
        widget = pane;
        break;
      }
      case ControlKind::Lamp: widget = new Lamp(parent); break;
    }
    widget->setObjectName(Q(c.name));
    widget->setAccessibleName(Q(c.name));
    widget->setProperty("Tag", Q(c.tag));
    widget->setEnabled(c.enabled);
    widgets_[static_cast<std::size_t>(c.id)] = widget;
  }

  const auto as = [this](auto*& field, Control c) { field = static_cast<std::remove_reference_t<decltype(field)>>(Widget(c)); };
  as(Frame1, Control::Frame1);
  as(Frame2, Control::Frame2);
  as(Frame3, Control::Frame3);
  as(Frame4, Control::Frame4);
  as(Label1_0, Control::Label1_0);
  as(Label2, Control::Label2);
  as(Label3, Control::Label3);
  as(Label4, Control::Label4);
  as(Label5, Control::Label5);
  as(Label6, Control::Label6);
  as(Label7, Control::Label7);
  as(Label8, Control::Label8);
  as(txt_0, Control::txt_0);
  as(Text1, Control::Text1);
  as(Text3, Control::Text3);
  as(Text4, Control::Text4);
  as(Text5, Control::Text5);
  as(Text7, Control::Text7);
  as(Text9, Control::Text9);
  as(Text10, Control::Text10);
  as(Text2, Control::Text2);
  as(Text6, Control::Text6);
  as(Text8, Control::Text8);
  as(BTNOpenCom, Control::BTNOpenCom);
  as(BTNCloseCom, Control::BTNCloseCom);
  as(Command1, Control::Command1);
  as(Command2, Control::Command2);
  as(Command3, Control::Command3);
  as(Command4, Control::Command4);
  as(Command5, Control::Command5);
  as(Command6, Control::Command6);
  as(Command7, Control::Command7);
  as(Command8, Control::Command8);
  as(Command9, Control::Command9);
  as(Pic, Control::Pic);

  Text9->setToolTip(Q(kText9Tooltip));
}

void QtView::BuildLayout() {
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

void QtView::PlaceOverlays() {
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

bool QtView::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::Resize || event->type() == QEvent::Move || event->type() == QEvent::Show) {
    if (watched == Frame2 || watched == Frame3 || watched == text8Slot_) PlaceOverlays();
  }
  return QWidget::eventFilter(watched, event);
}

void QtView::closeEvent(QCloseEvent* event) {
  Forward([this] { form.Form_Unload(); });
  event->accept();
}

void QtView::Forward(const std::function<void()>& call) {
  if (failed_) return;
  std::exception_ptr failure;
  try {
    call();
    return;
  } catch (...) {
    // Through Qt's own frames an exception is not allowed: it ends here.
    failure = std::current_exception();
  }
  failed_ = true;
  const int status = EndAfterFailure(failure, &form, [this](const BoxMessage& box) { ShowBox(box); });
  if (QThread::currentThread()->loopLevel() > 0) QCoreApplication::exit(status);
}

std::string QtView::PaneText(const QPlainTextEdit* pane) { return pane->toPlainText().toStdString(); }

// ---- View

std::string QtView::Text(Control control) const {
  QWidget* w = Widget(control);
  if (auto* box = qobject_cast<QLineEdit*>(w)) return box->text().toStdString();
  if (auto* pane = qobject_cast<QPlainTextEdit*>(w)) return PaneText(pane);
  if (auto* button = qobject_cast<QPushButton*>(w)) return button->text().toStdString();
  if (auto* label = qobject_cast<QLabel*>(w)) return label->text().toStdString();
  if (auto* group = qobject_cast<QGroupBox*>(w)) return group->title().toStdString();
  return {};
}

void QtView::SetText(Control control, const std::string& utf8) {
  QWidget* w = Widget(control);
  if (auto* box = qobject_cast<QLineEdit*>(w)) {
    box->setText(QString::fromStdString(utf8));
  } else if (auto* pane = qobject_cast<QPlainTextEdit*>(w)) {
    if (utf8.empty()) {
      pane->clear();
    } else {
      pane->setPlainText(PaneQText(utf8));
    }
  } else if (auto* button = qobject_cast<QPushButton*>(w)) {
    button->setText(QString::fromStdString(utf8));
  } else if (auto* label = qobject_cast<QLabel*>(w)) {
    label->setText(QString::fromStdString(utf8));
  } else if (auto* group = qobject_cast<QGroupBox*>(w)) {
    group->setTitle(QString::fromStdString(utf8));
  }
}

void QtView::Append(Control control, const std::string& utf8) {
  auto* pane = qobject_cast<QPlainTextEdit*>(Widget(control));
  if (pane == nullptr || utf8.empty()) return;
  QString addition = PaneQText(utf8);
  QTextDocument* document = pane->document();
  // The pane rule of form/pane_cap.h; the document counts a final paragraph end.
  const auto length = static_cast<std::size_t>(std::max(document->characterCount() - 1, 0));
  const pane::Trim trim = pane::PlanTrim(length, static_cast<std::size_t>(addition.size()), paneCap_);
  if (trim.kind == pane::Trim::Kind::Replace) {
    addition.remove(0, static_cast<qsizetype>(pane::CutAddition(Units16(addition), trim.from)));
    pane->clear();
  } else if (trim.kind == pane::Trim::Kind::DropOldest) {
    // The document's blocks are the pane's lines: the cut is found there, not
    // in a copy of the whole text, which would stay in the heap each trim.
    const QTextBlock at = document->findBlock(static_cast<int>(trim.from));
    const QTextBlock next = at.next();
    const int cut = at.position() == static_cast<int>(trim.from) ? at.position()
                    : next.isValid()                              ? next.position()
                                                                  : static_cast<int>(length);
    QTextCursor oldest(document);
    oldest.setPosition(cut, QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
  }
  QTextCursor end(document);
  end.movePosition(QTextCursor::End);
  end.insertText(addition);
  pane->moveCursor(QTextCursor::End);
  pane->ensureCursorVisible();
}

void QtView::SetPaneCap(std::size_t units) { paneCap_ = std::max(units, pane::kLeastCap); }

bool QtView::Enabled(Control control) const { return Widget(control)->isEnabled(); }

void QtView::SetEnabled(Control control, bool enabled) { Widget(control)->setEnabled(enabled); }

std::uint32_t QtView::LampColor() const { return Pic->FillColor(); }

void QtView::SetLampColor(std::uint32_t bgr) { Pic->SetFillColor(bgr); }

void QtView::ShowBox(const BoxMessage& box) { ShowBoxOver(this, box); }

void QtView::ShowBoxOver(QWidget* parent, const BoxMessage& box) {
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  switch (box.icon) {
    case BoxIcon::None: icon = QMessageBox::NoIcon; break;
    case BoxIcon::Critical: icon = QMessageBox::Critical; break;
    case BoxIcon::Warning: icon = QMessageBox::Warning; break;
  }
  QMessageBox dialog(icon, QString::fromStdString(box.title), QString::fromStdString(box.text), QMessageBox::Ok,
                     parent);
  dialog.exec();
}

void QtView::StartTimer(int intervalMs) {
  TMRComm->setInterval(intervalMs);
  TMRComm->start();
}

void QtView::StopTimer() { TMRComm->stop(); }

bool QtView::TimerRunning() const { return TMRComm->isActive(); }

LocalTime QtView::Now() const {
  const QDateTime now = QDateTime::currentDateTime();
  const QDate d = now.date();
  const QTime t = now.time();
  return {d.year(), d.month(), d.day(), t.hour(), t.minute(), t.second(), t.msec()};
}

std::string QtView::GeneralDate(const LocalTime& m) const {
  const QDateTime moment(QDate(m.year, m.month, m.day), QTime(m.hour, m.minute, m.second, m.millisecond));
  return GeneralDateText(moment, QLocale::system()).toStdString();
}

}  // namespace rilvano
