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

// The USB device enumeration tree: one key per vendor/product pair.
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

// Appends a line for each usable port of one identifier; returns whether it
// appended any.
bool appendUsablePorts(GrowBuffer<wchar_t>& output, const wchar_t* identifier,
                       PortMapOfCall& portMap)
{
    const DeviceFields fields = splitIdentifier(identifier);
    std::int32_t ports[valueSlotCount] = {};
    const std::size_t count = lookupUsbPorts(fields.vendor, fields.product, portMap, ports);
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

std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           PortMapOfCall& portMap, std::int32_t (&ports)[valueSlotCount])
{
    wchar_t path[deviceKeyPathCapacity];
    buildDeviceKeyPath(vendorField, productField, path);

    ValueTable table;
    clearValueTable(table);
    if (!collectRegistryValues(table, path, L"PortName")) {
        return 0;
    }
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
    GrowBuffer<wchar_t> output;
    for (int arg = 2; arg < argc; ++arg) {
        if (!appendUsablePorts(output, argv[arg], portMap)) {
            appendPortLine(output, argv[arg], 0);
        }
    }
    writeOutput(output);
}

void runListUsbPorts()
{
    PortMapOfCall portMap;
    GrowBuffer<wchar_t> output;
    const OwnedKey tree = openMachineKey(usbTreePath);
    if (tree.valid()) {
        const KeyCounts counts = queryKeyCounts(tree.get());
        wchar_t keyName[keyNameCapacity];
        for (DWORD index = 0; index < counts.subKeys; ++index) {
            wchar_t identifier[deviceIdentifierCapacity];
            if (readSubKeyName(tree.get(), index, keyName)
                && identifierFromDeviceKey(keyName, identifier)) {
                appendUsablePorts(output, identifier, portMap);
            }
        }
    }
    writeOutput(output);
}
