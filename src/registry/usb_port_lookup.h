#pragma once
// "getUSBPort" and "listUSBPorts": the COM ports of present USB serial devices.

#include <cstddef>
#include <cstdint>

#include "common/owned_handle.h"
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

// The function keys of composite devices in one command call. They lie
// beside the device's own key in the USB tree, so they are found either by
// one walk over the tree's sub-key names, shared by every identifier of the
// call, or per identifier by trying to open each of the 256 names its
// function keys can have. The call takes whichever costs fewer registry
// calls: a walk costs one per key of the tree (a thousand and more on a
// machine that has seen many devices), trying costs 256 per identifier. The
// results are the same: a device's function keys in interface-number order,
// which is also the order in which Windows and Wine enumerate them (both keep
// sub-keys sorted by name).
class UsbTreeOfCall {
public:
    // lookups: how many identifiers the call looks up.
    explicit UsbTreeOfCall(std::size_t lookups) : lookups_(lookups) {}

    // Adds to table the instances below each function key of the device whose
    // identifier gave these fields, until the table is full.
    void collectFunctionPorts(ValueTable& table, const wchar_t* vendorField,
                              const wchar_t* productField);

    // The walk, listing every device on the way (listUSBPorts); later lookups
    // use the function keys it found.
    void walk(ListedDevices& devices);

private:
    void open();
    void walkTree(DWORD subKeys, ListedDevices* devices);
    void probeFunctionKeys(ValueTable& table, const wchar_t* vendorField,
                           const wchar_t* productField);
    void collectWalkedFunctionKeys(ValueTable& table, const wchar_t* vendorField,
                                   const wchar_t* productField);

    std::size_t lookups_;
    OwnedKey tree_;
    bool opened_ = false;
    bool walked_ = false;
    FunctionKeys functionKeys_;
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
