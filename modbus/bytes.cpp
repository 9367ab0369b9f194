#include "modbus/bytes.h"

namespace rilvano {

std::string HexPair(unsigned char byte) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {kDigits[byte >> 4], kDigits[byte & 0x0F]};
}

std::string HexList(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 3);
  for (char c : bytes) {
    out += HexPair(static_cast<unsigned char>(c));
    out += ' ';
  }
  return out;
}

ByteString CRC16(std::string_view sString) {
  // Bitwise on purpose: frames are at most 255 bytes, a table buys nothing.
  std::uint32_t crc = 0xFFFF;
  for (char c : sString) {
    crc ^= static_cast<unsigned char>(c);
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 1U) ? (crc >> 1) ^ 0xA001U : crc >> 1;
    }
  }
  return {ByteChar(crc & 0xFF), ByteChar(crc >> 8)};
}

}  // namespace rilvano
