#include "registry/serial_port_map.h"

void SerialPortMap::add(const WideChar* deviceName, const WideChar* portName)
{
    if (text_.failed() || starts_.failed()) {
        return;
    }
    const std::size_t start = text_.size();
    text_.append(deviceName, wideLength(deviceName) + 1);
    text_.append(portName, wideLength(portName) + 1);
    // Only a value whose text is whole is listed; a torn one would pair a
    // device name with the wrong port.
    if (!text_.failed()) {
        starts_.push(start);
    }
}

const WideChar* SerialPortMap::findSerialDeviceName(const WideChar* portName) const
{
    for (std::size_t i = 0; i < starts_.size(); ++i) {
        const WideChar* deviceName = text_.data() + starts_.data()[i];
        const WideChar* valuePort = deviceName + wideLength(deviceName) + 1;
        if (wideEquals(valuePort, portName)) {
            return deviceName;
        }
    }
    return nullptr;
}
