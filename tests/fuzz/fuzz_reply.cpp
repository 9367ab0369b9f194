// Arbitrary packets through everything the poller does with them: the raw
// block, the slave check and the decoding. Input: one length byte, that many
// bytes of slave-address text, then the packet (at most 255 bytes, as a read).
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "receive/reply.h"

using namespace rilvano;

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t fieldLength = std::min<std::size_t>(data[0] % 16, size - 1);
  const std::string_view field = input.substr(1, fieldLength);
  const std::string_view packet = input.substr(1 + fieldLength, 255);
  if (packet.empty()) return 0;

  // The log must get back exactly the bytes above 31.
  const std::string block = receive::RawBlock(packet);
  std::string printable;
  for (char c : packet) {
    if (static_cast<unsigned char>(c) > 31) printable += c;
  }
  Check(Utf8ToCp1251(block) == Utf8ToCp1251("Принят пакет:") + "\r\n" + printable + "\r\n" + HexList(packet) + "\r\n");

  (void)receive::FromAddressedSlave(field, packet);

  double word = 0;  // a read reply without registers leaves it alone
  const receive::Reply reply = receive::Interpret(packet, word);
  const bool shown = reply.kind != receive::ReplyKind::Ignored && reply.kind != receive::ReplyKind::TooShort;
  Check(shown == !reply.text.empty());
  Check(shown ? reply.paneAddition == reply.text + "\r\n" : reply.paneAddition.empty());
  if (reply.kind == receive::ReplyKind::ReadReply || reply.kind == receive::ReplyKind::WriteEcho) {
    Check(word >= 0 && word <= 65535);
    Check(reply.text.compare(0, 2, "\r\n") == 0);
  }
  // Every character of the decoded text is one the log can write.
  for (char32_t code : Utf8ToCodePoints(reply.text)) Check(UnicodeToCp1251(code).has_value());
  return 0;
}
