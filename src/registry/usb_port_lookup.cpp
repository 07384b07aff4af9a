#include "registry/usb_port_lookup.h"

#include "common/console.h"
#include "registry/registry_read.h"
#include "registry/usb_identifier.h"
#include "registry/value_collector.h"
#include "registry/value_data.h"

namespace {

// Lists every serial port present now: value name = kernel device name,
// data = port name. Ports of the USB serial driver are "\Device\USBSER<n>".
const wchar_t serialPortMap[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";

bool dataEquals(const ValueEntry& entry, const wchar_t* text)
{
    WideChar data[valueDataCapacity / 2 + 1];
    data[valueDataText(entry.data, entry.dataSize, data)] = 0;
    return wideEquals(data, text);
}

}  // namespace

bool findSerialDeviceName(GrowBuffer<wchar_t>& deviceName, const wchar_t* portName)
{
    const OwnedKey map = openMachineKey(serialPortMap);
    if (!map.valid()) {
        return false;
    }
    const KeyCounts counts = queryKeyCounts(map.get());
    ValueEntry entry;
    for (DWORD index = 0; index < counts.values; ++index) {
        if (readValueEntry(map.get(), index, entry) && dataEquals(entry, portName)) {
            deviceName.append(entry.name, wideLength(entry.name) + 1);
            return true;
        }
    }
    return false;
}

std::size_t lookupUsbPorts(const wchar_t* vendorField, const wchar_t* productField,
                           std::int32_t (&ports)[valueSlotCount])
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
        GrowBuffer<wchar_t> deviceName;
        const bool listed = findSerialDeviceName(deviceName, table.slots[slot]);
        ports[slot] = listed && !deviceName.failed()
                          ? usablePort(table.slots[slot], deviceName.data())
                          : 0;
    }
    return count;
}

void runGetUsbPort(int argc, wchar_t** argv)
{
    GrowBuffer<wchar_t> output;
    for (int arg = 2; arg < argc; ++arg) {
        const DeviceFields fields = splitIdentifier(argv[arg]);
        std::int32_t ports[valueSlotCount] = {};
        const std::size_t count = lookupUsbPorts(fields.vendor, fields.product, ports);
        bool anyLine = false;
        for (std::size_t i = 0; i < count; ++i) {
            if (ports[i] != 0) {
                appendPortLine(output, argv[arg], ports[i]);
                anyLine = true;
            }
        }
        if (!anyLine) {
            appendPortLine(output, argv[arg], 0);
        }
    }
    writeConsoleText(output.data() == nullptr ? L"" : output.data(), output.size());
}
