// The pane rule, applied to plain strings the way a view applies it.
#include "form/pane_cap.h"

#include <gtest/gtest.h>

#include <string>

namespace rilvano::pane {
namespace {

// A pane on a string: what Append leaves.
std::u16string Appended(std::u16string pane, std::u16string addition, std::size_t cap) {
  const Trim trim = PlanTrim(pane.size(), addition.size(), cap);
  if (trim.kind == Trim::Kind::Replace) {
    addition.erase(0, CutAddition(addition, trim.from));
    pane.clear();
  } else if (trim.kind == Trim::Kind::DropOldest) {
    pane.erase(0, CutPane(pane, trim.from));
  }
  return pane + addition;
}

struct Case {
  const char* name;
  std::u16string pane;
  std::u16string addition;
  std::size_t cap;
  std::u16string expected;
};

TEST(PaneCap, KeepsTheNewestWholeLines) {
  // Cap 16 keeps 12 units after a trim.
  const Case cases[] = {
      {"fits", u"ab\n", u"cd\n", 16, u"ab\ncd\n"},
      {"fills exactly", u"0123456789\n", u"abcd\n", 16, u"0123456789\nabcd\n"},
      {"oldest line goes", u"0123456\nabcdef\n", u"XY\n", 16, u"abcdef\nXY\n"},
      {"as many lines as it takes", u"a\nb\nc\nd\ne\nf\ng\n", u"0123456\n", 16, u"f\ng\n0123456\n"},
      {"one long line goes whole", u"0123456789abcde", u"XY\n", 16, u"XY\n"},
      {"CR LF line end", u"0123456\r\nabcde\r\n", u"XY\r\n", 16, u"abcde\r\nXY\r\n"},
      {"lone CR, as a rich edit ends paragraphs", u"0123456\rabcdef\r", u"XY\r", 16, u"abcdef\rXY\r"},
      {"no cut between CR and LF", u"012345\r\nabcdefgh", u"XYZ", 16, u"abcdefghXYZ"},
      {"addition alone fills the pane: its newest lines", u"old\n", u"line1\nline2\nline3\n", 16, u"line2\nline3\n"},
      {"addition of one long line: its newest units", u"old\n", u"abcdefghijklmnopqrst", 16, u"ijklmnopqrst"},
      {"cap below the least is the least", u"0123456\nabcdef\n", u"XY\n", 3, u"abcdef\nXY\n"},
  };
  for (const Case& c : cases) EXPECT_EQ(Appended(c.pane, c.addition, c.cap), c.expected) << c.name;
}

// Many additions of uneven lines: the pane never passes the cap, always ends
// with the newest addition, starts on a line that was appended whole, and a
// trim comes at most once per quarter of the cap (its cost spread).
TEST(PaneCap, LongRunStaysBoundedAndCheap) {
  constexpr std::size_t kCapUnits = 400;
  std::u16string pane;
  std::u16string all;
  std::size_t trims = 0;
  std::size_t appended = 0;
  for (int i = 0; i < 5000; ++i) {
    std::u16string line(static_cast<std::size_t>(i * 7919 % 37), u'a' + static_cast<char16_t>(i % 26));
    line += (i % 3 == 0) ? u"\r\n" : u"\n";
    if (PlanTrim(pane.size(), line.size(), kCapUnits).kind != Trim::Kind::Keep) ++trims;
    pane = Appended(pane, line, kCapUnits);
    all += line;
    appended += line.size();
    ASSERT_LE(pane.size(), kCapUnits) << i;
    ASSERT_EQ(all.compare(all.size() - pane.size(), pane.size(), pane), 0) << i;  // the newest text, in order
    const std::size_t start = all.size() - pane.size();
    ASSERT_TRUE(start == 0 || all[start - 1] == u'\n') << i;                   // whole lines
  }
  EXPECT_GT(trims, 0u);
  EXPECT_LE(trims, appended / (kCapUnits / 4) + 1);
}

}  // namespace
}  // namespace rilvano::pane
