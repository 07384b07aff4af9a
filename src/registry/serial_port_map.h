#pragma once
// The serial-port map as one read of it saw it.
//
// The map lists every serial port present now: each value's name is a port's
// kernel device name, its data the port name. A lookup command reads it once
// and answers every identifier and instance from that copy, instead of opening
// and scanning the key again for each instance (a device seen at many USB
// sockets has many instances).

#include <cstddef>

#include "common/grow_buffer.h"
#include "common/wide.h"

class SerialPortMap {
public:
    // Adds the next value in the registry's enumeration order.
    void add(const WideChar* deviceName, const WideChar* portName);

    // The device name of the first value, in enumeration order, whose port
    // name equals portName exactly (case included); nullptr when none does.
    // A map that ran out of memory while being read answers from the values
    // it holds.
    const WideChar* findSerialDeviceName(const WideChar* portName) const;

private:
    // Each value as "<device name>\0<port name>\0", one after the other.
    GrowBuffer<WideChar> text_;
    // Where each value's device name starts in text_.
    GrowBuffer<std::size_t> starts_;
};
