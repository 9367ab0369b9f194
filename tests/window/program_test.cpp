// The program's whole run on Qt, as main runs it, ended by a failure nobody
// expected.
#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <filesystem>
#include <string>
#include <vector>

#include "form/failure.h"
#include "serial/SerialPort.h"
#include "tests/support/failing_platform.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"
#include "window/qt/program.h"

namespace rilvano {
namespace {

namespace fs = std::filesystem;

// Whether this process still has the file open.
bool HeldOpen(const fs::path& file) {
  const fs::path wanted = fs::canonical(file);
  for (const fs::directory_entry& fd : fs::directory_iterator("/proc/self/fd")) {
    std::error_code ec;
    if (fs::read_symlink(fd.path(), ec) == wanted) return true;
  }
  return false;
}

class QtProgram : public test::FailingPlatformTest {};

// A failure in a tick, or in closing, ends the run with the real critical
// box, the log complete and closed while the box is up, and a failure status.
TEST_F(QtProgram, AnUnexpectedFailureShowsWhyKeepsTheLogAndEndsWithAFailureStatus) {
  struct Row {
    const char* what;
    void (*steps)(QtView& window, test::FailingPlatform& platform);
    std::string reason;
    std::string log;
  };
  const Row rows[] = {
      {"a tick fails",
       [](QtView& window, test::FailingPlatform& platform) {
         window.BTNOpenCom->click();
         window.Command3->click();
         platform.broken = true;
       },
       test::FailingPlatform::kReason, test::LogBeforeTheFailure()},
      {"a tick fails with no std::exception",
       [](QtView& window, test::FailingPlatform& platform) {
         window.BTNOpenCom->click();
         window.Command3->click();
         platform.foreign = true;
         platform.broken = true;
       },
       test::FailingPlatform::kNoReason, test::LogBeforeTheFailure()},
      {"closing fails",
       [](QtView& window, test::FailingPlatform& platform) {
         window.BTNOpenCom->click();
         platform.onClose = [] { throw std::runtime_error(test::FailingPlatform::kReason); };
         window.close();
       },
       test::FailingPlatform::kReason, "DATE\r\nSTART Rilvano V3.0\r\n\r\n"},
  };
  const fs::path log = Dir() / "Rilvano_log_COM3.txt";
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    fs::remove(log);
    platform.broken = platform.foreign = false;
    platform.onClose = nullptr;
    std::vector<BoxMessage> shown;
    bool operated = false;
    bool heldUnderTheBox = true;
    std::string logUnderTheBox;
    // The operator, from outside: works the running program, and reads and
    // closes every box that comes up.
    QTimer outside;
    outside.setInterval(10);
    QObject::connect(&outside, &QTimer::timeout, [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        shown.push_back({box->windowTitle().toStdString(), box->text().toStdString(),
                         box->icon() == QMessageBox::Critical ? BoxIcon::Critical : BoxIcon::None});
        // Whatever the operator does now, even ending the process, the log is done.
        heldUnderTheBox = HeldOpen(log);
        logUnderTheBox = test::ReadFileBytes(log);
        box->button(QMessageBox::Ok)->click();
        return;
      }
      if (operated) return;
      for (QWidget* top : QApplication::topLevelWidgets()) {
        auto* window = qobject_cast<QtView*>(top);
        if (window == nullptr || !window->isVisible()) continue;
        operated = true;
        // Outside this timer's own call, which would keep it from coming
        // back for a box the steps put up.
        QTimer::singleShot(0, window, [&row, window, this] { row.steps(*window, platform); });
        break;
      }
    });
    outside.start();
    QTimer stuck;
    stuck.setSingleShot(true);
    QObject::connect(&stuck, &QTimer::timeout, [] {
      ADD_FAILURE() << "the program did not end";
      QCoreApplication::exit(0);
    });
    stuck.start(20000);

    const int status = RunProgram();

    EXPECT_TRUE(operated);
    EXPECT_NE(status, 0);
    EXPECT_EQ(status, kFailureExitStatus);
    ASSERT_EQ(shown.size(), 1u) << "the program ended without a word";
    EXPECT_EQ(shown[0].title, "Rilvano");
    EXPECT_EQ(shown[0].icon, BoxIcon::Critical);
    EXPECT_NE(shown[0].text.find("Непредвиденная ошибка: " + row.reason), std::string::npos)
        << shown[0].text;
    EXPECT_EQ(test::MaskedLog(logUnderTheBox), row.log);
    EXPECT_FALSE(heldUnderTheBox) << "the log is still open while the box is up";
    EXPECT_EQ(test::ReadFileBytes(log), logUnderTheBox);
    EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  }
}

}  // namespace
}  // namespace rilvano
