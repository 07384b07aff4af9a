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

void appendText(WideChar* path, std::size_t& used, const WideChar* text)
{
    while (*text != 0 && used + 1 < deviceKeyPathCapacity) {
        path[used++] = *text++;
    }
    path[used] = 0;
}

bool isHexDigit(WideChar unit)
{
    return (unit >= '0' && unit <= '9') || (unit >= 'a' && unit <= 'f')
           || (unit >= 'A' && unit <= 'F');
}

// Whether text holds pattern, where 'h' stands for one hexadecimal digit and
// every other unit for itself, and nothing after it.
bool matchesPattern(const WideChar* text, const char* pattern)
{
    for (; *pattern != 0; ++pattern, ++text) {
        const bool ok = *pattern == 'h' ? isHexDigit(*text)
                                        : *text == static_cast<WideChar>(*pattern);
        if (!ok) {
            return false;  // also at text's terminator, which matches nothing
        }
    }
    return *text == 0;
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
    appendText(path, used, CORVEL_WIDE("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_"));
    appendText(path, used, vendor);
    appendText(path, used, CORVEL_WIDE("&PID_"));
    appendText(path, used, product);
}

std::int32_t usablePort(const WideChar* portName, const WideChar* deviceName)
{
    std::int32_t port = 0;
    std::int32_t serialIndex = -1;
    scanPrefixedDecimal(portName, CORVEL_WIDE("COM"), port);
    scanPrefixedDecimal(deviceName, CORVEL_WIDE("\\Device\\USBSER"), serialIndex);
    return serialIndex == -1 ? 0 : port;
}

bool identifierFromDeviceKey(const WideChar* keyName,
                             WideChar (&identifier)[deviceIdentifierCapacity])
{
    if (!matchesPattern(keyName, "VID_hhhh&PID_hhhh")) {
        return false;
    }
    const WideChar* vendor = keyName + 4;
    const WideChar* product = keyName + 13;
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

void appendPortLine(GrowBuffer<WideChar>& output, const WideChar* identifier, std::int32_t port)
{
    output.append(identifier, wideLength(identifier));
    output.push(' ');
    WideChar digits[decimalCapacity];
    output.append(digits, formatDecimal(port, digits));
    output.push('\n');
}
