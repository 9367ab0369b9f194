// Frames for tests, built from byte values or hex text.
#pragma once

#include <initializer_list>
#include <string>

#include "modbus/bytes.h"

namespace rilvano::test {

inline ByteString Bytes(std::initializer_list<unsigned> values) {
  ByteString out;
  for (unsigned v : values) out += ByteChar(v);
  return out;
}

// The body followed by its CRC, as it goes on the wire.
inline ByteString Sealed(std::initializer_list<unsigned> body) {
  const ByteString b = Bytes(body);
  return b + CRC16(b);
}

// "01 03 FF" -> the three bytes.
inline ByteString FromHex(const std::string& hex) {
  ByteString out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 3) out += ByteChar(std::stoul(hex.substr(i, 2), nullptr, 16));
  return out;
}

}  // namespace rilvano::test
