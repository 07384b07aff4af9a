#pragma once
// "getUSBPort" and "listUSBPorts": the COM ports of present USB serial devices.

#include <cstddef>
#include <cstdint>

#include "registry/serial_port_map.h"
#include "registry/usb_tree_keys.h"
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

// The function keys of the USB tree in one command call: read by one walk of
// the tree when the first identifier needs them, then shared by every
// identifier of that call.
class UsbTreeOfCall {
public:
    const FunctionKeys& functionKeys();

    // The same walk, listing every device on the way (listUSBPorts); the
    // function keys are read by it too.
    void readWithDevices(ListedDevices& devices);

private:
    FunctionKeys functionKeys_;
    bool read_ = false;
};

// One entry per instance found below the device key and then below each of
// the device's function keys, in enumeration order; 0 where the instance
// offers no usable port. Returns the number of entries filled (at most
// valueSlotCount: instances beyond that give none).
std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           PortMapOfCall& portMap, UsbTreeOfCall& tree,
                           std::int32_t (&ports)[valueSlotCount]);

// The command: one line per usable port of each identifier (argv[2..]), or
// one line with port 0, all written at once.
void runGetUsbPort(int argc, wchar_t** argv);

// The command: for each device of the USB tree (its own key or a function
// key), the lines getUSBPort gives for the device's identifier, leaving out
// the line with port 0; all written at once, nothing when none is present.
void runListUsbPorts();
