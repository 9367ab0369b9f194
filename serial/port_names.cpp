#include "serial/port_names.h"

#include <unistd.h>

#include <cctype>
#include <filesystem>

namespace rilvano::comm {

namespace {

bool AllDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s) {
    if (!std::isdigit(static_cast<unsigned char>(c))) return false;
  }
  return true;
}

// Decimal digits to a number; false when empty, not digits or absurdly large.
bool ParseIndex(std::string_view s, unsigned long& value) {
  if (!AllDigits(s)) return false;
  value = 0;
  for (char c : s) {
    value = value * 10 + static_cast<unsigned long>(c - '0');
    if (value > 999999) return false;
  }
  return true;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  if (s.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(s[i])) != prefix[i]) return false;
  }
  return true;
}

// The controlling terminal, a virtual console or the system console, however
// the path spells them ("/dev//tty", "/dev/./tty1").
bool IsForbiddenDevicePath(std::string_view path) {
  const std::string normal = std::filesystem::path(path).lexically_normal().string();
  if (normal == "/dev/tty" || normal == "/dev/console") return true;
  constexpr std::string_view kTty = "/dev/tty";
  return normal.compare(0, kTty.size(), kTty) == 0 && AllDigits(std::string_view(normal).substr(kTty.size()));
}

std::string Checked(std::string path) { return IsForbiddenDevicePath(path) ? std::string() : path; }

}  // namespace

std::string DevicePath(std::string_view name, const PathExists& exists) {
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  // A NUL would cut the path short at the open call.
  if (name.empty() || name.find('\0') != std::string_view::npos) return {};

  if (name.find('/') != std::string_view::npos) return Checked(std::string(name));

  unsigned long index = 0;
  if (StartsWithNoCase(name, "COM") && AllDigits(name.substr(3))) {
    if (!ParseIndex(name.substr(3), index) || index == 0) return {};
    return "/dev/ttyS" + std::to_string(index - 1);
  }
  if (StartsWithNoCase(name, "PTS") && AllDigits(name.substr(3))) {
    if (!ParseIndex(name.substr(3), index)) return {};
    return "/dev/pts/" + std::to_string(index);
  }
  if (!std::isalpha(static_cast<unsigned char>(name.front()))) return {};

  std::string tty = "/dev/tty" + std::string(name);
  if (exists(tty)) return Checked(tty);
  return Checked("/dev/" + std::string(name));
}

std::string DevicePath(std::string_view name) {
  return DevicePath(name, [](const std::string& path) { return ::access(path.c_str(), F_OK) == 0; });
}

}  // namespace rilvano::comm
