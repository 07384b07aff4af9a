#include "registry/usb_port_lookup.h"

#include "common/console.h"
#include "common/grow_buffer.h"
#include "registry/registry_read.h"
#include "registry/usb_identifier.h"
#include "registry/value_collector.h"
#include "registry/value_data.h"

namespace {

// Lists every serial port present now: value name = kernel device name,
// data = port name. Ports of the USB serial driver are "\Device\USBSER<n>".
const wchar_t serialPortMapPath[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

// The USB device enumeration tree: one key per device and one per function
// of a composite device.
const wchar_t usbTreePath[] = L"SYSTEM\\CurrentControlSet\\Enum\\USB";

// A missing map, or values that cannot be read, leave the map without those
// ports, so every instance naming them answers 0.
void readSerialPortMap(SerialPortMap& map)
{
    const OwnedKey key = openMachineKey(serialPortMapPath);
    if (!key.valid()) {
        return;
    }
    const KeyCounts counts = queryKeyCounts(key.get());
    ValueEntry entry;
    for (DWORD index = 0; index < counts.values; ++index) {
        if (!readValueEntry(key.get(), index, entry)) {
            continue;
        }
        WideChar portName[valueDataCapacity / 2 + 1];
        portName[valueDataText(entry.data, entry.dataSize, portName)] = 0;
        map.add(entry.name, portName);
    }
}

// One walk over the tree's sub-key names; devices may be nullptr.
void readUsbTree(FunctionKeys& functionKeys, ListedDevices* devices)
{
    const OwnedKey tree = openMachineKey(usbTreePath);
    if (!tree.valid()) {
        return;
    }
    const KeyCounts counts = queryKeyCounts(tree.get());
    wchar_t keyName[keyNameCapacity];
    for (DWORD index = 0; index < counts.subKeys; ++index) {
        if (!readSubKeyName(tree.get(), index, keyName)) {
            continue;
        }
        functionKeys.add(keyName);
        if (devices != nullptr) {
            devices->add(keyName);
        }
    }
}

bool tableFull(const ValueTable& table)
{
    return table.slots[valueSlotCount - 1][0] != 0;
}

// Adds the instances below each of the device's function keys, in the tree's
// enumeration order, until the table is full.
void collectFunctionPorts(ValueTable& table, const wchar_t* vendorField,
                          const wchar_t* productField, UsbTreeOfCall& tree)
{
    if (tableFull(table)) {
        return;  // spares the walk of the tree
    }
    const FunctionKeys& functionKeys = tree.functionKeys();
    for (std::size_t i = 0; i < functionKeys.count() && !tableFull(table); ++i) {
        const wchar_t* keyName = functionKeys.name(i);
        if (isFunctionKeyOf(keyName, vendorField, productField)) {
            wchar_t path[deviceKeyPathCapacity];
            buildTreeKeyPath(keyName, path);
            collectRegistryValues(table, path, L"PortName");
        }
    }
}

// Appends a line for each usable port of one identifier; returns whether it
// appended any.
bool appendUsablePorts(GrowBuffer<wchar_t>& output, const wchar_t* identifier,
                       PortMapOfCall& portMap, UsbTreeOfCall& tree)
{
    const DeviceFields fields = splitIdentifier(identifier);
    std::int32_t ports[valueSlotCount] = {};
    const std::size_t count =
        lookupUsbPorts(fields.vendor, fields.product, portMap, tree, ports);
    bool anyLine = false;
    for (std::size_t i = 0; i < count; ++i) {
        if (ports[i] != 0) {
            appendPortLine(output, identifier, ports[i]);
            anyLine = true;
        }
    }
    return anyLine;
}

void writeOutput(const GrowBuffer<wchar_t>& output)
{
    writeConsoleText(output.data() == nullptr ? L"" : output.data(), output.size());
}

}  // namespace

const SerialPortMap& PortMapOfCall::map()
{
    if (!read_) {
        readSerialPortMap(map_);
        read_ = true;
    }
    return map_;
}

const FunctionKeys& UsbTreeOfCall::functionKeys()
{
    if (!read_) {
        readUsbTree(functionKeys_, nullptr);
        read_ = true;
    }
    return functionKeys_;
}

void UsbTreeOfCall::readWithDevices(ListedDevices& devices)
{
    readUsbTree(functionKeys_, &devices);
    read_ = true;
}

std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           PortMapOfCall& portMap, UsbTreeOfCall& tree,
                           std::int32_t (&ports)[valueSlotCount])
{
    wchar_t path[deviceKeyPathCapacity];
    buildDeviceKeyPath(vendorField, productField, path);

    ValueTable table;
    clearValueTable(table);
    // A device key that cannot be opened yields nothing; a function key of the
    // device may still hold its port.
    collectRegistryValues(table, path, L"PortName");
    collectFunctionPorts(table, vendorField, productField, tree);
    const std::size_t count = findingCount(table);
    for (std::size_t slot = 0; slot < count; ++slot) {
        const wchar_t* deviceName = portMap.map().findSerialDeviceName(table.slots[slot]);
        ports[slot] = deviceName != nullptr ? usablePort(table.slots[slot], deviceName) : 0;
    }
    return count;
}

void runGetUsbPort(int argc, wchar_t** argv)
{
    PortMapOfCall portMap;
    UsbTreeOfCall tree;
    GrowBuffer<wchar_t> output;
    for (int arg = 2; arg < argc; ++arg) {
        if (!appendUsablePorts(output, argv[arg], portMap, tree)) {
            appendPortLine(output, argv[arg], 0);
        }
    }
    writeOutput(output);
}

// The device list comes first and the lookups after it: a device's keys may
// lie anywhere in the tree's order, and its lines must come together, as
// getUSBPort gives them for its identifier.
void runListUsbPorts()
{
    PortMapOfCall portMap;
    UsbTreeOfCall tree;
    ListedDevices devices;
    tree.readWithDevices(devices);
    GrowBuffer<wchar_t> output;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        appendUsablePorts(output, devices.identifier(i), portMap, tree);
    }
    writeOutput(output);
}
