// How much text a pane keeps, and what goes when it is full. Both views
// apply this one rule: past the cap a pane lets go of its oldest whole
// lines, a quarter of the cap at a time, so the newest text always shows,
// memory stays bounded and a trim's cost is spread over the additions that
// filled that quarter. The log file keeps every byte; the panes only show
// the recent part. Lengths are in UTF-16 units, as both toolkits count.
#pragma once

#include <cstddef>
#include <string_view>

namespace rilvano::pane {

// About 1,800 raw blocks of 255-byte packets (40 s of a busy 115200-baud
// line), or some 35,000 lines of decoded replies. The Qt window keeps about
// 5 bytes per unit; besides, its text buffer carries up to the length of the
// pane again in removed text until it is compacted, so a larger cap makes
// resident memory swing more (docs/performance.md).
inline constexpr std::size_t kCap = std::size_t{2} << 20;
// Wine's rich edit keeps about 245 bytes per character, and deleting lines
// from the front of it costs the square of the pane's length: dropping a
// quarter of a 256 Ki pane there takes about 0.4 s, of a 128 Ki one 0.12 s,
// of a 64 Ki one 0.03 s. Its panes hold some 1,000 lines of decoded replies.
inline constexpr std::size_t kWineCap = std::size_t{64} << 10;
// Smallest cap a view accepts: a trim must leave room for a line.
inline constexpr std::size_t kLeastCap = 16;

struct Trim {
  enum class Kind {
    Keep,        // the addition fits: append it as it is
    DropOldest,  // drop the pane's lines before the first line start at or
                 // after `from` (CutPane on its text), then append
    Replace,     // the addition alone fills the pane: empty the pane and
                 // append only the addition from CutAddition(addition, from)
  };
  Kind kind = Kind::Keep;
  std::size_t from = 0;
};

// What a pane holding `length` units does before `addition` more go in.
Trim PlanTrim(std::size_t length, std::size_t addition, std::size_t cap);

// The first line start at or after `from`: just after a CR LF, a lone CR (a
// rich edit's paragraph end) or a lone LF; the end when there is none.
std::size_t LineStartFrom(std::u16string_view units, std::size_t from);

// Units of the pane to drop: whole lines only; all of it when no line starts
// at or after `from` (what is left then fits the addition).
inline std::size_t CutPane(std::u16string_view pane, std::size_t from) { return LineStartFrom(pane, from); }

// Units of the addition to drop: whole lines, unless its newest line alone
// is longer than what the pane keeps; then the newest units of it.
inline std::size_t CutAddition(std::u16string_view addition, std::size_t from) {
  const std::size_t line = LineStartFrom(addition, from);
  return line < addition.size() ? line : from;
}

}  // namespace rilvano::pane
