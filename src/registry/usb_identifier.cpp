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

void appendPortLine(GrowBuffer<WideChar>& output, const WideChar* identifier, std::int32_t port)
{
    output.append(identifier, wideLength(identifier));
    output.push(' ');
    WideChar digits[decimalCapacity];
    output.append(digits, formatDecimal(port, digits));
    output.push('\n');
}
