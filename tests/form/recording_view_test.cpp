// The shared view cases and the handler-only checks on the recording view:
// the form with no toolkit, a clock the test sets and ticks on demand.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "form/frmSerial.h"
#include "form/logfile.h"
#include "modbus/bytes.h"
#include "serial/SerialPort.h"
#include "tests/form/recording_driver.h"
#include "tests/form/view_cases.h"
#include "tests/support/bytes.h"
#include "tests/support/fake_platform.h"
#include "tests/support/files.h"
#include "tests/support/form_seam.h"

namespace rilvano {
namespace {

using test::RecordingDriver;

class RecordingCases : public test::ViewCaseTest {};

TEST_P(RecordingCases, Hold) {
  RecordingDriver driver;
  Run(driver);
}

INSTANTIATE_TEST_SUITE_P(RecordingView, RecordingCases, ::testing::ValuesIn(test::ViewCases()), test::ViewCaseName);

// The form over the recording serial backend, the port "COM3:" open and the
// ticks left to the test.
class FormTest : public test::TempDirTest {
 protected:
  void SetUp() override {
    test::TempDirTest::SetUp();
    SerialPort::SetPlatform(&platform);
    d = std::make_unique<RecordingDriver>();
  }
  void TearDown() override {
    d.reset();
    SerialPort::SetPlatform(nullptr);
    test::TempDirTest::TearDown();
  }
  void Open() {
    d->Type(Control::txt_0, "COM3:");
    d->Type(Control::Text1, "1");
    d->Click(Control::BTNOpenCom);
    ASSERT_TRUE(d->view.TimerRunning());
  }
  // Runs one tick on `read`; returns the FlushPort calls it made.
  int Tick(const std::string& read) {
    platform.incoming = read;
    const std::size_t before = platform.Calls("FlushFileBuffers").size();
    d->window.TMRComm_Timer();
    return static_cast<int>(platform.Calls("FlushFileBuffers").size() - before);
  }

  test::FakePlatform platform;
  test::BoxCapture boxes;
  std::unique_ptr<RecordingDriver> d;
};

TEST_F(FormTest, LampColoursFromTickToTick) {
  Open();
  constexpr std::uint32_t white = 0xFFFFFF, grey = 0x808080, red = 0x0000FF, other = 0x00C000;
  struct Case {
    std::uint32_t before;
    std::string read;
    std::uint32_t after;
  };
  const std::string packet = test::FromHex("05 03");
  const std::vector<Case> table = {{white, "", grey},      {grey, "", white},     {red, "", white},
                                   {other, "", white},     {white, packet, red},  {grey, packet, red},
                                   {red, packet, red},     {other, packet, red}};
  for (const Case& c : table) {
    d->view.SetLampColor(c.before);
    Tick(c.read);
    EXPECT_EQ(d->view.LampColor(), c.after) << std::hex << c.before << " read " << c.read.size();
  }
}

TEST_F(FormTest, FlushPortCallsPerTick) {
  Open();
  using test::FromHex;
  const std::vector<std::pair<std::string, int>> table = {
      {"", 1},                                  // ReadPort's own flush
      {FromHex("02 03 02 12 34 B5 33"), 2},     // another slave: raw block only
      {FromHex("01 03 02 12 34 B5 33"), 3},     // read reply
      {FromHex("01 06 00 10 12 34 85 78"), 3},  // write echo
      {FromHex("01 86 02"), 3},                 // exception
      {FromHex("01 11 05 41 42"), 3},           // not decoded
      {FromHex("01"), 3},                       // too short to dispatch
      {FromHex("01 03 02 12 34 B5"), 3},        // too short for its register
  };
  for (const auto& [read, flushes] : table) EXPECT_EQ(Tick(read), flushes) << HexList(read);
}

TEST_F(FormTest, SwitchTagsTogglesOnlyTaggedControls) {
  std::size_t tagged = 0;
  for (const ControlInfo& c : kControls) tagged += c.tag.empty() ? 0 : 1;
  ASSERT_EQ(tagged, 7u);
  d->view.SetEnabled(Control::Text10, false);  // an untagged control keeps whatever it has
  for (bool switched : {true, false}) {
    d->window.SwitchTags();
    for (const ControlInfo& c : kControls) {
      const bool expected = c.id == Control::Text10 ? false : (!c.tag.empty() && switched) != c.enabled;
      EXPECT_EQ(d->view.Enabled(c.id), expected) << c.name << (switched ? " switched" : " back");
    }
  }
}

TEST_F(FormTest, MessageBoxesHoldTheTimerWhileUp) {
  bool runningDuringBox = true;
  boxes.onShow = [&](const BoxMessage&) { runningDuringBox = d->view.TimerRunning(); };

  d->view.StartTimer(kTimerIntervalMs);
  d->window.ShowBox("Rilvano", "text", BoxIcon::None);
  EXPECT_FALSE(runningDuringBox);
  EXPECT_TRUE(d->view.TimerRunning());
  EXPECT_EQ(d->view.timerInterval, kTimerIntervalMs);

  d->view.StopTimer();
  d->window.ShowBox("Error#1", "text", BoxIcon::Critical);
  EXPECT_FALSE(d->view.TimerRunning());

  ASSERT_EQ(boxes.boxes.size(), 2u);
  EXPECT_EQ(boxes.boxes[1].title, "Error#1");
  EXPECT_EQ(boxes.boxes[1].icon, BoxIcon::Critical);
  EXPECT_TRUE(d->view.boxes.empty());

  // With no handler installed the box is the view's.
  SetBoxHandler(nullptr);
  d->view.StartTimer(kTimerIntervalMs);
  d->view.calls.clear();
  d->window.ShowBox("Rilvano", "to the view", BoxIcon::Warning);
  EXPECT_EQ(d->view.calls, (std::vector<std::string>{"StopTimer", "ShowBox", "StartTimer 10"}));
  ASSERT_EQ(d->view.boxes.size(), 1u);
  EXPECT_EQ(d->view.boxes[0].text, "to the view");
}

TEST_F(FormTest, TimeTextsComeFromTheViewsClock) {
  struct Case {
    int h, m, s, ms;
    const char* text;
  };
  for (const Case& c : {Case{0, 0, 0, 0, "0:0:0.0"}, Case{9, 5, 3, 7, "9:5:3.7"},
                        Case{14, 30, 15, 250, "14:30:15.250"}, Case{23, 59, 59, 999, "23:59:59.999"},
                        Case{10, 10, 10, 70, "10:10:10.70"}, Case{1, 2, 3, 700, "1:2:3.700"}}) {
    EXPECT_EQ(FormatTimeStamp(c.h, c.m, c.s, c.ms), c.text);
    d->view.clock = {2026, 12, 7, c.h, c.m, c.s, c.ms};
    EXPECT_EQ(d->window.TimeStamp(), c.text);
  }

  // The start line is the view's general date of the moment of Open; every
  // entry's stamp is the clock's reading.
  d->view.clock = {2026, 12, 31, 23, 59, 59, 999};
  Open();
  EXPECT_EQ(d->window.StartTime, "31.12.2026 23:59:59");
  d->view.clock = {2027, 1, 1, 0, 0, 0, 5};
  d->Click(Control::Command2);
  EXPECT_EQ(test::ReadFileBytes("Rilvano_log_COM3.txt"),
            "31.12.2026 23:59:59\r\nSTART Rilvano V3.0\r\n\r\n0:0:0.5\r\n"
            "\xCE\xF2\xEF\xF0\xE0\xE2\xEA\xE0 \xEF\xE0\xEA\xE5\xF2\xE0:   01 11 C0 2C \r\n");
}

}  // namespace
}  // namespace rilvano
