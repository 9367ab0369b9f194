// The numeric value of arbitrary field text: never crashes, and blanks, tabs
// and line feeds never change it, wherever they stand.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "requests/number.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const double value = rilvano::NumericValue(text);

  std::string squeezed;
  for (char c : text) {
    if (c != ' ' && c != '\t' && c != '\n') squeezed += c;
  }
  const double again = rilvano::NumericValue(squeezed);
  if (!(value == again || (std::isnan(value) && std::isnan(again)))) __builtin_trap();

  (void)rilvano::NumberText(value);
  (void)rilvano::ByteFromNumber(value);
  return 0;
}
