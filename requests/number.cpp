#include "requests/number.h"

#include <charconv>
#include <cmath>
#include <cstdio>

namespace rilvano {
namespace {

bool Skippable(char c) { return c == ' ' || c == '\t' || c == '\n'; }

// The text with the skippable characters dropped, so "1 0" reads as "10".
std::string Squeezed(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (!Skippable(c)) out += c;
  }
  return out;
}

int DigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return 99;
}

double RadixValue(std::string_view digits, int radix) {
  double value = 0;
  for (char c : digits) {
    const int d = DigitValue(c);
    if (d >= radix) break;
    value = value * radix + d;
  }
  return value;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

double NumericValue(std::string_view text) {
  const std::string s = Squeezed(text);
  if (s.size() >= 2 && s[0] == '&') {
    if (s[1] == 'H' || s[1] == 'h') return RadixValue(std::string_view(s).substr(2), 16);
    if (s[1] == 'O' || s[1] == 'o') return RadixValue(std::string_view(s).substr(2), 8);
    return 0;
  }

  // Collect the longest prefix that forms a number, then convert it with the
  // locale-free from_chars.
  std::size_t i = 0;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  std::string mantissa;
  bool point = false;
  bool digits = false;
  for (; i < s.size(); ++i) {
    if (IsDigit(s[i])) {
      mantissa += s[i];
      digits = true;
    } else if (s[i] == '.' && !point) {
      mantissa += '.';
      point = true;
    } else {
      break;
    }
  }
  if (!digits) return 0;
  std::string number = mantissa;
  if (i < s.size() && (s[i] == 'E' || s[i] == 'e')) {
    std::size_t j = i + 1;
    std::string exponent = "e";
    if (j < s.size() && (s[j] == '+' || s[j] == '-')) exponent += s[j++];
    const std::size_t first = j;
    while (j < s.size() && IsDigit(s[j])) exponent += s[j++];
    if (j > first) number += exponent;
  }
  if (number.front() == '.') number.insert(number.begin(), '0');
  double value = 0;
  const auto result = std::from_chars(number.data(), number.data() + number.size(), value);
  if (result.ec == std::errc::result_out_of_range) {
    // from_chars leaves the value alone here; huge exponents mean infinity, tiny ones zero.
    const auto e = number.find('e');
    value = (e != std::string::npos && number.find('-', e) != std::string::npos) ? 0.0 : HUGE_VAL;
  }
  return negative ? -value : value;
}

std::optional<unsigned char> ByteFromNumber(double value) {
  if (!std::isfinite(value)) return std::nullopt;
  const double rounded = std::nearbyint(value);  // default mode: ties to even
  if (rounded < 0 || rounded > 255) return std::nullopt;
  return static_cast<unsigned char>(rounded);
}

Split16 SplitWord(double value) {
  const double hi = std::floor(value / 256);
  return {hi, value - 256 * hi};
}

std::string NumberText(double value) {
  if (std::isnan(value)) return " NaN";
  if (std::isinf(value)) return value > 0 ? " Inf" : "-Inf";
  if (value == 0) return " 0";  // also -0
  const char* sign = value < 0 ? "-" : " ";
  const double magnitude = std::fabs(value);
  char buffer[64];
  if (magnitude == std::floor(magnitude) && magnitude < 1e15) {
    std::snprintf(buffer, sizeof buffer, "%.0f", magnitude);
  } else {
    std::snprintf(buffer, sizeof buffer, "%.15G", magnitude);
  }
  // Appended rather than `sign + std::string(...)`: GCC 12 at -O2 warns
  // falsely (-Wrestrict) about the operator+ form.
  std::string text(sign);
  text += buffer;
  return text;
}

}  // namespace rilvano
