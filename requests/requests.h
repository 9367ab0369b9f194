// Request bodies from the fields' texts: read (03), numeric and character
// write (06) and device information (0x11). Fields arrive as UTF-8 text.
#pragma once

#include <string>
#include <string_view>

#include "modbus/bytes.h"

namespace rilvano {

// The header in front of the bytes of every sent frame, in the panes and the log.
inline constexpr std::string_view kSendHeader = "Отправка пакета:   ";

// Title of the box that refuses a request built from bad input.
inline constexpr std::string_view kRefusalTitle = "Неверные данные";

// The window variables a request passes its numbers through.
struct RequestNumbers {
  double NumValue = 0;
  double Word1Hi = 0;
  double Word1Lo = 0;
  double Word2Hi = 0;
  double Word2Lo = 0;

  bool operator==(const RequestNumbers&) const = default;
};

struct Request {
  ByteString body;          // without CRC; empty when refused
  RequestNumbers numbers;   // what the window variables hold afterwards
  std::string refusal;      // UTF-8, one line per bad field; empty when built

  bool Refused() const { return !refusal.empty(); }
};

// A refused request leaves `before` as it was: nothing half-done reaches the window.
Request ReadRequest(std::string_view slave, std::string_view start, std::string_view count,
                    const RequestNumbers& before);
Request WriteRequest(std::string_view slave, std::string_view reg, std::string_view value,
                     const RequestNumbers& before);
// The first two characters, each as its Windows-1251 code, high byte first.
Request CharWriteRequest(std::string_view slave, std::string_view reg, std::string_view chars,
                         const RequestNumbers& before);
Request InfoRequest(std::string_view slave, const RequestNumbers& before);

}  // namespace rilvano
