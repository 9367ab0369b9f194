// The real window (offscreen) against the simulator process: every request
// button, the replies it decodes, and the faults a real line produces.
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <string>
#include <vector>

#include "tests/e2e/e2e_window.h"
#include "tests/e2e/process.h"

namespace rilvano::e2e {
namespace {

const std::string kReadReply1 = "\r\nПринят ответ:  Длинна= 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n";

class WindowAgainstSim : public WindowE2E {};

TEST_F(WindowAgainstSim, EveryButtonAgainstAGoodSlave) {
  Simulator sim({"--set", "0=4660"});
  Transcript t;
  {
    QtView w;
    w.show();
    Open(w, sim.Port());

    // Read, defaults: register 0, one register.
    const ByteString f1 = Sealed({1, 3, 0, 0, 0, 1});
    const ByteString r1 = Sealed({1, 3, 2, 0x12, 0x34});
    ASSERT_EQ(HexList(r1), "01 03 02 12 34 B5 33 ");
    t.Answered(t.read, f1, r1, kReadReply1);
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text8, PaneView(kReadReply1 + "\r\n"))) << QtView::PaneText(w.Text8);

    // Numeric write: register 5, value 1000.
    w.Text4->setText("5");
    w.Text5->setText("1000");
    const ByteString f2 = Sealed({1, 6, 0, 5, 3, 0xE8});
    ASSERT_EQ(HexList(f2), "01 06 00 05 03 E8 99 75 ");
    const std::string echo2 = "\r\nПринят ответ: Адрес ячейки= 5 Данные= 1000 CRC=99 75";
    t.Answered(t.write, f2, f2, echo2);
    ASSERT_TRUE(ClickAndWait(w.Command1, w.Text6, PaneView(echo2 + "\r\n"))) << QtView::PaneText(w.Text6);

    // Two-character write into register 1, then "+" and a read of it.
    w.Text4->setText("1");
    w.Text3->setText("AB");
    const ByteString f3 = Sealed({1, 6, 0, 1, 'A', 'B'});
    const std::string echo3 = "\r\nПринят ответ: Адрес ячейки= 1 Данные= 16706 CRC=" + HexList(f3.substr(6, 1)) +
                              HexList(f3.substr(7)).substr(0, 2);
    t.Answered(t.write, f3, f3, echo3);
    ASSERT_TRUE(ClickAndWait(w.Command4, w.Text6, PaneView(echo3 + "\r\n"))) << QtView::PaneText(w.Text6);

    w.Command8->click();
    ASSERT_EQ(w.Text7->text().toStdString(), " 1");
    const ByteString f4 = Sealed({1, 3, 0, 1, 0, 1});
    const ByteString r4 = Sealed({1, 3, 2, 'A', 'B'});
    const std::string reply4 = "\r\nПринят ответ:  Длинна= 2\r\n#= 0 Данные= 16706\r\n CRC=" + HexList(r4.substr(5, 1)) +
                               HexList(r4.substr(6)).substr(0, 2) + " Txt=AB Good\r\n";
    t.Answered(t.read, f4, r4, reply4);
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text8, PaneView(reply4 + "\r\n"))) << QtView::PaneText(w.Text8);

    // Past the last register (100 of them): exception 02.
    w.Text7->setText("99");
    w.Text9->setText("2");
    const ByteString r5 = Sealed({1, 0x83, 2});
    ASSERT_EQ(HexList(r5), "01 83 02 C0 F1 ");
    t.Refused(t.read, Sealed({1, 3, 0, 99, 0, 2}), r5);
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text2, PaneView(kException + "\r\n"))) << QtView::PaneText(w.Text2);

    // A write past the last register: exception 02 to function 06.
    w.Text4->setText("100");
    w.Text5->setText("1");
    const ByteString r7 = Sealed({1, 0x86, 2});
    t.Refused(t.write, Sealed({1, 6, 0, 100, 0, 1}), r7);
    ASSERT_TRUE(ClickAndWait(w.Command1, w.Text2, PaneView(RawText(r7) + kException + "\r\n")))
        << QtView::PaneText(w.Text2);

    // Device information: the text shows in the raw block only.
    const ByteString f6 = Sealed({1, 0x11});
    ASSERT_EQ(HexList(f6), "01 11 C0 2C ");
    const ByteString r6 = Sealed({1, 0x11, 13, 1, 0xFF, 'R', 'I', 'L', 'V', 'A', 'N', 'O', '-', 'S', 'I', 'M'});
    t.info += kSentHead + HexList(f6) + "\r\n\r\n" + RawText(r6);
    t.log += SentEntry(f6) + RawEntry(r6);
    ASSERT_TRUE(ClickAndWait(w.Command2, w.Text2, PaneView(RawText(r6)))) << QtView::PaneText(w.Text2);
    EXPECT_NE(QtView::PaneText(w.Text2).find("яRILVANO-SIM"), std::string::npos);

    test::ProcessEventsFor(300);  // nothing more may arrive
    ExpectPanes(w, t);
    w.BTNCloseCom->click();
    EXPECT_EQ(QtView::PaneText(w.Text2), "");
  }
  EXPECT_EQ(MaskedLog(sim.Port()), t.log);
}

struct FaultCase {
  const char* name;
  std::vector<std::string> options;
  std::vector<ByteString> packets;  // as the window reads them
  std::string decoded;              // added to Text8 after the echo
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class WindowAgainstFaultySim : public WindowE2E, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WindowAgainstFaultySim, ReadShowsWhatTheLineCarried) {
  const FaultCase& c = GetParam();
  std::vector<std::string> options = c.options;
  options.insert(options.end(), {"--set", "0=4660"});
  Simulator sim(options);
  const ByteString f1 = Sealed({1, 3, 0, 0, 0, 1});
  std::string text2;
  std::string log = kHeader + SentEntry(f1);
  for (const auto& p : c.packets) {
    text2 += RawText(p);
    log += RawEntry(p);
  }
  if (!c.decoded.empty()) log += c.decoded + "\r\n";
  {
    QtView w;
    w.show();
    Open(w, sim.Port());
    ASSERT_TRUE(ClickAndWait(w.Command3, w.Text2, PaneView(RawText(c.packets.back())))) << QtView::PaneText(w.Text2);
    test::ProcessEventsFor(300);
    EXPECT_EQ(QtView::PaneText(w.Text2), PaneView(text2));
    EXPECT_EQ(QtView::PaneText(w.Text8),
              PaneView(kSentHead + HexList(f1) + c.decoded + (c.decoded.empty() ? "" : "\r\n")));
    w.BTNCloseCom->click();
  }
  EXPECT_EQ(MaskedLog(sim.Port()), log);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowAgainstFaultySim,
    ::testing::Values(
        FaultCase{"BadCrc",
                  {"--bad-crc-every", "1"},
                  {ByteString("\x01\x03\x02\x12\x34\xB5\xCC", 7)},
                  "\r\nПринят ответ:  Длинна= 2\r\n#= 0 Данные= 4660\r\n CRC=B5 CC- Bad  "},
        // The pause outlasts the 20 ms of quiet that ends a read: two packets,
        // the head too short to decode, the tail not from slave 1.
        FaultCase{"SplitReply",
                  {"--split-pause", "150", "--split-at", "3"},
                  {ByteString("\x01\x03\x02", 3), ByteString("\x12\x34\xB5\x33", 4)},
                  ""},
        FaultCase{"ForeignSlave", {"--foreign-every", "1"}, {Sealed({2, 3, 2, 0x12, 0x34})}, ""},
        FaultCase{"LateReply", {"--delay", "120"}, {Sealed({1, 3, 2, 0x12, 0x34})}, kReadReply1}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace rilvano::e2e
