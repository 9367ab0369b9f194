// Sends of the real window, offscreen, against a pty: the bytes on the far
// side, the echo in the pane and the two log lines of each send. Each
// button's frames and refusals are among the shared view cases.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>
#include <regex>

#include "modbus/cp1251.h"
#include "requests/requests.h"
#include "tests/requests/request_cases.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"

namespace rilvano {
namespace {

using test::Command;

// The send header in Windows-1251, as the log must hold it.
const std::string kHeaderCp1251 = "\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   ";
const std::string kHeaderUtf8 = "Отправка пакета:   ";

std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = log.find("\r\n", start)) != std::string::npos; start = end + 2) {
    lines.push_back(log.substr(start, end - start));
  }
  EXPECT_EQ(start, log.size()) << "the log does not end with CR LF";
  return lines;
}

std::size_t Occurrences(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

class SendWindow : public test::TempDirTest {
 protected:
  void SetUp() override {
    test::TempDirTest::SetUp();
    w = std::make_unique<QtView>();
  }
  void TearDown() override {
    w.reset();
    test::TempDirTest::TearDown();
  }

  void Open(const std::string& port) {
    port_ = port;
    w->txt_0->setText(QString::fromStdString(port));
    w->BTNOpenCom->click();
    boxes.boxes.clear();  // whatever Open had to say is not ours
  }
  void Open() { Open(pty.PortName()); }

  // Closing completes the log file; the information pane is emptied by it.
  std::string CloseAndReadLog() {
    w->BTNCloseCom->click();
    return test::ReadFileBytes(Dir() / ("Rilvano_log_" + port_.substr(0, 4) + ".txt"));
  }

  void SetFields(Command command, const char* slave, const char* first, const char* second) {
    w->Text1->setText(QString::fromUtf8(slave));
    switch (command) {
      case Command::Read:
        w->Text7->setText(QString::fromUtf8(first));
        w->Text9->setText(QString::fromUtf8(second));
        break;
      case Command::Write:
        w->Text4->setText(QString::fromUtf8(first));
        w->Text5->setText(QString::fromUtf8(second));
        break;
      case Command::CharWrite:
        w->Text4->setText(QString::fromUtf8(first));
        w->Text3->setText(QString::fromUtf8(second));
        break;
      case Command::Info: break;
    }
  }
  test::BoxCapture boxes;
  test::PtyPair pty;
  std::unique_ptr<QtView> w;

 private:
  std::string port_;
};

// The log ends with one entry per frame sent: a time-stamp line, then the
// header and the pairs, a blank after the last pair.
void ExpectLogTail(const std::string& log, const std::vector<std::string>& framesHex) {
  const auto lines = LogLines(log);
  ASSERT_GE(lines.size(), 2 * framesHex.size());
  std::size_t at = lines.size() - 2 * framesHex.size();
  for (const auto& frameHex : framesHex) {
    EXPECT_TRUE(std::regex_match(lines[at], std::regex(R"(\d{1,2}:\d{1,2}:\d{1,2}\.\d{1,3})"))) << lines[at];
    EXPECT_EQ(lines[at + 1], kHeaderCp1251 + frameHex + " ");
    at += 2;
  }
  EXPECT_EQ(Occurrences(log, kHeaderCp1251), framesHex.size());
}

TEST_F(SendWindow, TwoSendsIntoAnEmptyPane) {
  Open();
  w->Command3->click();
  w->Text7->setText("10");
  w->Command3->click();

  EXPECT_EQ(HexList(pty.Receive()), "01 03 00 00 00 01 84 0A 01 03 00 0A 00 01 A4 08 ");
  EXPECT_EQ(QtView::PaneText(w->Text8),
            "\n" + kHeaderUtf8 + "01 03 00 00 00 01 84 0A \n" + kHeaderUtf8 + "01 03 00 0A 00 01 A4 08 ");
  ExpectLogTail(CloseAndReadLog(), {"01 03 00 00 00 01 84 0A", "01 03 00 0A 00 01 A4 08"});
}

TEST_F(SendWindow, TypedPaneTextStaysInFront) {
  Open();
  w->Text6->setPlainText("mine");
  w->Command1->click();
  EXPECT_EQ(QtView::PaneText(w->Text6), "mine\n" + kHeaderUtf8 + "01 06 00 00 00 00 89 CA ");
  EXPECT_EQ(QtView::PaneText(w->Text8), "");
  EXPECT_EQ(QtView::PaneText(w->Text2), "");
}

TEST_F(SendWindow, FailedOpenEchoesAndSaysNotSentWithoutABox) {
  Open("PTS99999:");
  w->Command2->click();
  const std::string notSent = "Пакет не отправлен: порт не открыт (ошибка 2)";
  EXPECT_EQ(QtView::PaneText(w->Text2), "\n" + kHeaderUtf8 + "01 11 C0 2C \n" + notSent + "\n\n");
  EXPECT_TRUE(boxes.boxes.empty());
  const std::string log = CloseAndReadLog(), line = Utf8ToCp1251(notSent) + "\r\n";
  ASSERT_GE(log.size(), line.size());
  EXPECT_EQ(log.substr(log.size() - line.size()), line);
  ExpectLogTail(log.substr(0, log.size() - line.size()), {"01 11 C0 2C"});
}

TEST_F(SendWindow, CharWriteKeepsWord2HiInTheWindow) {
  Open();
  w->form.Word2Hi = 77;
  SetFields(Command::CharWrite, "1", "10", "z9");
  w->Command4->click();
  EXPECT_EQ((RequestNumbers{w->form.NumValue, w->form.Word1Hi, w->form.Word1Lo, w->form.Word2Hi, w->form.Word2Lo}),
            (RequestNumbers{0x39, 0, 10, 77, 0x7A}));
}

TEST_F(SendWindow, StepThenReadSendsTheNewAddress) {
  w->Text7->setText("255");
  w->Command8->click();  // closed
  Open();
  w->Command3->click();
  EXPECT_EQ(HexList(pty.Receive()), "01 03 01 00 00 01 85 F6 ");

  w->Command9->click();  // open
  EXPECT_EQ(w->Text7->text().toStdString(), " 255");
}

}  // namespace
}  // namespace rilvano
