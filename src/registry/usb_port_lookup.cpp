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

bool tableFull(const ValueTable& table)
{
    return table.slots[valueSlotCount - 1][0] != 0;
}

void collectBelowTreeKey(ValueTable& table, const wchar_t* keyName)
{
    wchar_t path[deviceKeyPathCapacity];
    buildTreeKeyPath(keyName, path);
    collectRegistryValues(table, path, L"PortName");
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

void UsbTreeOfCall::open()
{
    if (opened_) {
        return;
    }
    opened_ = true;
    tree_ = openMachineKey(usbTreePath);
    if (!tree_.valid()) {
        return;
    }
    const KeyCounts counts = queryKeyCounts(tree_.get());
    if (counts.subKeys <= lookups_ * interfaceNumberCount) {
        walkTree(counts.subKeys, nullptr);
    }
}

void UsbTreeOfCall::walkTree(DWORD subKeys, ListedDevices* devices)
{
    walked_ = true;
    wchar_t keyName[keyNameCapacity];
    for (DWORD index = 0; index < subKeys; ++index) {
        if (!readSubKeyName(tree_.get(), index, keyName)) {
            continue;
        }
        functionKeys_.add(keyName);
        if (devices != nullptr) {
            devices->add(keyName);
        }
    }
}

void UsbTreeOfCall::walk(ListedDevices& devices)
{
    opened_ = true;
    tree_ = openMachineKey(usbTreePath);
    if (tree_.valid()) {
        walkTree(queryKeyCounts(tree_.get()).subKeys, &devices);
    }
}

void UsbTreeOfCall::collectFunctionPorts(ValueTable& table, const wchar_t* vendorField,
                                         const wchar_t* productField)
{
    wchar_t firstName[functionKeyNameCapacity];
    if (tableFull(table) || !buildFunctionKeyName(vendorField, productField, 0, firstName)) {
        return;  // no room left, or fields no function key can have: spares the calls
    }
    open();
    if (!tree_.valid()) {
        return;
    }
    if (walked_) {
        collectWalkedFunctionKeys(table, vendorField, productField);
    } else {
        probeFunctionKeys(table, vendorField, productField);
    }
}

void UsbTreeOfCall::probeFunctionKeys(ValueTable& table, const wchar_t* vendorField,
                                      const wchar_t* productField)
{
    wchar_t name[functionKeyNameCapacity];
    for (unsigned number = 0; number < interfaceNumberCount && !tableFull(table); ++number) {
        if (!buildFunctionKeyName(vendorField, productField, number, name)) {
            return;  // fields that no function key can have
        }
        if (subKeyExists(tree_.get(), name)) {
            collectBelowTreeKey(table, name);
        }
    }
}

void UsbTreeOfCall::collectWalkedFunctionKeys(ValueTable& table, const wchar_t* vendorField,
                                              const wchar_t* productField)
{
    std::size_t indexes[interfaceNumberCount];
    const std::size_t count = functionKeys_.keysOf(vendorField, productField, indexes);
    for (std::size_t i = 0; i < count && !tableFull(table); ++i) {
        collectBelowTreeKey(table, functionKeys_.name(indexes[i]));
    }
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
    tree.collectFunctionPorts(table, vendorField, productField);
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
    UsbTreeOfCall tree(argc > 2 ? static_cast<std::size_t>(argc - 2) : 0);
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
    UsbTreeOfCall tree(0);
    ListedDevices devices;
    tree.walk(devices);
    GrowBuffer<wchar_t> output;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        appendUsablePorts(output, devices.identifier(i), portMap, tree);
    }
    writeOutput(output);
}
