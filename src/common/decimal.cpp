#include "common/decimal.h"

namespace {

// The white space the runtime's "%d" skips before a number: its iswspace()
// set, which is Unicode's, not only ASCII's.
bool isScanSpace(WideChar unit)
{
    switch (unit) {
    case 0x20: case 0xA0: case 0x1680: case 0x2028: case 0x2029: case 0x202F: case 0x205F:
    case 0x3000:
        return true;
    default:
        return (unit >= 0x09 && unit <= 0x0D) || (unit >= 0x2000 && unit <= 0x200A);
    }
}

bool isDigit(WideChar unit)
{
    return unit >= '0' && unit <= '9';
}

}  // namespace

bool scanDecimal(const WideChar* text, std::int32_t& value)
{
    while (isScanSpace(*text)) {
        ++text;
    }
    bool negative = false;
    if (*text == '+' || *text == '-') {
        negative = *text == '-';
        ++text;
    }
    if (!isDigit(*text)) {
        return false;
    }
    // Unsigned arithmetic wraps modulo 2^32, which is what the runtime's
    // conversion leaves in a 32-bit destination for overlong digit strings.
    std::uint32_t magnitude = 0;
    while (isDigit(*text)) {
        magnitude = magnitude * 10u + static_cast<std::uint32_t>(*text - '0');
        ++text;
    }
    if (negative) {
        magnitude = 0u - magnitude;
    }
    value = static_cast<std::int32_t>(magnitude);
    return true;
}

bool scanPrefixedDecimal(const WideChar* text, const WideChar* prefix, std::int32_t& value)
{
    while (*prefix != 0) {
        if (*text != *prefix) {
            return false;
        }
        ++text;
        ++prefix;
    }
    return scanDecimal(text, value);
}

unsigned formatDecimal(std::int32_t value, WideChar* out)
{
    std::uint32_t magnitude = static_cast<std::uint32_t>(value);
    unsigned count = 0;
    if (value < 0) {
        out[count++] = '-';
        magnitude = 0u - magnitude;
    }
    WideChar reversed[10];
    unsigned digits = 0;
    do {
        reversed[digits++] = static_cast<WideChar>('0' + magnitude % 10u);
        magnitude /= 10u;
    } while (magnitude != 0);
    while (digits != 0) {
        out[count++] = reversed[--digits];
    }
    return count;
}
