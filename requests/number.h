// Text to number and number to bytes, as the request fields are read.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rilvano {

// The number a field's text begins with. Blanks, tabs and line feeds are
// skipped wherever they stand; then an optional sign, digits with at most one
// '.', an optional exponent (E), or a &H / &O prefix with hex / octal digits
// (unsigned). Reading stops at the first character that cannot continue the
// number; no number gives 0. The locale never matters.
double NumericValue(std::string_view text);

// Nearest integer, ties to even; only 0..255 gives a byte. Never wraps or clamps.
std::optional<unsigned char> ByteFromNumber(double value);

struct Split16 {
  double hi;
  double lo;
};
// hi = floor(v / 256), lo = v - 256 * hi; each is rounded later, on its own.
Split16 SplitWord(double value);

// Decimal text with a blank (or '-') in the sign position, no decimal point
// for whole numbers, "0.5" style for fractions, up to 15 significant digits.
std::string NumberText(double value);

}  // namespace rilvano
