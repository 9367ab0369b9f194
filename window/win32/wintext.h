// Text at the edge of the Win32 view: the form speaks UTF-8, the window UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace rilvano::wintext {

// Malformed UTF-8 comes out as U+FFFD, the way the Qt view shows it.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);

// A pane's text as the edit control wants it: every line break (CR LF, or a
// lone CR or LF) as CR LF, and NUL, which would end the text, as its visible
// symbol U+2400.
std::wstring ToPane(std::string_view utf8);
// A pane's text as the form reads it: line breaks (CR LF, or the lone CR a
// rich edit ends its paragraphs with) as LF.
std::string FromPane(std::wstring_view units);

}  // namespace rilvano::wintext
