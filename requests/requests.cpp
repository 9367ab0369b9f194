#include "requests/requests.h"

#include <initializer_list>
#include <optional>
#include <string>

#include "modbus/cp1251.h"
#include "requests/number.h"

namespace rilvano {
namespace {

constexpr std::string_view kSlaveField = "«Адрес» (адрес устройства)";
constexpr std::string_view kRegisterField = "«Адрес ячейки»";
constexpr std::string_view kCountField = "«Кол-во»";
constexpr std::string_view kValueField = "«Данные»";
constexpr std::string_view kCharsField = "«Данные 2симв.»";

constexpr unsigned char kReadHolding = 0x03;
constexpr unsigned char kWriteSingle = 0x06;
constexpr unsigned char kReportSlaveId = 0x11;

// The number as the operator would type it back, without the sign blank.
std::string Shown(double value) {
  std::string text = NumberText(value);
  if (!text.empty() && text.front() == ' ') text.erase(0, 1);
  return text;
}

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::string out;
  for (std::string_view p : parts) out += p;
  return out;
}

// Collects one line per bad field, so a single box names them all.
class Refusals {
 public:
  void Add(const std::string& line) {
    if (!text_.empty()) text_ += '\n';
    text_ += line;
  }
  const std::string& Text() const { return text_; }

 private:
  std::string text_;
};

// A 16-bit field: its value, split, each half rounded on its own.
struct Word16 {
  double value;
  double hi;
  double lo;
  std::optional<unsigned char> hiByte;
  std::optional<unsigned char> loByte;
};

Word16 ReadWord(std::string_view text, std::string_view field, Refusals& refusals) {
  Word16 w{};
  w.value = NumericValue(text);
  const Split16 split = SplitWord(w.value);
  w.hi = split.hi;
  w.lo = split.lo;
  w.hiByte = ByteFromNumber(w.hi);
  w.loByte = ByteFromNumber(w.lo);
  if (!w.hiByte || !w.loByte) {
    // lo lies in [0, 256) for any finite value, so only rounding can push it out.
    const bool roundedUp = w.hiByte.has_value();
    refusals.Add(Concat({"Поле ", field, ": значение ", Shown(w.value),
                         roundedUp ? " не кодируется: младший байт округляется до 256"
                                   : " не помещается в два байта",
                         ". Допустимо число от 0 до 65535."}));
  }
  return w;
}

std::optional<unsigned char> ReadSlave(std::string_view text, Refusals& refusals) {
  const double value = NumericValue(text);
  const auto byte = ByteFromNumber(value);
  if (!byte) {
    refusals.Add(Concat({"Поле ", kSlaveField, ": значение ", Shown(value),
                         " не помещается в байт. Допустимо число от 0 до 255."}));
  }
  return byte;
}

// A refused request leaves the window variables as they were.
Request Start(const RequestNumbers& before, const Refusals& refusals) {
  Request r;
  r.numbers = before;
  r.refusal = refusals.Text();
  return r;
}

ByteString Body(std::initializer_list<unsigned char> bytes) {
  ByteString body;
  for (unsigned char b : bytes) body += ByteChar(b);
  return body;
}

// Read and numeric write share everything but the function code and field names.
Request TwoWordRequest(unsigned char function, std::string_view slave, std::string_view first,
                       std::string_view firstField, std::string_view second,
                       std::string_view secondField, const RequestNumbers& before) {
  Refusals refusals;
  const Word16 w1 = ReadWord(first, firstField, refusals);
  const Word16 w2 = ReadWord(second, secondField, refusals);
  const auto address = ReadSlave(slave, refusals);
  Request r = Start(before, refusals);
  if (r.Refused()) return r;
  r.numbers.NumValue = w2.value;
  r.numbers.Word1Hi = w1.hi;
  r.numbers.Word1Lo = w1.lo;
  r.numbers.Word2Hi = w2.hi;
  r.numbers.Word2Lo = w2.lo;
  r.body = Body({*address, function, *w1.hiByte, *w1.loByte, *w2.hiByte, *w2.loByte});
  return r;
}

}  // namespace

Request ReadRequest(std::string_view slave, std::string_view start, std::string_view count,
                    const RequestNumbers& before) {
  return TwoWordRequest(kReadHolding, slave, start, kRegisterField, count, kCountField, before);
}

Request WriteRequest(std::string_view slave, std::string_view reg, std::string_view value,
                     const RequestNumbers& before) {
  return TwoWordRequest(kWriteSingle, slave, reg, kRegisterField, value, kValueField, before);
}

Request CharWriteRequest(std::string_view slave, std::string_view reg, std::string_view chars,
                         const RequestNumbers& before) {
  Refusals refusals;
  const Word16 w1 = ReadWord(reg, kRegisterField, refusals);

  const std::u32string codes = Utf8ToCodePoints(chars);
  std::optional<unsigned char> first;
  std::optional<unsigned char> second;
  constexpr std::string_view kAccepts = ". Нужны два символа кодировки Windows-1251.";
  if (codes.size() < 2) {
    refusals.Add(Concat({"Поле ", kCharsField, ": введено символов: ",
                         std::to_string(codes.size()), kAccepts}));
  } else {
    first = UnicodeToCp1251(codes[0]);
    second = UnicodeToCp1251(codes[1]);
    if (!first || !second) {
      std::string shown;
      AppendUtf8(shown, first ? codes[1] : codes[0]);
      refusals.Add(Concat({"Поле ", kCharsField, ": символа «", shown,
                           "» нет в кодировке Windows-1251", kAccepts}));
    }
  }

  const auto address = ReadSlave(slave, refusals);
  Request r = Start(before, refusals);
  if (r.Refused()) return r;
  // Word2Hi is not part of this path and keeps whatever it held.
  r.numbers.Word1Hi = w1.hi;
  r.numbers.Word1Lo = w1.lo;
  r.numbers.Word2Lo = *first;
  r.numbers.NumValue = *second;
  r.body = Body({*address, kWriteSingle, *w1.hiByte, *w1.loByte, *first, *second});
  return r;
}

Request InfoRequest(std::string_view slave, const RequestNumbers& before) {
  Refusals refusals;
  const auto address = ReadSlave(slave, refusals);
  Request r = Start(before, refusals);
  if (r.Refused()) return r;
  r.body = Body({*address, kReportSlaveId});
  return r;
}

}  // namespace rilvano
