#include "window/win32/wintext.h"

#include <windows.h>

#include <climits>

namespace rilvano::wintext {

std::wstring Widen(std::string_view utf8) {
  if (utf8.empty() || utf8.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf8.size());
  const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
  std::wstring out(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, out.data(), units);
  return out;
}

std::string Narrow(std::wstring_view utf16) {
  if (utf16.empty() || utf16.size() > INT_MAX) return {};
  const int size = static_cast<int>(utf16.size());
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, utf16.data(), size, out.data(), bytes, nullptr, nullptr);
  return out;
}

std::wstring ToPane(std::string_view utf8) {
  const std::wstring in = Widen(utf8);
  std::wstring out;
  out.reserve(in.size() + in.size() / 16);
  for (std::size_t i = 0; i < in.size(); ++i) {
    const wchar_t c = in[i];
    if (c == L'\r' || c == L'\n') {
      out += L"\r\n";
      if (c == L'\r' && i + 1 < in.size() && in[i + 1] == L'\n') ++i;
    } else if (c == L'\0') {
      out += L'\x2400';
    } else {
      out += c;
    }
  }
  return out;
}

std::string FromPane(std::wstring_view units) {
  std::wstring text;
  text.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (units[i] != L'\r') {
      text += units[i];
    } else if (i + 1 >= units.size() || units[i + 1] != L'\n') {
      text += L'\n';  // a rich edit's paragraph end
    }
  }
  return Narrow(text);
}

}  // namespace rilvano::wintext
