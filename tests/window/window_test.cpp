// The window as the operator meets it: controls, defaults, focus, panes,
// lamp, and the time texts of the log.
#include <QApplication>
#include <QDateTime>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextCursor>
#include <QTimer>
#include <QTimeZone>

#include <string>
#include <vector>

#include "tests/window/harness.h"
#include "window/qt/Lamp.h"
#include "window/qt/QtView.h"
#include "form/logfile.h"
#include "window/qt/timetext.h"

namespace rilvano {
namespace {


QString Caption(QWidget* w) {
  if (auto* b = qobject_cast<QPushButton*>(w)) return b->text();
  if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
  if (auto* p = qobject_cast<QPlainTextEdit*>(w)) return p->toPlainText();
  if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
  return {};
}

struct ControlCase {
  const char* name;
  const char* caption;
  const char* tag;
  bool enabled;
};

const ControlCase kControls[] = {
    {"Frame2", "Comm's", "", true},
    {"Label1(0)", "Port: (1-9)", "", true},
    {"txt(0)", "COM3:", "NO", true},
    {"Label8", "Скор.", "", true},
    {"Text10", "9600", "", true},
    {"BTNOpenCom", "Открыть", "NO", true},
    {"BTNCloseCom", "Закрыть", "NC", false},
    {"Label2", "Адрес", "", true},
    {"Text1", "1", "", true},
    {"Frame1", "Запись данных в ячейку  (Func 06)", "", true},
    {"Label3", "Адрес ячейки 0-255", "", true},
    {"Text4", "0", "", true},
    {"Label5", "Данные 0-65535", "", true},
    {"Text5", "0", "", true},
    {"Command1", "Запись", "NC", false},
    {"Label4", "Данные 2симв. 0-9;a-z; A-Z", "", true},
    {"Text3", "AB", "", true},
    {"Command4", "Запись", "NC", false},
    {"Command5", "CLR", "", true},
    {"Text6", "", "", true},
    {"Frame3", "Чтение ячейки (Func 03)", "", true},
    {"Label6", "Адрес ячейки 0-255", "", true},
    {"Text7", "0", "", true},
    {"Command8", "+", "", true},
    {"Command9", "-", "", true},
    {"Label7", "Кол-во: 1-8", "", true},
    {"Text9", "1", "", true},
    {"Command3", "Чтение", "NC", false},
    {"Command6", "CLR", "", true},
    {"Text8", "", "", true},
    {"Frame4", "Информация", "", true},
    {"Command2", "Запрос информации оь устройстве", "NC", false},
    {"Command7", "CLR", "", true},
    {"Text2", "", "", true},
};

const char* const kFocusChain[] = {"txt(0)",   "BTNOpenCom", "BTNCloseCom", "Text1",    "Text4",    "Text5",
                                   "Command1", "Text6",      "Text7",       "Command3", "Text8",    "Command5",
                                   "Command6", "Command2",   "Command7",    "Text2",    "Text3",    "Command4",
                                   "Command8", "Command9",   "Text9",       "Text10"};

void PressKey(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

void Type(QWidget* target, const QString& text) {
  for (QChar c : text) PressKey(target, 0, QString(c));
}

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    w.show();
    w.activateWindow();
    test::ProcessEventsUntil([this] { return w.isActiveWindow(); }, 2000);
    QApplication::processEvents();
  }
  QtView w;
};

TEST_F(WindowTest, StartsClosedWithTheDefaultsOfEveryControl) {
  EXPECT_EQ(w.windowTitle(), QString::fromUtf8("Rilvano  v3.2"));
  for (const ControlCase& c : kControls) {
    SCOPED_TRACE(c.name);
    auto* control = w.findChild<QWidget*>(QString::fromUtf8(c.name));
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(control->accessibleName(), QString::fromUtf8(c.name));
    EXPECT_EQ(Caption(control), QString::fromUtf8(c.caption));
    EXPECT_EQ(control->property("Tag").toString(), QString::fromUtf8(c.tag));
    EXPECT_EQ(control->isEnabled(), c.enabled);
  }
  EXPECT_EQ(w.Text9->toolTip(), QString::fromUtf8("Сколько ячеек читаем"));
  EXPECT_FALSE(w.TMRComm->isActive());
  EXPECT_EQ(w.TMRComm->interval(), 10);
  EXPECT_EQ(w.form.NewLine, "");
  EXPECT_EQ(w.form.LogFile, 0);
  EXPECT_EQ(w.form.StartTime, "");
}

TEST_F(WindowTest, FocusStartsInPortNameAndFollowsTheChain) {
  EXPECT_EQ(w.focusWidget(), w.txt_0);
  if (w.isActiveWindow()) {
    EXPECT_EQ(QApplication::focusWidget(), w.txt_0);
  }

  std::vector<std::string> chain;
  QWidget* at = w.txt_0;
  do {
    if ((at->focusPolicy() & Qt::TabFocus) && at != &w && !at->accessibleName().isEmpty()) {
      chain.push_back(at->objectName().toStdString());
    }
    at = at->nextInFocusChain();
  } while (at != w.txt_0);
  EXPECT_EQ(chain, std::vector<std::string>(std::begin(kFocusChain), std::end(kFocusChain)));

  // Tab leaves a pane instead of typing a tab into it.
  w.Text6->setFocus();
  PressKey(w.Text6, Qt::Key_Tab);
  EXPECT_EQ(w.focusWidget(), w.Text7);
  EXPECT_EQ(QtView::PaneText(w.Text6), "");
}

TEST_F(WindowTest, PanesHaveTheirWrappingAndPlace) {
  EXPECT_EQ(w.Text6->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(w.Text8->lineWrapMode(), QPlainTextEdit::NoWrap);
  EXPECT_EQ(w.Text2->lineWrapMode(), QPlainTextEdit::WidgetWidth);
  EXPECT_NE(w.Text6->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_NE(w.Text8->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  EXPECT_EQ(w.Text2->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  for (QPlainTextEdit* pane : {w.Text2, w.Text6, w.Text8}) {
    EXPECT_FALSE(pane->isReadOnly());
    EXPECT_NE(pane->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
  }

  // The read pane is the window's own, drawn over the read group.
  EXPECT_EQ(w.Text8->parentWidget(), &w);
  EXPECT_TRUE(w.Frame3->geometry().contains(w.Text8->geometry()));
  EXPECT_GT(w.Text8->height(), 40);
  EXPECT_GT(w.Text8->geometry().top(), w.Command3->mapTo(&w, QPoint(0, w.Command3->height())).y());

  // The lamp sits on the top edge of "Comm's", right of its caption.
  EXPECT_EQ(w.Pic->parentWidget(), w.Frame2);
  EXPECT_LT(w.Pic->y(), w.txt_0->y());
  EXPECT_GT(w.Pic->x(), w.Frame2->fontMetrics().horizontalAdvance(w.Frame2->title()));
  EXPECT_LT(w.Pic->x(), w.Frame2->width() / 2);

  // Every group in order, top to bottom.
  EXPECT_LT(w.Frame2->y(), w.Frame1->y());
  EXPECT_LT(w.Frame1->y(), w.Frame3->y());
  EXPECT_LT(w.Frame3->y(), w.Frame4->y());
}

TEST_F(WindowTest, AppendPaneGivesOldTextFollowedByTheAddition) {
  struct Case {
    std::vector<std::string> additions;
    std::string expected;
  };
  const Case cases[] = {
      {{"abc"}, "abc"},
      {{"a", "b", "", "c"}, "abc"},
      {{"\r\nОтправка пакета:   ", "01 ", "03 ", "\r\n"}, "\nОтправка пакета:   01 03 \n"},
      {{"line1\r\nline2\r\n", "\r\n"}, "line1\nline2\n\n"},
      {{std::string("A\0B", 3)}, "A\xE2\x90\x80" "B"},  // NUL shown as U+2400
      {{"#=0 Данные= 4660\r\n"}, "#=0 Данные= 4660\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    w.Text8->clear();
    for (const std::string& a : c.additions) w.form.AppendPane(Control::Text8, a);
    EXPECT_EQ(QtView::PaneText(w.Text8), c.expected);
  }
}

TEST_F(WindowTest, TypedTextStaysAndAdditionsGoAfterIt) {
  w.form.AppendPane(Control::Text6, "first\r\n");
  w.Text6->setFocus();
  w.Text6->moveCursor(QTextCursor::Start);
  Type(w.Text6, "typed ");
  w.form.AppendPane(Control::Text6, "second");
  EXPECT_EQ(QtView::PaneText(w.Text6), "typed first\nsecond");
}

TEST_F(WindowTest, NewestTextStaysInView) {
  for (int i = 0; i < 300; ++i) w.form.AppendPane(Control::Text2, "line " + std::to_string(i) + "\r\n");
  QApplication::processEvents();
  EXPECT_GT(w.Text2->verticalScrollBar()->value(), 0);
  QTextCursor end(w.Text2->document());
  end.movePosition(QTextCursor::End);
  end.movePosition(QTextCursor::PreviousBlock);  // "line 299"
  EXPECT_TRUE(w.Text2->viewport()->rect().contains(w.Text2->cursorRect(end)));
}

TEST_F(WindowTest, LampColourIsBgrAndIsWhatIsDrawn) {
  struct Case {
    std::uint32_t bgr;
    QColor drawn;
  };
  for (const Case& c : {Case{0x0000FF, QColor(255, 0, 0)}, Case{0xFFFFFF, QColor(255, 255, 255)},
                        Case{0x808080, QColor(128, 128, 128)}, Case{0xFF0000, QColor(0, 0, 255)}}) {
    w.SetLampColor(c.bgr);
    EXPECT_EQ(w.LampColor(), c.bgr);
    const QImage image = w.Pic->grab().toImage();
    const QColor centre = image.pixelColor(image.width() / 2, image.height() / 2);
    EXPECT_EQ(centre.rgb(), c.drawn.rgb()) << std::hex << c.bgr;
  }
}

// The stamp's form is checked on the recording view's clock; here the Qt
// view's clock reading.
TEST(TimeTexts, TimeStampIsTodaysClock) {
  QtView w;
  const std::string stamp = w.form.TimeStamp();
  int h = -1, m = -1, s = -1, ms = -1;
  ASSERT_EQ(std::sscanf(stamp.c_str(), "%d:%d:%d.%d", &h, &m, &s, &ms), 4) << stamp;
  EXPECT_EQ(FormatTimeStamp(h, m, s, ms), stamp);
  EXPECT_LT(h, 24);
  EXPECT_LT(ms, 1000);
}

TEST(TimeTexts, GeneralDateIsShortDateAndLongTimeWithoutZone) {
  const QDate date(2026, 12, 7);
  const QLocale russian(QLocale::Russian, QLocale::Russia);
  const QLocale english(QLocale::English, QLocale::UnitedStates);
  for (const QLocale& locale : {russian, english, QLocale(QLocale::German, QLocale::Germany)}) {
    SCOPED_TRACE(locale.name().toStdString());
    const QString shortDate = locale.toString(date, QLocale::ShortFormat);
    // Midnight: the date alone.
    EXPECT_EQ(GeneralDateText(QDateTime(date, QTime(0, 0, 0)), locale), shortDate);
    const QDateTime utc(date, QTime(9, 5, 3), QTimeZone(QByteArrayLiteral("UTC")));
    const QString text = GeneralDateText(utc, locale);
    EXPECT_TRUE(text.startsWith(shortDate + QLatin1Char(' '))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1String("UTC")) || text.contains(QLatin1String("GMT"))) << text.toStdString();
    EXPECT_FALSE(text.endsWith(QLatin1Char(' ')));
    EXPECT_TRUE(text.contains(QLatin1String("05:03")) || text.contains(QLatin1String("5:03"))) << text.toStdString();
  }
  EXPECT_EQ(GeneralDateText(QDateTime(date, QTime(9, 5, 3)), russian).toStdString(), "07.12.2026 09:05:03");
  EXPECT_EQ(GeneralDateText(QDateTime(date, QTime(21, 5, 3)), english).toStdString(), "12/7/26 9:05:03 PM");
  // One second past midnight is a time again.
  EXPECT_EQ(GeneralDateText(QDateTime(date, QTime(0, 0, 1)), russian).toStdString(), "07.12.2026 00:00:01");
}

}  // namespace
}  // namespace rilvano
