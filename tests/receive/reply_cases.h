// Packets from slave 1 with what the operator must see of them: shared by the
// decoder tables and the window tests, which feed the same bytes through a
// pseudo-terminal.
#pragma once

#include <string>
#include <vector>

#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "receive/reply.h"
#include "tests/support/bytes.h"

namespace rilvano::test {

struct ReplyCase {
  const char* name;
  std::string packet;
  receive::ReplyKind kind;
  std::string text;  // the log line (UTF-8); the pane gets it followed by CR LF
};

inline const std::string kReadHead = "\r\nПринят ответ:  Длинна=";
inline const std::string kException = "Адрес данных, указанный в запросе, недоступен.";

// The raw block shown for any packet, built from its bytes alone so the
// check does not lean on the decoder: heading, bytes above 31, hex list.
inline std::string RawText(const std::string& packet) {
  std::string printable;
  for (char c : packet) {
    if (static_cast<unsigned char>(c) > 31) printable += c;
  }
  return "Принят пакет:\r\n" + Cp1251ToUtf8(printable) + "\r\n" + HexList(packet) + "\r\n";
}

inline std::vector<ReplyCase> WorkedExamples() {
  using K = receive::ReplyKind;
  return {
      {"OneRegister", FromHex("01 03 02 12 34 B5 33"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n"},
      {"TwoRegisters", FromHex("01 03 04 00 01 00 02 2A 32"), K::ReadReply,
       kReadHead + " 4\r\n#= 0 Данные= 1\r\n#= 1 Данные= 2\r\n CRC=2A 32 Good\r\n"},
      {"TextRegister", FromHex("01 03 02 41 42 08 25"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 16706\r\n CRC=08 25 Txt=AB Good\r\n"},
      {"DamagedCrc", FromHex("01 03 02 12 34 00 00"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=00 00- Bad  "},
      {"WriteEcho", FromHex("01 06 00 10 12 34 85 78"), K::WriteEcho,
       "\r\nПринят ответ: Адрес ячейки= 16 Данные= 4660 CRC=85 78"},
      {"Exception83", FromHex("01 83 02 C0 F1"), K::Exception, kException},
      {"DeviceInformation", FromHex("01 11 05 41 42 43 FF 01 D9 00"), K::Ignored, ""},
  };
}

inline std::vector<ReplyCase> EdgeCases() {
  using K = receive::ReplyKind;
  return {
      // Odd count 3 gives n = 2; the CRC runs over 2n + 3 = 7 bytes.
      {"OddCountCrcOverRoundedLength", FromHex("01 03 03 00 01 00 02 9F F2"), K::ReadReply,
       kReadHead + " 3\r\n#= 0 Данные= 1\r\n#= 1 Данные= 2\r\n CRC=9F F2 Good\r\n"},
      {"OddCountOneMeansNoRegister", FromHex("01 03 01 41 42"), K::ReadReply,
       kReadHead + " 1\r\n CRC=41 42 Txt=AB- Bad  "},
      {"TrailingBytesAfterCrc", FromHex("01 03 02 12 34 B5 33 00 00"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33- Bad  "},
      {"TrailingBytesMatchingLastTwo", FromHex("01 03 02 12 34 B5 33 77 B5 33"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n"},
      {"ByteCountZero", FromHex("01 03 00 20 F0"), K::ReadReply, kReadHead + " 0\r\n CRC=20 F0 Txt= р Good\r\n"},
      {"RegistersFFFFAndZero", FromHex("01 03 04 FF FF 00 00 FA 17"), K::ReadReply,
       kReadHead + " 4\r\n#= 0 Данные= 65535\r\n#= 1 Данные= 0\r\n CRC=FA 17 Txt=яя Good\r\n"},
      {"FirstDataByte31", FromHex("01 03 02 1F 41 70 44"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 8001\r\n CRC=70 44 Good\r\n"},
      // Byte 0 and the unassigned 0x98 must reach the log as themselves.
      {"TextWithByteZero", FromHex("01 03 02 41 00 88 14"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 16640\r\n CRC=88 14 Txt=A" + std::string(1, '\0') + " Good\r\n"},
      {"TextUnassigned98", FromHex("01 03 02 98 C0 D3 D4"), K::ReadReply,
       kReadHead + " 2\r\n#= 0 Данные= 39104\r\n CRC=D3 D4 Txt=\u0098А Good\r\n"},
      {"WriteEchoHighAddress", FromHex("01 06 80 00 FF FF 00 00"), K::WriteEcho,
       "\r\nПринят ответ: Адрес ячейки= 32768 Данные= 65535 CRC=00 00"},
      {"WriteEchoTrailing", FromHex("01 06 00 00 00 00 48 0A 99"), K::WriteEcho,
       "\r\nПринят ответ: Адрес ячейки= 0 Данные= 0 CRC=48 0A"},
      {"Exception86AnyCode", FromHex("01 86 04 43 A3"), K::Exception, kException},
      {"ExceptionTwoBytes", FromHex("01 83"), K::Exception, kException},
      {"ExceptionOtherFunction", FromHex("01 90 02 C0 F1"), K::Ignored, ""},
      {"ControlBytesOnly", FromHex("01 00 0D 0A 1F"), K::Ignored, ""},
  };
}

// Each shorter than the positions its branch reads.
inline std::vector<ReplyCase> ShortPackets() {
  using K = receive::ReplyKind;
  return {
      {"OneByte", FromHex("01"), K::TooShort, ""},
      {"Echo2", FromHex("01 06"), K::TooShort, ""},
      {"Echo5", FromHex("01 06 00 10 12"), K::TooShort, ""},
      {"Echo7", FromHex("01 06 00 10 12 34 85"), K::TooShort, ""},
      {"ReadNoCount", FromHex("01 03"), K::TooShort, ""},
      {"ReadCountZero4", FromHex("01 03 00 20"), K::TooShort, ""},
      {"ReadOneRegister6", FromHex("01 03 02 12 34 B5"), K::TooShort, ""},
      {"ReadOddCount8", FromHex("01 03 03 00 01 00 02 9F"), K::TooShort, ""},
      {"ReadCount255", FromHex("01 03 FF") + std::string(252, '\x11'), K::TooShort, ""},
  };
}

}  // namespace rilvano::test
