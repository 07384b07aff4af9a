#pragma once
// "getUSBPort" and "listUSBPorts": the COM ports of present USB serial devices.

#include <cstddef>
#include <cstdint>

#include "registry/serial_port_map.h"
#include "registry/value_table.h"

// The serial-port map of one command call: read when the first instance needs
// it, then shared by every identifier and instance of that call.
class PortMapOfCall {
public:
    const SerialPortMap& map();

private:
    SerialPortMap map_;
    bool read_ = false;
};

// One entry per instance found below the device key, 0 where the instance
// offers no usable port. Returns the number of entries filled.
std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           PortMapOfCall& portMap, std::int32_t (&ports)[valueSlotCount]);

// The command: one line per usable port of each identifier (argv[2..]), or
// one line with port 0, all written at once.
void runGetUsbPort(int argc, wchar_t** argv);

// The command: one line per present port of every device key below the USB
// tree, in getUSBPort's form, all written at once; nothing when none is present.
void runListUsbPorts();
