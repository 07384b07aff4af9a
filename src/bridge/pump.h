#pragma once
// The two copy loops of the bridge, written over the ends they connect so that
// their logic runs the same against a port and a pipe or against test fakes.

#include <atomic>
#include <cstdint>

#include "bridge/port_loss.h"

constexpr std::uint32_t pumpBufferSize = 4096;
// Pause after a read that brought nothing, so that idle loops cost no CPU.
constexpr std::uint32_t pumpIdleSleepMs = 10;

struct IoResult {
    std::uint32_t count;  // bytes moved, also when the call failed
    bool ok;
};

class PumpEnd {
public:
    virtual IoResult read(unsigned char* buffer, std::uint32_t capacity) = 0;
    virtual IoResult write(const unsigned char* buffer, std::uint32_t count) = 0;
    virtual void flush() = 0;
    // Queries the port's status, which also clears a line error: a serial port
    // with abort-on-error refuses every request after one until then. Called
    // after a failed read or write, and now and then on a quiet line. Returns
    // false when the port gave no answer (see PortLossWatch); an end that is
    // not a port always answers.
    virtual bool clearError() = 0;

protected:
    ~PumpEnd() = default;
};

using SleepFunction = void (*)(std::uint32_t milliseconds);
// Milliseconds of a steady clock.
using ClockFunction = std::uint64_t (*)();

// What both pumps share besides their ends.
struct PumpControl {
    const std::atomic<bool>& running;
    PortLossWatch& loss;
    SleepFunction sleep;
    ClockFunction now;
};

// Standard input to the port, while running holds. An empty read (nothing yet,
// end of input, or a failure such as a broken pipe) is followed by a pause.
// Each chunk is written once and flushed; a write that fails is retried once,
// for what it had not written, after the port's error is cleared. The status
// that clearing reports goes to the loss watch; once the port is lost, what
// the host writes has nowhere to go, and the pump returns.
void relayConsoleToPort(PumpEnd& console, PumpEnd& port, const PumpControl& control);

// The port to standard output, while running holds: drains the port with reads
// until one comes back empty, writing and flushing each chunk at once, then
// pauses. A failed port read clears the port's error and counts as empty. A
// quiet line has its status queried every portStatusIntervalMs, since a port
// that is gone may go on answering reads with nothing. Returns once the port
// is lost, after every byte it read has been written.
void relayPortToConsole(PumpEnd& port, PumpEnd& console, const PumpControl& control);
