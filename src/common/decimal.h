#pragma once
// Decimal numbers in wide text, read and written the way the C runtime's "%d"
// conversion does, so that command-line numbers and registry names such as
// "COM12" mean what they mean to any other Windows program.

#include <cstdint>

#include "common/wide.h"

// Reads "%d" at the start of text: leading white space, an optional sign, one
// or more decimal digits. Digits beyond the range of a 32-bit value wrap
// around, as the runtime's conversion does. Returns false when no digit
// follows; value is then left unchanged.
bool scanDecimal(const WideChar* text, std::int32_t& value);

// Reads a literal prefix followed by "%d", as the format "COM%d" does: the
// prefix must match exactly, case included. Returns false (value unchanged)
// when the prefix or the number does not match.
bool scanPrefixedDecimal(const WideChar* text, const WideChar* prefix, std::int32_t& value);

// Writes value in decimal ("-" for negatives), without terminator, into out,
// which has room for at least decimalCapacity units. Returns the count written.
constexpr unsigned decimalCapacity = 11;
unsigned formatDecimal(std::int32_t value, WideChar* out);
