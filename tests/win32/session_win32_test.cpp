// A whole session of the Win32 window on a real COM port: COM3 of the Wine
// prefix is a pseudo-terminal whose far end (tests/windows/pty_peer.py)
// answers the default read request. Open, Read, the tick decodes the reply
// into Text8, Close; then the log file's bytes. And the log's name, which
// reaches the file system as UTF-16.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <string>

#include "form/logfile.h"
#include "modbus/cp1251.h"
#include "serial/SerialPort.h"
#include "tests/receive/reply_cases.h"
#include "tests/support/files.h"
#include "tests/support/form_seam.h"
#include "tests/support/sim_session.h"
#include "tests/win32/win32_driver.h"

namespace rilvano::test {
namespace {

using C = Control;

class Win32Session : public TempDirTest {};

TEST_F(Win32Session, OpenReadTheTickDecodesCloseAndTheLog) {
  BoxCapture boxes;
  Win32Window w;
  w.Click(C::BTNOpenCom);  // "COM3:" at 9600 by default
  if (SerialPort::PortHandle == comm::kInvalidHandle) {
    w.Click(C::BTNCloseCom);
    if (std::getenv("RILVANO_WIN_PORT_REQUIRED") != nullptr) FAIL() << "COM3 did not open: is the peer running?";
    GTEST_SKIP() << "no peer on COM3";
  }
  PurgeComm(reinterpret_cast<HANDLE>(SerialPort::PortHandle), PURGE_RXCLEAR | PURGE_TXCLEAR);
  EXPECT_TRUE(w.view.TimerRunning());
  EXPECT_FALSE(w.view.Enabled(C::txt_0));
  EXPECT_TRUE(w.view.Enabled(C::Command3));

  w.Click(C::Command3);
  const std::string frame = FromHex("01 03 00 00 00 01 84 0A");
  const std::string reply = FromHex("01 03 02 12 34 B5 33");
  const std::string decoded = kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n";
  const std::string read = "\r\nОтправка пакета:   " + HexList(frame) + decoded + "\r\n";
  ASSERT_TRUE(PumpUntil(w.view, [&] { return w.Text(C::Text8) == PaneView(read); }, 5000))
      << "Text8 holds: " << w.Text(C::Text8);
  EXPECT_EQ(w.Text(C::Text2), PaneView(RawText(reply)));
  EXPECT_EQ(w.Text(C::Text6), "");

  w.Click(C::BTNCloseCom);
  EXPECT_FALSE(w.view.TimerRunning());
  EXPECT_EQ(w.Text(C::Text2), "");
  EXPECT_EQ(w.Text(C::Text8), PaneView(read));
  EXPECT_TRUE(w.view.Enabled(C::BTNOpenCom));
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_TRUE(boxes.boxes.empty());

  const std::string expected = "DATE\r\nSTART Rilvano V3.0\r\n\r\n"
                               "T\r\nОтправка пакета:   " + HexList(frame) + "\r\n"
                               "T\r\n" + RawText(reply) + "\r\n" + decoded + "\r\n";
  EXPECT_EQ(MaskedLogUtf8(ReadFileBytes(Dir() / "Rilvano_log_COM3.txt")), expected);
}

// The port box's text names the log; whatever the ANSI code page, the file
// gets that name, and its contents stay Windows-1251.
class Win32LogName : public TempDirTest {};

TEST_F(Win32LogName, ReachesTheFileSystemAsUtf16) {
  for (const char* port : {"ЖУРН1:", "Café", "日本語ポート"}) {
    SCOPED_TRACE(port);
    LogFileWriter log;
    LogError error;
    const std::string name = LogFileName(port);
    ASSERT_TRUE(log.Open(name, error)) << error.description;
    ASSERT_TRUE(log.WriteLine("Принят пакет:", error)) << error.description;
    log.Close();
    const std::wstring wide = wintext::Widen(name);
    EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES) << "no file of that name";
    EXPECT_EQ(ReadFileBytes(Dir() / std::filesystem::path(wide)), Utf8ToCp1251("Принят пакет:") + "\r\n");
  }
}

}  // namespace
}  // namespace rilvano::test
