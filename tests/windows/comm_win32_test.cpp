// The Win32 backend through SerialPort, against a real COM port whose far end
// is tests/windows/pty_peer.py. scripts/test-windows links COM3 and COM10 of a
// Wine prefix to the peer's pseudo-terminal and sets RILVANO_WIN_PORT_REQUIRED;
// elsewhere (a Windows machine without the peer) the port tests skip.
#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#undef CreateFile
#undef BuildCommDCB

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "serial/SerialPort.h"

namespace {

using namespace rilvano;
using Clock = std::chrono::steady_clock;

const std::string kPort = "COM3:";
const std::string kSettings = "9600,n,8,1";
const std::string kReadRequest("\x01\x03\x00\x00\x00\x01\x84\x0A", 8);
const std::string kReadReply("\x01\x03\x02\x12\x34\xB5\x33", 7);

bool PortRequired() { return std::getenv("RILVANO_WIN_PORT_REQUIRED") != nullptr; }

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string StateRefused() { return UnderWine() ? "9600,n,6,1" : "9600,n,8,1.5"; }

HANDLE Native() { return reinterpret_cast<HANDLE>(SerialPort::PortHandle); }

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

class Win32PortTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SerialPort::SetPlatform(nullptr);
    SerialPort::SetMessageSink([this](const std::string& text) { messages.push_back(text); });
    if (SerialPort::OpenPort(kPort, kSettings) != -1) {
      if (PortRequired()) FAIL() << kPort << " did not open: is the peer running?";
      GTEST_SKIP() << "no peer on " << kPort;
    }
    // Wine keeps what a failed test left in the pseudo-terminal.
    PurgeComm(Native(), PURGE_RXCLEAR | PURGE_TXCLEAR);
  }
  void TearDown() override {
    SerialPort::ClosePort();
    SerialPort::SetMessageSink(nullptr);
  }

  // What the poller would see: reads until one brings data, at most `tries`.
  static std::string NextPacket(int tries = 8) {
    for (int i = 0; i < tries; ++i) {
      std::string packet = SerialPort::ReadPort();
      if (!packet.empty()) return packet;
    }
    return {};
  }

  static std::string Split(int pauseMs) { return std::string("SPLIT") + static_cast<char>(pauseMs); }

  std::vector<std::string> messages;
};

TEST_F(Win32PortTest, OpenAppliesTheTimeoutsAndTheLineSettings) {
  EXPECT_TRUE(messages.empty());
  COMMTIMEOUTS timeouts{};
  ASSERT_TRUE(GetCommTimeouts(Native(), &timeouts));
  EXPECT_EQ(timeouts.ReadIntervalTimeout, 20u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(timeouts.ReadTotalTimeoutConstant, 1u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutMultiplier, 1u);
  EXPECT_EQ(timeouts.WriteTotalTimeoutConstant, 10u);

  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Native(), &dcb));
  EXPECT_EQ(dcb.BaudRate, 9600u);
  EXPECT_EQ(dcb.ByteSize, 8);
  EXPECT_EQ(dcb.Parity, NOPARITY);
  EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
  EXPECT_FALSE(dcb.fOutxCtsFlow);
  EXPECT_FALSE(dcb.fOutxDsrFlow);
  EXPECT_FALSE(dcb.fOutX);
  EXPECT_FALSE(dcb.fInX);
  EXPECT_TRUE(dcb.fBinary);
  EXPECT_NE(dcb.XonChar, dcb.XoffChar);
}

// The DTR and RTS lines are whatever the platform's parser put into the block.
TEST_F(Win32PortTest, ModemLinesAreTheParsersChoice) {
  if (UnderWine()) {
    GTEST_SKIP() << "Wine's GetCommState reports DTR/RTS control enabled whatever was set: a pseudo-terminal has no modem lines";
  }
  DCB built{};
  ASSERT_TRUE(BuildCommDCBA(kSettings.c_str(), &built));
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  ASSERT_TRUE(GetCommState(Native(), &dcb));
  EXPECT_EQ(dcb.fDtrControl, built.fDtrControl);
  EXPECT_EQ(dcb.fRtsControl, built.fRtsControl);
}

TEST_F(Win32PortTest, FrameOutReplyBack) {
  EXPECT_EQ(SerialPort::WritePort(kReadRequest), 8);
  EXPECT_EQ(NextPacket(), kReadReply);
}

// All 256 byte values go out in pieces of 255 and 5 and come back in order;
// the read takes 255 of the waiting bytes and leaves the last for the next.
TEST_F(Win32PortTest, EveryByteValueBothWaysAnd255PerRead) {
  std::string values;
  for (int b = 0; b < 256; ++b) values += static_cast<char>(b);
  EXPECT_EQ(SerialPort::WritePort("ECHO" + values), 260);
  const std::string first = NextPacket();
  const std::string second = NextPacket();
  EXPECT_EQ(first.size(), 255u);
  EXPECT_EQ(first + second, values);
}

TEST_F(Win32PortTest, IdleReadEndsEmptyAfterTheTotalTimeout) {
  const auto start = Clock::now();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  const long long elapsed = MillisecondsSince(start);
  EXPECT_GE(elapsed, 200) << "255 x 1 ms + 1 ms";
  EXPECT_LT(elapsed, 3000);
}

TEST_F(Win32PortTest, QuietGapOf60msEndsTheRead) {
  SerialPort::WritePort(Split(60));
  EXPECT_EQ(NextPacket(), kReadReply.substr(0, 3));
  EXPECT_EQ(NextPacket(), kReadReply.substr(3));
}

TEST_F(Win32PortTest, GapOf5msStaysInOneRead) {
  SerialPort::WritePort(Split(5));
  EXPECT_EQ(NextPacket(), kReadReply);
}

TEST_F(Win32PortTest, CloseTwiceThenNothingReachesTheDevice) {
  EXPECT_NE(SerialPort::ClosePort(), 0);
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(SerialPort::ClosePort(), 0);
  EXPECT_EQ(SerialPort::WritePort(kReadRequest), 0);
  const auto start = Clock::now();
  EXPECT_EQ(SerialPort::ReadPort(), "");
  EXPECT_LT(MillisecondsSince(start), 200) << "a closed port has no time-out to wait for";
  EXPECT_TRUE(messages.empty());
}

TEST_F(Win32PortTest, SecondOpenerIsRefused) {
  if (UnderWine()) GTEST_SKIP() << "Wine does not enforce share mode 0 on a COM port";
  comm::Platform& platform = comm::NativePlatform();
  EXPECT_EQ(platform.CreateFile(kPort), comm::kInvalidHandle);
  EXPECT_EQ(platform.GetLastError(), static_cast<std::uint32_t>(ERROR_ACCESS_DENIED));
}

// The fields of the block win over the parser's image, and a block set up
// field by field, with no image, still configures the port.
class Win32StateTest : public Win32PortTest {
 protected:
  struct Case {
    comm::LineSettings settings;
    DWORD baud;
    BYTE parity, byteSize, stopBits;
  };

  // The parsed 9600,n,8,1 with every field changed, and a block with no image.
  static std::vector<Case> Cases() {
    comm::LineSettings changed{};
    EXPECT_TRUE(comm::NativePlatform().BuildCommDCB(kSettings, changed));
    EXPECT_EQ(changed.baud, 9600u);
    EXPECT_EQ(changed.parity, 'n');
    EXPECT_EQ(changed.dataBits, 8);
    EXPECT_EQ(changed.stopBits, 1);
    changed.baud = 19200;
    changed.parity = 'e';
    changed.dataBits = 7;
    changed.stopBits = 2;
    const comm::LineSettings byHand{.baud = 4800, .parity = 'o', .dataBits = 8, .stopBits = 1};
    return {{changed, 19200, EVENPARITY, 7, TWOSTOPBITS}, {byHand, 4800, ODDPARITY, 8, ONESTOPBIT}};
  }

  static DCB Applied(const comm::LineSettings& settings) {
    EXPECT_TRUE(comm::NativePlatform().SetCommState(SerialPort::PortHandle, settings));
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    EXPECT_TRUE(GetCommState(Native(), &dcb));
    return dcb;
  }
};

TEST_F(Win32StateTest, BaudAndStopBitsReachThePort) {
  for (const Case& c : Cases()) {
    const DCB dcb = Applied(c.settings);
    EXPECT_EQ(dcb.BaudRate, c.baud);
    EXPECT_EQ(dcb.StopBits, c.stopBits) << c.baud;
  }
}

TEST_F(Win32StateTest, ParityAndDataBitsReachThePort) {
  if (UnderWine()) GTEST_SKIP() << "a pseudo-terminal keeps 8 data bits and no parity whatever Wine asks for";
  for (const Case& c : Cases()) {
    const DCB dcb = Applied(c.settings);
    EXPECT_EQ(dcb.Parity, c.parity) << c.baud;
    EXPECT_EQ(dcb.ByteSize, c.byteSize) << c.baud;
  }
}

// Names that reach the peer's port, and names that open nothing and say nothing.
TEST_F(Win32PortTest, PortNames) {
  SerialPort::ClosePort();
  const std::vector<std::string> opening = {"COM3", "com3:", "Com3", "COM10:", "com10"};
  for (const std::string& name : opening) {
    EXPECT_EQ(SerialPort::OpenPort(name, kSettings), -1) << name;
    EXPECT_NE(SerialPort::ClosePort(), 0) << name;
  }
  const std::vector<std::string> silent = {"", "COM", "COM3x", "COM97:", "NOPORT7"};
  for (const std::string& name : silent) {
    EXPECT_EQ(SerialPort::OpenPort(name, kSettings), 0) << name;
    EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle) << name;
    EXPECT_EQ(SerialPort::ClosePort(), 0) << name;
  }
  EXPECT_TRUE(messages.empty());
}

// Each failing configuration step: its message with the failing call's error
// number, then no port held, and the device free to open again.
struct ConfigCase {
  const char* name;
  std::string port;
  std::string settings;
  std::string message;
  std::string error;  // the number expected after " Error: ", "" for any nonzero
};

class Win32ConfigTest : public Win32PortTest, public ::testing::WithParamInterface<ConfigCase> {};

TEST_P(Win32ConfigTest, MessageThenNoPortHeld) {
  const ConfigCase& c = GetParam();
  SerialPort::ClosePort();
  { std::ofstream("notaport.txt") << "x"; }

  EXPECT_EQ(SerialPort::OpenPort(c.port, c.settings), 0);
  ASSERT_EQ(messages.size(), 1u);
  const std::string prefix = c.message + " Error: ";
  ASSERT_EQ(messages[0].substr(0, prefix.size()), prefix);
  const std::string number = messages[0].substr(prefix.size());
  ASSERT_FALSE(number.empty());
  EXPECT_EQ(number.find_first_not_of("0123456789"), std::string::npos) << messages[0];
  EXPECT_NE(number[0], '0') << "the failing call's error, not a stale zero";
  if (!c.error.empty()) {
    EXPECT_EQ(number, c.error);
  }
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);
  EXPECT_EQ(SerialPort::ClosePort(), 0);

  EXPECT_EQ(SerialPort::OpenPort(kPort, kSettings), -1);
  DeleteFileA("notaport.txt");
}

INSTANTIATE_TEST_SUITE_P(
    Steps, Win32ConfigTest,
    ::testing::Values(
        ConfigCase{"timeouts", "notaport.txt", kSettings, "Unable to set timeouts for port notaport.txt", ""},
        ConfigCase{"build", kPort, "abc,n,8,1", "Unable to build Comm DCB abc,n,8,1", "87"},
        // Windows refuses 8 data bits with 1.5 stop bits; Wine on a
        // pseudo-terminal accepts that but refuses 6 data bits.
        ConfigCase{"state", kPort, StateRefused(), "Unable to set Comm DCB " + StateRefused(), "87"}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace

namespace {

std::wstring Wide(const std::string& utf8) {
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), out.data(), units);
  return out;
}

// Text crossing into the "A" calls goes in the ANSI code page: a name the
// page holds reaches its file whole (which is then refused as a port, with
// its message); a name it cannot hold opens nothing and says nothing, even
// where a best-fit spelling of it exists ("Cafē" must not open "Cafe").
TEST(Win32AnsiText, NamesInTheCodePageArriveWholeOthersOpenNothing) {
  std::string inPage;
  std::string outOfPage;
  switch (GetACP()) {
    case 1251: inPage = "Порт.txt"; outOfPage = "Café.txt"; break;
    case 1252: inPage = "Café.txt"; outOfPage = "Cafē.txt"; break;
    default: GTEST_SKIP() << "no case for ANSI code page " << GetACP();
  }
  for (const std::wstring& name : {Wide(inPage), std::wstring(L"Cafe.txt")}) {
    HANDLE file = CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    CloseHandle(file);
  }
  std::vector<std::string> messages;
  SerialPort::SetPlatform(nullptr);
  SerialPort::SetMessageSink([&](const std::string& text) { messages.push_back(text); });

  EXPECT_EQ(SerialPort::OpenPort(inPage, kSettings), 0);
  ASSERT_EQ(messages.size(), 1u) << "the file was not reached";
  EXPECT_EQ(messages[0].rfind("Unable to set timeouts for port " + inPage + " Error: ", 0), 0u) << messages[0];

  messages.clear();
  EXPECT_EQ(SerialPort::OpenPort(outOfPage, kSettings), 0);
  EXPECT_TRUE(messages.empty()) << messages[0];
  EXPECT_EQ(SerialPort::PortHandle, comm::kInvalidHandle);

  SerialPort::SetMessageSink(nullptr);
  DeleteFileW(Wide(inPage).c_str());
  DeleteFileW(L"Cafe.txt");
}

}  // namespace
