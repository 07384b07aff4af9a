#pragma once
// The two copy loops of the bridge, written over the ends they connect so that
// their logic runs the same against a port and a pipe or against test fakes.

#include <atomic>
#include <cstdint>

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
    // Called after a failed read or write. A serial port with abort-on-error
    // refuses every request after a line error until the error is cleared.
    virtual void clearError() = 0;

protected:
    ~PumpEnd() = default;
};

using SleepFunction = void (*)(std::uint32_t milliseconds);

// Standard input to the port, while running holds. An empty read (nothing yet,
// end of input, or a failure such as a broken pipe) is followed by a pause.
// Each chunk is written once and flushed; a write that fails is retried once,
// for what it had not written, after the port's error is cleared.
void relayConsoleToPort(PumpEnd& console, PumpEnd& port, const std::atomic<bool>& running,
                        SleepFunction sleep);

// The port to standard output, while running holds: drains the port with reads
// until one comes back empty, writing and flushing each chunk at once, then
// pauses. A failed port read clears the port's error and counts as empty.
void relayPortToConsole(PumpEnd& port, PumpEnd& console, const std::atomic<bool>& running,
                        SleepFunction sleep);
