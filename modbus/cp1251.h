// Windows-1251 both ways. Display texts in the core are UTF-8; received bytes
// become their CP1251 characters, and the log turns them back into the same
// bytes. The table is bijective over all 256 values: the one hole of the code
// page (0x98) maps to U+0098 so that no received byte is ever lost.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rilvano {

char32_t Cp1251ToUnicode(unsigned char byte);
std::optional<unsigned char> UnicodeToCp1251(char32_t code);

// Appends one code point as UTF-8.
void AppendUtf8(std::string& out, char32_t code);

// Each byte as its CP1251 character, UTF-8 encoded.
std::string Cp1251ToUtf8(std::string_view bytes);

// Decodes UTF-8 into code points; malformed sequences give U+FFFD.
std::u32string Utf8ToCodePoints(std::string_view utf8);

// UTF-8 text to CP1251 bytes; characters outside the code page become
// `fallback`.
std::string Utf8ToCp1251(std::string_view utf8, char fallback = '?');

}  // namespace rilvano
