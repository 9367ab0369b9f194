// Field texts and the frames they must put on the wire (CRC included), shared
// by the pure request tests and the window tests.
#pragma once

#include <cstddef>
#include <ostream>
#include <string>
#include <vector>

#include "tests/support/bytes.h"

namespace rilvano::test {

enum class Command { Read, Write, CharWrite, Info };

// What one button reads. `first`/`second`: register address and count
// (read), register and value (write), register and characters (character
// write); unused for Info.
struct Fields {
  Command command;
  const char* slave;
  const char* first;
  const char* second;
};

struct FrameCase : Fields {
  const char* frame;  // hex pairs separated by blanks
};

inline const char* CommandName(Command c) {
  switch (c) {
    case Command::Read: return "read";
    case Command::Write: return "write";
    case Command::CharWrite: return "char write";
    case Command::Info: return "info";
  }
  return "?";
}

inline std::ostream& operator<<(std::ostream& os, const Fields& c) {
  return os << CommandName(c.command) << " slave=\"" << c.slave << "\" first=\"" << c.first
            << "\" second=\"" << c.second << '"';
}

inline const std::vector<FrameCase>& FrameCases() {
  static const std::vector<FrameCase> cases = {
      // Read: slave, start register, count.
      {Command::Read, "1", "0", "1", "01 03 00 00 00 01 84 0A"},
      {Command::Read, "1", "300", "8", "01 03 01 2C 00 08 84 39"},
      {Command::Read, "1", "256", "1", "01 03 01 00 00 01 85 F6"},
      {Command::Read, "1", "65535", "1", "01 03 FF FF 00 01 84 2E"},
      {Command::Read, "1", "0", "0", "01 03 00 00 00 00 45 CA"},   // label says 1-8: not applied
      {Command::Read, "1", "0", "9", "01 03 00 00 00 09 85 CC"},
      {Command::Read, "1", "2.5", "1", "01 03 00 02 00 01 25 CA"},  // ties to even
      {Command::Read, "1", "3.5", "1", "01 03 00 04 00 01 C5 CB"},
      {Command::Read, "1", "12abc", "1", "01 03 00 0C 00 01 44 09"},
      {Command::Read, "1", "", "1", "01 03 00 00 00 01 84 0A"},
      {Command::Read, "1", "1 0", "1", "01 03 00 0A 00 01 A4 08"},
      {Command::Read, "1", "1,5", "1", "01 03 00 01 00 01 D5 CA"},
      {Command::Read, "255", "0", "65535", "FF 03 00 00 FF FF 51 A4"},
      {Command::Read, "2.5", "0", "1", "02 03 00 00 00 01 84 39"},
      // Numeric write: slave, register, value.
      {Command::Write, "1", "0", "0", "01 06 00 00 00 00 89 CA"},
      {Command::Write, "1", "5", "1000", "01 06 00 05 03 E8 99 75"},
      {Command::Write, "1", "65535", "65535", "01 06 FF FF FF FF 88 5E"},
      {Command::Write, "1", "0", "16706", "01 06 00 00 41 42 39 AB"},
      {Command::Write, "1", "0", "2.5", "01 06 00 00 00 02 08 0B"},
      {Command::Write, "1", "0", "255.4", "01 06 00 00 00 FF C9 8A"},
      {Command::Write, "1", "0", "256.5", "01 06 00 00 01 00 88 5A"},  // low half 0.5 rounds to 0
      {Command::Write, "0", "0", "&H0", "00 06 00 00 00 00 88 1B"},
      // Character write: slave, register, characters.
      {Command::CharWrite, "1", "0", "AB", "01 06 00 00 41 42 39 AB"},
      {Command::CharWrite, "1", "0", "abc", "01 06 00 00 61 62 21 B3"},
      {Command::CharWrite, "1", "10", "z9", "01 06 00 0A 7A 39 4A BA"},
      {Command::CharWrite, "1", "0", "Да", "01 06 00 00 C4 E0 DA 82"},
      // Device information: slave only.
      {Command::Info, "1", "", "", "01 11 C0 2C"},
      {Command::Info, "2", "", "", "02 11 C0 DC"},
      {Command::Info, "17", "", "", "11 11 CD EC"},
      {Command::Info, "0", "", "", "00 11 C1 BC"},
      {Command::Info, "&HFF", "", "", "FF 11 80 4C"},
  };
  return cases;
}

// Input that must be refused; `says` are fragments the message must hold
// (the field's label and what it accepts).
struct RefusalCase : Fields {
  std::vector<const char*> says;
};

inline const std::vector<RefusalCase>& RefusalCases() {
  static const std::vector<RefusalCase> cases = {
      {Command::Read, "256", "0", "1", {"«Адрес»", "от 0 до 255"}},
      {Command::Read, "-1", "0", "1", {"«Адрес»", "от 0 до 255"}},
      {Command::Read, "255.5", "0", "1", {"«Адрес»", "255.5", "от 0 до 255"}},  // ties to 256
      {Command::Read, "1", "-1", "1", {"«Адрес ячейки»", "от 0 до 65535"}},
      {Command::Read, "1", "65536", "1", {"«Адрес ячейки»", "65536", "от 0 до 65535"}},
      {Command::Read, "1", "0", "70000", {"«Кол-во»", "от 0 до 65535"}},
      {Command::Read, "1", "0", "255.6", {"«Кол-во»", "256", "от 0 до 65535"}},
      {Command::Read, "1", "1e999", "1", {"«Адрес ячейки»", "от 0 до 65535"}},
      {Command::Write, "1", "0", "-0.4", {"«Данные»", "от 0 до 65535"}},
      {Command::Write, "1", "0", "65535.5", {"«Данные»", "от 0 до 65535"}},
      {Command::Write, "1", "70000", "0", {"«Адрес ячейки»", "от 0 до 65535"}},
      {Command::Write, "300", "0", "0", {"«Адрес»", "от 0 до 255"}},
      {Command::CharWrite, "1", "0", "A", {"«Данные 2симв.»", "символов: 1", "два символа", "Windows-1251"}},
      {Command::CharWrite, "1", "0", "", {"«Данные 2симв.»", "два символа", "Windows-1251"}},
      {Command::CharWrite, "1", "0", "中A", {"«Данные 2симв.»", "«中»", "Windows-1251"}},
      {Command::CharWrite, "1", "0", "A中", {"«Данные 2симв.»", "«中»", "Windows-1251"}},
      {Command::CharWrite, "1", "-5", "AB", {"«Адрес ячейки»", "от 0 до 65535"}},
      {Command::CharWrite, "&H100", "0", "AB", {"«Адрес»", "от 0 до 255"}},
      {Command::Info, "256", "", "", {"«Адрес»", "от 0 до 255"}},
      {Command::Info, "-0.6", "", "", {"«Адрес»", "от 0 до 255"}},
  };
  return cases;
}

}  // namespace rilvano::test
