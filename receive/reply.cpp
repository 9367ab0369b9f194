#include "receive/reply.h"

#include "modbus/bytes.h"
#include "modbus/cp1251.h"
#include "requests/number.h"

namespace rilvano::receive {
namespace {

constexpr std::string_view kCrLf = "\r\n";

// Byte n counted from 1, as the operator's manual numbers them.
unsigned Byte(std::string_view packet, std::size_t n) { return ByteAt(packet, n - 1); }

void AppendByteChar(std::string& out, unsigned byte) {
  AppendUtf8(out, Cp1251ToUnicode(static_cast<unsigned char>(byte)));
}

Reply WriteEcho(std::string_view packet, double& word) {
  if (packet.size() < 8) return {ReplyKind::TooShort, {}, {}};
  std::string text(kCrLf);
  text += "Принят ответ: Адрес ячейки=";
  text += NumberText(Byte(packet, 3) * 256.0 + Byte(packet, 4));
  text += " Данные=";
  word = Byte(packet, 5) * 256.0 + Byte(packet, 6);
  text += NumberText(word);
  text += " CRC=";
  text += HexPair(ByteAt(packet, 6));
  text += ' ';
  text += HexPair(ByteAt(packet, 7));
  return {ReplyKind::WriteEcho, text, text + std::string(kCrLf)};
}

Reply ReadReply(std::string_view packet, double& word) {
  if (packet.size() < 3) return {ReplyKind::TooShort, {}, {}};
  const unsigned byteCount = Byte(packet, 3);
  const unsigned n = RegisterCount(byteCount);
  // The CRC line reads up to byte 2n + 5, the text part bytes 4 and 5.
  if (packet.size() < 2 * n + 5) return {ReplyKind::TooShort, {}, {}};

  std::string text(kCrLf);
  text += "Принят ответ: ";
  text += " Длинна=";
  text += NumberText(byteCount);
  text += kCrLf;
  for (unsigned k = 1; k <= n; ++k) {
    word = Byte(packet, 2 * k + 2) * 256.0 + Byte(packet, 2 * k + 3);
    text += "#=";
    text += NumberText(k - 1);
    text += " Данные=";
    text += NumberText(word);
    text += kCrLf;
  }
  text += " CRC=";
  text += HexPair(static_cast<unsigned char>(Byte(packet, 2 * n + 4)));
  text += ' ';
  text += HexPair(static_cast<unsigned char>(Byte(packet, 2 * n + 5)));
  if (Byte(packet, 4) > 31) {
    text += " Txt=";
    AppendByteChar(text, Byte(packet, 4));
    AppendByteChar(text, Byte(packet, 5));  // whatever its value, 0 included
  }
  const ByteString crc = CRC16(packet.substr(0, 2 * n + 3));
  if (packet.substr(packet.size() - 2) == crc) {
    text += " Good";
    text += kCrLf;
  } else {
    text += "- Bad  ";
  }
  return {ReplyKind::ReadReply, text, text + std::string(kCrLf)};
}

}  // namespace

std::string RawBlock(std::string_view packet) {
  std::string block = "Принят пакет:";
  block += kCrLf;
  for (char c : packet) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte > 31) AppendByteChar(block, byte);
  }
  block += kCrLf;
  block += HexList(packet);
  block += kCrLf;
  return block;
}

bool FromAddressedSlave(std::string_view addressField, std::string_view packet) {
  if (packet.empty()) return false;
  return NumericValue(addressField) == static_cast<double>(Byte(packet, 1));
}

unsigned RegisterCount(unsigned byteCount) {
  unsigned half = byteCount / 2;
  if (byteCount % 2 != 0 && half % 2 != 0) ++half;
  return half;
}

Reply Interpret(std::string_view packet, double& word) {
  if (packet.size() < 2) return {ReplyKind::TooShort, {}, {}};
  switch (Byte(packet, 2)) {
    case 0x86:
    case 0x83: {
      const std::string text(kExceptionMessage);
      return {ReplyKind::Exception, text, text + std::string(kCrLf)};
    }
    case 0x06:
      return WriteEcho(packet, word);
    case 0x03:
      return ReadReply(packet, word);
    default:
      return {ReplyKind::Ignored, {}, {}};
  }
}

}  // namespace rilvano::receive
