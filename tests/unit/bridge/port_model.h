#pragma once
// The bridge's two pumps as Windows runs them, in virtual time.
//
// Windows runs the requests on a handle opened without FILE_FLAG_OVERLAPPED
// one at a time: ReadFile, WriteFile, FlushFileBuffers and ClearCommError on
// the port each wait until the request in progress from the other thread has
// returned. So while the port-to-stdout pump's read waits out its read
// time-out, the host's bytes wait with it; and a write the device does not
// take holds up the reads until its write time-out. Wine runs the two side by
// side, so nothing measured under Wine shows this.
//
// The model runs the real pump loops (bridge/pump.h) on two threads over a
// port that keeps the platform's time-out rules, a pipe from the host, and a
// virtual clock. Only one thread runs at a time, and the clock moves on only
// when both wait, to the next moment one of them can go on: a run gives the
// same figures every time, to the microsecond, however busy the machine is.

#include <cstdint>
#include <vector>

#include "bridge/open_arguments.h"
#include "bridge/pump.h"

namespace portmodel {

using Bytes = std::vector<unsigned char>;
using Micros = std::uint64_t;  // virtual time
constexpr Micros never = ~Micros{0};

constexpr Micros milliseconds(std::uint64_t count)
{
    return count * 1000;
}

struct Timed {
    Micros at;
    Bytes bytes;
};

enum class Handle {
    oneAtATime,  // Windows: a port request waits for the other thread's
    bothAtOnce,  // Wine: the two directions never wait for each other
};

enum class Device {
    takesAll,      // takes every byte at once, as a USB device's endpoint does
    takesNothing,  // takes no byte: every write waits out its write time-out
};

// A pump loop as bridge/pump.h declares them; a test may put a faulty one in.
using Relay = void (*)(PumpEnd& from, PumpEnd& to, const PumpControl& control);

struct Scenario {
    PortTimeouts timeouts;
    Handle handle = Handle::oneAtATime;
    Device device = Device::takesAll;
    std::vector<Timed> hostWrites;   // into the bridge's stdin, in time order
    std::vector<Timed> deviceSends;  // into the port, in time order
    Micros end = milliseconds(10000);
    Relay consoleToPort = relayConsoleToPort;
    Relay portToConsole = relayPortToConsole;
};

struct Outcome {
    std::vector<Timed> toDevice;  // the bytes the device took, and when
    std::vector<Timed> toHost;    // the bytes written to stdout, and when
    // A pump made request after request without the clock moving on: it
    // would spin on a real machine. The run was cut short.
    bool runaway = false;
};

// Runs the scenario from virtual time 0 to its end. One run at a time.
Outcome run(const Scenario& scenario);

// For each write in `sent`, the time until its last byte came out in
// `received`, the two byte streams matched by position; `never` for one that
// did not come out. (After a dropped byte, later positions no longer match:
// use it where a stream is passed whole or not at all.)
std::vector<Micros> delays(const std::vector<Timed>& sent, const std::vector<Timed>& received);

}  // namespace portmodel
