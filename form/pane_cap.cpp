#include "form/pane_cap.h"

#include <algorithm>

namespace rilvano::pane {

Trim PlanTrim(std::size_t length, std::size_t addition, std::size_t cap) {
  cap = std::max(cap, kLeastCap);
  if (length + addition <= cap) return {};
  const std::size_t keep = cap - cap / 4;
  if (addition >= keep) return {Trim::Kind::Replace, addition - keep};
  return {Trim::Kind::DropOldest, length + addition - keep};
}

std::size_t LineStartFrom(std::u16string_view units, std::size_t from) {
  if (from == 0) return 0;
  for (std::size_t p = from; p < units.size(); ++p) {
    const char16_t before = units[p - 1];
    if (before == u'\n' || (before == u'\r' && units[p] != u'\n')) return p;
  }
  return units.size();
}

}  // namespace rilvano::pane
