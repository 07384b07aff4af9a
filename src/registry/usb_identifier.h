#pragma once
// Device identifiers of "getUSBPort" and the lines it answers with.
//
// An identifier is a two-character prefix, the product id and the vendor id,
// four hexadecimal digits each, as device keys name them: "0x57400483" is
// product 5740 of vendor 0483. Characters after the tenth are echoed but play
// no part in the lookup.

#include <cstddef>
#include <cstdint>

#include "common/grow_buffer.h"
#include "common/wide.h"

struct DeviceFields {
    WideChar product[8];  // units 2..5 of the identifier
    WideChar vendor[8];   // units 6..9 of the identifier
};

// Takes each field from its fixed position, at most four units, and only the
// units that exist: a short identifier gives short or empty fields and is
// never read past its end.
DeviceFields splitIdentifier(const WideChar* identifier);

// "SYSTEM\CurrentControlSet\Enum\USB\VID_<vendor>&PID_<product>", below HKLM.
constexpr std::size_t deviceKeyPathCapacity = 64;
void buildDeviceKeyPath(const WideChar* vendor, const WideChar* product,
                        WideChar (&path)[deviceKeyPathCapacity]);

// The port an instance offers, from its "PortName" data and the kernel device
// name that the serial-port map lists for that port name: "COM<n>" gives n,
// provided the device name reads "\Device\USBSER<m>" (the USB serial driver's
// ports; m = -1 reads as no match). Anything else gives 0.
std::int32_t usablePort(const WideChar* portName, const WideChar* deviceName);

// The identifier getUSBPort takes for a device key below the USB tree, spelt
// as the key spells it: "VID_0483&PID_5740" gives "0x57400483". Only a name of
// exactly that form (17 units, upper-case "VID_" and "&PID_", hexadecimal
// digits of either case) is a device key; composite functions ("...&MI_00"),
// hubs and anything else give false, so that every identifier this returns
// leads getUSBPort back to the same key.
constexpr std::size_t deviceIdentifierCapacity = 11;
bool identifierFromDeviceKey(const WideChar* keyName,
                             WideChar (&identifier)[deviceIdentifierCapacity]);

// Appends "<identifier> <port>\n": the whole identifier, however long.
void appendPortLine(GrowBuffer<WideChar>& output, const WideChar* identifier, std::int32_t port);
