// What the receive poller shows of one packet: the raw block, the slave check
// and the decoded reply. Pure functions over byte strings; every text returned
// is UTF-8 with CR LF line breaks, ready for a pane or the log.
#pragma once

#include <string>
#include <string_view>

namespace rilvano::receive {

// "Принят пакет:", the bytes above 31 as their CP1251 characters, the hex
// list; each of the three lines ends with CR LF.
std::string RawBlock(std::string_view packet);

// The number in the slave-address field, as typed (no rounding), against
// byte 1. An empty packet never matches.
bool FromAddressedSlave(std::string_view addressField, std::string_view packet);

enum class ReplyKind {
  Exception,  // 0x86 / 0x83: the fixed message in the information pane
  WriteEcho,  // 0x06: address and value in the write pane
  ReadReply,  // 0x03: registers and CRC verdict in the read pane
  Ignored,    // any other function code: raw block only
  TooShort,   // shorter than its branch reads: raw block only
};

struct Reply {
  ReplyKind kind = ReplyKind::Ignored;
  // The decoded text: the log line as it is written (before the log's own
  // CR LF). Empty for Ignored and TooShort.
  std::string text;
  // What the pane receives; empty when nothing is shown.
  std::string paneAddition;
};

inline constexpr std::string_view kExceptionMessage = "Адрес данных, указанный в запросе, недоступен.";

// Decodes by byte 2. `word` is the scratch cell that each register value
// passes through (the window hands its Word1Hi here).
Reply Interpret(std::string_view packet, double& word);

// Byte count / 2, a half going to the even neighbour.
unsigned RegisterCount(unsigned byteCount);

}  // namespace rilvano::receive
