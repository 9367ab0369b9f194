// The real window against a peer process: clicks go through the buttons,
// replies come in through the running timer, and the panes and the log are
// compared whole, with time stamps and the start date masked.
#pragma once

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <string>

#include "modbus/bytes.h"
#include "tests/receive/reply_cases.h"
#include "tests/support/bytes.h"
#include "tests/support/sim_session.h"
#include "tests/window/harness.h"
#include "window/qt/QtView.h"

namespace rilvano::e2e {

using test::kException;
using test::kHeader;
using test::kSentHead;
using test::PaneView;
using test::RawEntry;
using test::RawText;
using test::Sealed;
using test::SentEntry;
using test::Transcript;

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

  // Types the request's fields, clicks its button and waits for the reply.
  static void Ask(QtView& w, Transcript& t, const test::SimRequest& r) {
    for (const auto& [control, text] : r.fields) {
      qobject_cast<QLineEdit*>(w.Widget(control))->setText(QString::fromStdString(text));
    }
    t.Add(r);
    auto* pane = qobject_cast<QPlainTextEdit*>(w.Widget(r.Pane()));
    ASSERT_TRUE(ClickAndWait(qobject_cast<QPushButton*>(w.Widget(r.button)), pane, r.Tail()))
        << QtView::PaneText(pane) << QtView::PaneText(w.Text2);
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
    return test::MaskedLogUtf8(test::ReadFileBytes(Dir() / ("Rilvano_log_" + port.substr(0, 4) + ".txt")));
  }
};

}  // namespace rilvano::e2e
