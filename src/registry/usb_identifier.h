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

// "SYSTEM\CurrentControlSet\Enum\USB\<keyName>", below HKLM, for a sub-key of
// the tree that the enumeration named (a function key).
void buildTreeKeyPath(const WideChar* keyName, WideChar (&path)[deviceKeyPathCapacity]);

// The port an instance offers, from its "PortName" data and the kernel device
// name that the serial-port map lists for that port name: "COM<n>" gives n,
// provided the device name reads "\Device\USBSER<m>" (the USB serial driver's
// ports; m = -1 reads as no match). Anything else gives 0.
std::int32_t usablePort(const WideChar* portName, const WideChar* deviceName);

// The key names below the USB tree that belong to a device. Windows keeps a
// device under "VID_vvvv&PID_pppp" and, when it is composite (a serial
// function beside HID, storage or a vendor interface), each of its functions
// under "VID_vvvv&PID_pppp&MI_xx" besides, xx being the function's first
// interface number in two hexadecimal digits. A serial function's port lives
// only in its "&MI_xx" key.

// Whether keyName is the key of a function of the device whose identifier
// gave these fields (four hexadecimal digits each): "VID_<vendor>&PID_<product>
// &MI_xx", without the blank. Names are compared as the registry compares key
// names, without regard to (ASCII) case, since the device key itself is opened
// by a path whose case does not matter either.
bool isFunctionKeyOf(const WideChar* keyName, const WideChar* vendor, const WideChar* product);

// Whether keyName is the key of a function of any device, in the same way.
bool isFunctionKey(const WideChar* keyName);

// Interface numbers are one byte: a device has at most 256 function keys,
// "&MI_00" to "&MI_FF".
constexpr unsigned interfaceNumberCount = 256;

// The interface number that a function key (isFunctionKey) names.
unsigned functionInterfaceNumber(const WideChar* keyName);

// The name of the function key with interface `number` (below
// interfaceNumberCount) of the device whose identifier gave these fields:
// the fields as given, the number in upper-case digits. False, and name
// untouched, unless both fields are four hexadecimal digits: no other fields
// can name a function key.
constexpr std::size_t functionKeyNameCapacity = 24;
bool buildFunctionKeyName(const WideChar* vendor, const WideChar* product, unsigned number,
                          WideChar (&name)[functionKeyNameCapacity]);

// The identifier getUSBPort takes for a device key below the USB tree, spelt
// as the key spells it: "VID_0483&PID_5740" and its functions'
// "VID_0483&PID_5740&MI_00" give "0x57400483". Only a name of exactly one of
// those forms (upper-case "VID_", "&PID_" and "&MI_", hexadecimal digits of
// either case) is a device key; hubs, "&MI_" with other than two digits and
// anything else give false, so that every identifier this returns leads
// getUSBPort back to the key it came from.
constexpr std::size_t deviceIdentifierCapacity = 11;
bool identifierFromDeviceKey(const WideChar* keyName,
                             WideChar (&identifier)[deviceIdentifierCapacity]);

// Whether two identifiers that identifierFromDeviceKey gave name the same
// device: the same digits, without regard to case, as getUSBPort finds one
// device's keys whatever the case of the identifier's digits.
bool sameDevice(const WideChar* identifier, const WideChar* other);

// Appends "<identifier> <port>\n": the whole identifier, however long.
void appendPortLine(GrowBuffer<WideChar>& output, const WideChar* identifier, std::int32_t port);
