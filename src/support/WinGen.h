// Number-to-text conversions that depend on no locale.
#pragma once

#include <cstdint>
#include <string>

// Exactly 8 upper-case hexadecimal digits, leading zeros kept.
std::string LongHex(std::uint32_t value);
// Exactly 2 upper-case hexadecimal digits.
std::string ByteHex(std::uint8_t value);
// Plain signed decimal.
std::string IntText(std::int32_t value);
// Fixed-point text with exactly `decimals` digits after the point, rounded
// half away from zero on the value's exact decimal expansion; "-" whenever
// the sign bit is set.
std::string FixedText(double value, std::uint16_t decimals);
