// Byte strings: serial data carried in std::string, one char per byte.
// Byte 0 is an ordinary character; the length is size(), never strlen().
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace rilvano {

using ByteString = std::string;

inline unsigned char ByteAt(std::string_view s, std::size_t i) {
  return static_cast<unsigned char>(s[i]);
}

inline char ByteChar(unsigned value) { return static_cast<char>(static_cast<unsigned char>(value)); }

// Two upper-case hex digits, leading zero below 16: 0 -> "00", 171 -> "AB".
std::string HexPair(unsigned char byte);

// Every byte as its pair followed by one blank, the last one included.
std::string HexList(std::string_view bytes);

// Modbus CRC-16 (reflected 0xA001, init 0xFFFF), low byte first.
ByteString CRC16(std::string_view sString);

}  // namespace rilvano
