#include "WinGen.h"

#include <cmath>
#include <cstdio>
#include <vector>

namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}

std::string LongHex(std::uint32_t value) {
  std::string text;
  std::uint32_t mask = 0xF0000000u;
  int shift = 28;
  while (mask != 0) {
    text += kHexDigits[(value & mask) >> shift];
    mask >>= 4;
    shift -= 4;
  }
  return text;
}

std::string ByteHex(std::uint8_t value) {
  return std::string{kHexDigits[value / 16], kHexDigits[value % 16]};
}

std::string IntText(std::int32_t value) { return std::to_string(value); }

std::string FixedText(double value, std::uint16_t decimals) {
  std::string sign = std::signbit(value) ? "-" : "";
  double magnitude = std::fabs(value);
  if (!(magnitude < 1e36)) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.14E", magnitude);
    return sign + buf;
  }
  // Enough digits past the wanted ones that the first dropped digit is the
  // exact expansion's, never one rounded by the conversion.
  constexpr int kGuardDigits = 30;
  std::vector<char> buf(80 + decimals + kGuardDigits);
  std::snprintf(buf.data(), buf.size(), "%.*f", decimals + kGuardDigits, magnitude);
  std::string digits = buf.data();
  std::size_t point = digits.find('.');
  std::string whole = digits.substr(0, point);
  std::string fraction = digits.substr(point + 1, decimals);
  bool roundUp = digits[point + 1 + decimals] >= '5';
  std::string kept = whole + fraction;
  if (roundUp) {
    int i = static_cast<int>(kept.size()) - 1;
    for (; i >= 0 && kept[i] == '9'; --i) kept[i] = '0';
    if (i >= 0) {
      ++kept[i];
    } else {
      kept.insert(kept.begin(), '1');
    }
  }
  std::string integer = kept.substr(0, kept.size() - decimals);
  std::size_t first = integer.find_first_not_of('0');
  integer = first == std::string::npos ? "0" : integer.substr(first);
  if (decimals == 0) return sign + integer;
  return sign + integer + "." + kept.substr(kept.size() - decimals);
}
