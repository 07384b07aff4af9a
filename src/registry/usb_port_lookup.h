#pragma once
// "getUSBPort": the COM ports of present USB serial devices.

#include <cstddef>
#include <cstdint>

#include "common/grow_buffer.h"
#include "registry/value_table.h"

// One entry per instance found below the device key, 0 where the instance
// offers no usable port. Returns the number of entries filled.
std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           std::int32_t (&ports)[valueSlotCount]);

// Finds the kernel device name under which the serial-port map lists
// portName (exact, case included). deviceName receives it, terminated.
bool findSerialDeviceName(GrowBuffer<wchar_t>& deviceName, const wchar_t* portName);

// The command: one line per usable port of each identifier (argv[2..]), or
// one line with port 0, all written at once.
void runGetUsbPort(int argc, wchar_t** argv);
