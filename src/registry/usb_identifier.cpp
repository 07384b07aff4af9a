#include "registry/usb_identifier.h"

#include "common/decimal.h"

namespace {

void copyField(const WideChar* identifier, std::size_t length, std::size_t start, WideChar* field)
{
    std::size_t taken = 0;
    for (std::size_t i = start; i < length && taken < 4; ++i) {
        field[taken++] = identifier[i];
    }
    while (taken < 8) {
        field[taken++] = 0;
    }
}

const WideChar usbTreePrefix[] = CORVEL_WIDE("SYSTEM\\CurrentControlSet\\Enum\\USB\\");

// Appends text as far as it fits, leaving room for the terminator.
template <std::size_t capacity>
void appendText(WideChar (&buffer)[capacity], std::size_t& used, const WideChar* text)
{
    while (*text != 0 && used + 1 < capacity) {
        buffer[used++] = *text++;
    }
    buffer[used] = 0;
}

bool isHexDigit(WideChar unit)
{
    return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f')
           || (unit >= 'A' && unit <= 'F');
}

WideChar asciiUpper(WideChar unit)
{
    return unit >= 'a' && unit <= 'z' ? static_cast<WideChar>(unit - 'a' + 'A') : unit;
}

enum class LetterCase { exact, ignored };

// Whether text holds pattern, where 'h' stands for one hexadecimal digit and
// every other unit for itself (in either case where letterCase says so), and
// nothing after it. Patterns spell their letters in upper case.
bool matchesPattern(const WideChar* text, const char* pattern, LetterCase letterCase)
{
    for (; *pattern != 0; ++pattern, ++text) {
        const WideChar unit = letterCase == LetterCase::ignored ? asciiUpper(*text) : *text;
        const bool ok = *pattern == 'h' ? isHexDigit(*text)
                                        : unit == static_cast<WideChar>(*pattern);
        if (!ok) {
            return false;  // also at text's terminator, which matches nothing
        }
    }
    return *text == 0;
}

const char plainKeyPattern[] = "VID_hhhh&PID_hhhh";
const char functionKeyPattern[] = "VID_hhhh&PID_hhhh&MI_hh";
constexpr std::size_t vendorOffset = 4;
constexpr std::size_t productOffset = 13;

constexpr std::size_t interfaceOffset = 21;

unsigned hexValue(WideChar digit)
{
    if (digit >= '0' && digit <= '9') {
        return digit - '0';
    }
    return asciiUpper(digit) - 'A' + 10;
}

// Exactly four hexadecimal digits.
bool isHexField(const WideChar* field)
{
    for (std::size_t i = 0; i < 4; ++i) {
        if (!isHexDigit(field[i])) {
            return false;  // also at the terminator of a shorter field
        }
    }
    return field[4] == 0;
}

// Whether field is exactly the four units at digits, in either case.
bool sameField(const WideChar* digits, const WideChar* field)
{
    for (std::size_t i = 0; i < 4; ++i) {
        if (field[i] == 0 || asciiUpper(field[i]) != asciiUpper(digits[i])) {
            return false;
        }
    }
    return field[4] == 0;
}

}  // namespace

DeviceFields splitIdentifier(const WideChar* identifier)
{
    const std::size_t length = wideLength(identifier);
    DeviceFields fields;
    copyField(identifier, length, 2, fields.product);
    copyField(identifier, length, 6, fields.vendor);
    return fields;
}

void buildDeviceKeyPath(const WideChar* vendor, const WideChar* product,
                        WideChar (&path)[deviceKeyPathCapacity])
{
    std::size_t used = 0;
    appendText(path, used, usbTreePrefix);
    appendText(path, used, CORVEL_WIDE("VID_"));
    appendText(path, used, vendor);
    appendText(path, used, CORVEL_WIDE("&PID_"));
    appendText(path, used, product);
}

void buildTreeKeyPath(const WideChar* keyName, WideChar (&path)[deviceKeyPathCapacity])
{
    std::size_t used = 0;
    appendText(path, used, usbTreePrefix);
    appendText(path, used, keyName);
}

std::int32_t usablePort(const WideChar* portName, const WideChar* deviceName)
{
    std::int32_t port = 0;
    std::int32_t serialIndex = -1;
    scanPrefixedDecimal(portName, CORVEL_WIDE("COM"), port);
    scanPrefixedDecimal(deviceName, CORVEL_WIDE("\\Device\\USBSER"), serialIndex);
    return serialIndex == -1 ? 0 : port;
}

bool isFunctionKey(const WideChar* keyName)
{
    return matchesPattern(keyName, functionKeyPattern, LetterCase::ignored);
}

bool isFunctionKeyOf(const WideChar* keyName, const WideChar* vendor, const WideChar* product)
{
    return isFunctionKey(keyName) && sameField(keyName + vendorOffset, vendor)
           && sameField(keyName + productOffset, product);
}

unsigned functionInterfaceNumber(const WideChar* keyName)
{
    const WideChar* digits = keyName + interfaceOffset;
    return hexValue(digits[0]) * 16 + hexValue(digits[1]);
}

bool buildFunctionKeyName(const WideChar* vendor, const WideChar* product, unsigned number,
                          WideChar (&name)[functionKeyNameCapacity])
{
    if (!isHexField(vendor) || !isHexField(product) || number >= interfaceNumberCount) {
        return false;
    }
    const char upperDigits[] = "0123456789ABCDEF";
    std::size_t used = 0;
    appendText(name, used, CORVEL_WIDE("VID_"));
    appendText(name, used, vendor);
    appendText(name, used, CORVEL_WIDE("&PID_"));
    appendText(name, used, product);
    appendText(name, used, CORVEL_WIDE("&MI_"));
    name[used++] = static_cast<WideChar>(upperDigits[number / 16]);
    name[used++] = static_cast<WideChar>(upperDigits[number % 16]);
    name[used] = 0;
    return true;
}

bool identifierFromDeviceKey(const WideChar* keyName,
                             WideChar (&identifier)[deviceIdentifierCapacity])
{
    if (!matchesPattern(keyName, plainKeyPattern, LetterCase::exact)
        && !matchesPattern(keyName, functionKeyPattern, LetterCase::exact)) {
        return false;
    }
    const WideChar* vendor = keyName + vendorOffset;
    const WideChar* product = keyName + productOffset;
    std::size_t used = 0;
    identifier[used++] = '0';
    identifier[used++] = 'x';
    for (std::size_t i = 0; i < 4; ++i) {
        identifier[used++] = product[i];
    }
    for (std::size_t i = 0; i < 4; ++i) {
        identifier[used++] = vendor[i];
    }
    identifier[used] = 0;
    return true;
}

bool sameDevice(const WideChar* identifier, const WideChar* other)
{
    // Both begin with "0x"; the digits follow.
    for (std::size_t i = 2;; ++i) {
        if (asciiUpper(identifier[i]) != asciiUpper(other[i])) {
            return false;
        }
        if (identifier[i] == 0) {
            return true;
        }
    }
}

void appendPortLine(GrowBuffer<WideChar>& output, const WideChar* identifier, std::int32_t port)
{
    output.append(identifier, wideLength(identifier));
    output.push(' ');
    WideChar digits[decimalCapacity];
    output.append(digits, formatDecimal(port, digits));
    output.push('\n');
}
