// The real window against a peer process: clicks go through the buttons,
// replies come in through the running timer, and the panes and the log are
// compared whole, with time stamps and the start date masked.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <regex>
#include <string>

#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "tests/receive/reply_cases.h"
#include "tests/support/bytes.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"

namespace rilvano::e2e {

using test::kException;
using test::PaneView;
using test::RawText;
using test::Sealed;

// Log entries as the operator reads them (UTF-8 here, CP1251 in the file),
// "T" for each time stamp.
inline std::string SentEntry(const std::string& frame) {
  return "T\r\nОтправка пакета:   " + HexList(frame) + "\r\n";
}
inline std::string RawEntry(const std::string& packet) { return "T\r\n" + RawText(packet) + "\r\n"; }
inline const std::string kHeader = "DATE\r\nSTART Rilvano V3.0\r\n\r\n";
inline const std::string kSentHead = "\r\nОтправка пакета:   ";

// What a session must leave in the panes and the log, built one request at
// a time in the order the window handles them.
struct Transcript {
  std::string info, write, read;  // Text2, Text6, Text8
  std::string log = kHeader;

  // A request whose reply is decoded into `pane` (`write` or `read`).
  void Answered(std::string& pane, const ByteString& frame, const ByteString& reply, const std::string& decoded) {
    pane += kSentHead + HexList(frame) + decoded + "\r\n";
    info += RawText(reply);
    log += SentEntry(frame) + RawEntry(reply) + decoded + "\r\n";
  }
  // A request answered with exception 02: its text goes to the information pane.
  void Refused(std::string& pane, const ByteString& frame, const ByteString& reply) {
    pane += kSentHead + HexList(frame);
    info += RawText(reply) + kException + "\r\n";
    log += SentEntry(frame) + RawEntry(reply) + kException + "\r\n";
  }
};

class WindowE2E : public test::TempDirTest {
 protected:
  void Open(QtView& w, const std::string& port) {
    w.txt_0->setText(QString::fromStdString(port));
    w.BTNOpenCom->click();
    ASSERT_TRUE(w.TMRComm->isActive());
    ASSERT_TRUE(w.Command3->isEnabled());
  }

  // Clicks and lets the event loop run until `pane` ends with `tail`.
  static bool ClickAndWait(QPushButton* button, QPlainTextEdit* pane, const std::string& tail, int timeoutMs = 10000) {
    button->click();
    return test::ProcessEventsUntil(
        [&] {
          const std::string text = QtView::PaneText(pane);
          return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
        },
        timeoutMs);
  }

  // The three panes hold exactly what the transcript says.
  static void ExpectPanes(QtView& w, const Transcript& t) {
    EXPECT_EQ(QtView::PaneText(w.Text8), PaneView(t.read));
    EXPECT_EQ(QtView::PaneText(w.Text6), PaneView(t.write));
    EXPECT_EQ(QtView::PaneText(w.Text2), PaneView(t.info));
  }

  // The log of port `port` after Close, in UTF-8 with time stamps as "T"
  // and the start line as "DATE".
  std::string MaskedLog(const std::string& port) const {
    std::string log = Cp1251ToUtf8(test::ReadFileBytes(Dir() / ("Rilvano_log_" + port.substr(0, 4) + ".txt")));
    log = std::regex_replace(log, std::regex("^[^\r\n]*\r\n(START Rilvano)"), "DATE\r\n$1");
    return std::regex_replace(log, std::regex("(^|\r\n)[0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\\.[0-9]{1,3}\r\n"), "$1T\r\n");
  }
};

}  // namespace rilvano::e2e
