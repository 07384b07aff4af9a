#pragma once
// The sub-keys of the USB tree that the lookup commands need, as one
// enumeration of the tree saw them.
//
// A composite device's functions are keys beside the device's own key, not
// below it. A command that walks the tree to find them (listUSBPorts always,
// getUSBPort when that costs fewer calls than trying names) walks it once and
// answers every identifier from these lists.

#include <cstddef>

#include "common/grow_buffer.h"
#include "common/wide.h"
#include "registry/usb_identifier.h"

// The names of every device's function keys ("VID_vvvv&PID_pppp&MI_xx"), in
// the order taken. A list that ran out of memory while being filled answers
// from the names it holds.
class FunctionKeys {
public:
    // Takes the next sub-key name of the tree; keeps it if it is a function key.
    void add(const WideChar* keyName);

    std::size_t count() const { return names_.size(); }
    const WideChar* name(std::size_t index) const { return names_.data()[index].units; }

    // The indexes of the function keys of the device whose identifier gave
    // these fields, in interface-number order (keys of one number, which a
    // registry cannot hold twice, in the order taken). Returns their count.
    std::size_t keysOf(const WideChar* vendor, const WideChar* product,
                       std::size_t (&indexes)[interfaceNumberCount]) const;

private:
    struct Name {
        WideChar units[functionKeyNameCapacity];
    };
    GrowBuffer<Name> names_;
};

// The devices listUSBPorts lists: one identifier per device, from the first of
// its keys (its own or a function's) in enumeration order, spelt as that key
// spells it. A device's keys may come in any order and with their digits in
// different case; each device is listed once all the same.
class ListedDevices {
public:
    // Takes the next sub-key name of the tree.
    void add(const WideChar* keyName);

    std::size_t count() const { return identifiers_.size(); }
    const WideChar* identifier(std::size_t index) const
    {
        return identifiers_.data()[index].units;
    }

private:
    struct Identifier {
        WideChar units[deviceIdentifierCapacity];
    };
    bool listed(const WideChar* identifier) const;

    GrowBuffer<Identifier> identifiers_;
};
