// A session of the window against rilvano-sim (register 0 at 4660): the
// requests the operator makes, what each puts on the line, and what the
// panes and the log must then hold, compared whole. Shared by the window
// tests on Linux and under Wine; no toolkit here.
#pragma once

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "form/controls.h"
#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "tests/receive/reply_cases.h"
#include "tests/support/bytes.h"
#include "tests/support/form_seam.h"

namespace rilvano::test {

// Log entries as the operator reads them (UTF-8 here, CP1251 in the file),
// "T" for each time stamp.
inline std::string SentEntry(const std::string& frame) {
  return "T\r\nОтправка пакета:   " + HexList(frame) + "\r\n";
}
inline std::string RawEntry(const std::string& packet) { return "T\r\n" + RawText(packet) + "\r\n"; }
inline const std::string kHeader = "DATE\r\nSTART Rilvano V3.0\r\n\r\n";
inline const std::string kSentHead = "\r\nОтправка пакета:   ";

// A log file's bytes in UTF-8, with time stamps as "T" and the start line as
// "DATE".
inline std::string MaskedLogUtf8(const std::string& bytes) {
  std::string log = Cp1251ToUtf8(bytes);
  log = std::regex_replace(log, std::regex("^[^\r\n]*\r\n(START Rilvano)"), "DATE\r\n$1");
  return std::regex_replace(log, std::regex("(^|\r\n)[0-9]{1,2}:[0-9]{1,2}:[0-9]{1,2}\\.[0-9]{1,3}\r\n"), "$1T\r\n");
}

// One click: the fields typed first, the button, the request it sends, the
// reply as the window reads it and what the window decodes of it ("" when
// it shows the reply only as raw bytes, as for 0x11).
struct SimRequest {
  std::vector<std::pair<Control, std::string>> fields;
  Control button;
  ByteString frame;
  ByteString reply;
  std::string decoded;

  // The pane that ends with Tail() once the reply is handled.
  Control Pane() const {
    if (decoded.empty()) return Control::Text2;
    return button == Control::Command3 ? Control::Text8 : Control::Text6;
  }
  std::string Tail() const { return PaneView(decoded.empty() ? RawText(reply) : decoded + "\r\n"); }
};

// Read, register 0, one register.
inline SimRequest ReadOne() {
  return {{{Control::Text7, "0"}, {Control::Text9, "1"}},
          Control::Command3,
          Sealed({1, 3, 0, 0, 0, 1}),
          Sealed({1, 3, 2, 0x12, 0x34}),
          kReadHead + " 2\r\n#= 0 Данные= 4660\r\n CRC=B5 33 Good\r\n"};
}

// Read, registers 0 to n - 1 (register 0 at 4660, register k at k).
inline SimRequest ReadMany(int n) {
  ByteString reply = Bytes({1, 3, static_cast<std::uint8_t>(2 * n), 0x12, 0x34});
  std::string decoded = kReadHead + " " + std::to_string(2 * n) + "\r\n#= 0 Данные= 4660\r\n";
  for (int k = 1; k < n; ++k) {
    reply += std::string{'\0', static_cast<char>(k)};
    decoded += "#= " + std::to_string(k) + " Данные= " + std::to_string(k) + "\r\n";
  }
  reply += CRC16(reply);
  decoded += " CRC=" + HexList(reply.substr(reply.size() - 2)).substr(0, 5) + " Good\r\n";
  return {{{Control::Text7, "0"}, {Control::Text9, std::to_string(n)}},
          Control::Command3,
          Sealed({1, 3, 0, 0, 0, static_cast<std::uint8_t>(n)}),
          reply,
          decoded};
}

// Read, registers 0 to 7.
inline SimRequest ReadEight() { return ReadMany(8); }

// Numeric write: register 5, value 1000; the slave echoes the request.
inline SimRequest WriteNumber() {
  const ByteString frame = Sealed({1, 6, 0, 5, 3, 0xE8});
  return {{{Control::Text4, "5"}, {Control::Text5, "1000"}},
          Control::Command1,
          frame,
          frame,
          "\r\nПринят ответ: Адрес ячейки= 5 Данные= 1000 CRC=99 75"};
}

// Two-character write into register 1.
inline SimRequest WriteChars() {
  const ByteString frame = Sealed({1, 6, 0, 1, 'A', 'B'});
  return {{{Control::Text4, "1"}, {Control::Text3, "AB"}},
          Control::Command4,
          frame,
          frame,
          "\r\nПринят ответ: Адрес ячейки= 1 Данные= 16706 CRC=" + HexList(frame.substr(6, 1)) +
              HexList(frame.substr(7)).substr(0, 2)};
}

// Device information: the simulator's text shows in the raw block only.
inline SimRequest AskInfo() {
  return {{},
          Control::Command2,
          Sealed({1, 0x11}),
          Sealed({1, 0x11, 13, 1, 0xFF, 'R', 'I', 'L', 'V', 'A', 'N', 'O', '-', 'S', 'I', 'M'}),
          ""};
}

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
  void Add(const SimRequest& r) {
    if (!r.decoded.empty()) {
      Answered(r.button == Control::Command3 ? read : write, r.frame, r.reply, r.decoded);
      return;
    }
    // A reply that is not decoded: the request and the raw block in Text2.
    info += kSentHead + HexList(r.frame) + "\r\n\r\n" + RawText(r.reply);
    log += SentEntry(r.frame) + RawEntry(r.reply);
  }
};

}  // namespace rilvano::test
