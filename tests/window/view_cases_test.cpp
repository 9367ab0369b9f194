// The shared view cases against the Qt window, offscreen: typing goes in as
// key events, clicks through the buttons, ticks through the event loop.
#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <string>

#include "tests/form/view_cases.h"
#include "tests/window/harness.h"
#include "window/qt/Lamp.h"
#include "window/qt/QtView.h"

namespace rilvano {
namespace {

void PressKey(QWidget* target, int key, const QString& text = {}) {
  QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &press);
  QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
  QApplication::sendEvent(target, &release);
}

class QtDriver : public test::ViewDriver {
 public:
  QtDriver() { w.show(); }

  frmSerial& form() override { return w.form; }
  void Type(Control control, const std::string& utf8) override {
    auto* box = qobject_cast<QLineEdit*>(w.Widget(control));
    ASSERT_NE(box, nullptr) << InfoOf(control).name;
    box->setFocus();
    box->selectAll();
    PressKey(box, Qt::Key_Backspace);
    const QString text = QString::fromStdString(utf8);
    for (qsizetype i = 0; i < text.size(); ++i) {
      // A character outside the BMP goes in as one key event.
      const qsizetype n = text.at(i).isHighSurrogate() && i + 1 < text.size() ? 2 : 1;
      PressKey(box, 0, text.mid(i, n));
      i += n - 1;
    }
  }
  void Click(Control control) override {
    auto* button = qobject_cast<QPushButton*>(w.Widget(control));
    ASSERT_NE(button, nullptr) << InfoOf(control).name;
    button->click();
  }
  std::string Text(Control control) override { return w.Text(control); }
  bool Enabled(Control control) override { return w.Widget(control)->isEnabled(); }
  std::uint32_t Lamp() override { return w.Pic->FillColor(); }
  void RunFor(int ms) override { test::ProcessEventsFor(ms); }
  void Close() override { w.close(); }
  std::vector<BoxMessage> BoxesShownDuring(const std::function<void()>& action) override {
    const test::NoBoxHandler real;
    std::vector<BoxMessage> seen;
    // The box's own loop runs the timer: it finds the box as the operator
    // would, the window in front, and presses OK.
    QTimer watch;
    watch.setInterval(10);
    QObject::connect(&watch, &QTimer::timeout, [&seen] {
      auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
      if (box == nullptr || !box->isVisible()) return;
      BoxMessage read{box->windowTitle().toStdString(), box->text().toStdString(), BoxIcon::None};
      if (box->icon() == QMessageBox::Critical) read.icon = BoxIcon::Critical;
      if (box->icon() == QMessageBox::Warning) read.icon = BoxIcon::Warning;
      EXPECT_TRUE(box->icon() == QMessageBox::Critical || box->icon() == QMessageBox::Warning ||
                  box->icon() == QMessageBox::NoIcon)
          << "an icon that is neither stop nor warning";
      seen.push_back(read);
      ASSERT_NE(box->button(QMessageBox::Ok), nullptr) << "a box without OK";
      box->button(QMessageBox::Ok)->click();
    });
    watch.start();
    action();
    return seen;
  }

  bool SetPaneCap(std::size_t units) override {
    w.SetPaneCap(units);
    return true;
  }

 private:
  QtView w;
};

class QtCases : public test::ViewCaseTest {};

TEST_P(QtCases, Hold) {
  QtDriver driver;
  Run(driver);
}

INSTANTIATE_TEST_SUITE_P(QtView, QtCases, ::testing::ValuesIn(test::ViewCases()), test::ViewCaseName);

}  // namespace
}  // namespace rilvano
