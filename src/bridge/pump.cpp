#include "bridge/pump.h"

void relayConsoleToPort(PumpEnd& console, PumpEnd& port, const std::atomic<bool>& running,
                        SleepFunction sleep)
{
    unsigned char buffer[pumpBufferSize];
    while (running.load()) {
        const IoResult got = console.read(buffer, pumpBufferSize);
        if (got.count == 0) {
            sleep(pumpIdleSleepMs);
            continue;
        }
        // What the port does not take within its write time-out is dropped:
        // the time-outs are the caller's choice between waiting and losing.
        const IoResult put = port.write(buffer, got.count);
        if (!put.ok) {
            port.clearError();
            if (put.count < got.count
                && !port.write(buffer + put.count, got.count - put.count).ok) {
                port.clearError();
            }
        }
        port.flush();
    }
}

void relayPortToConsole(PumpEnd& port, PumpEnd& console, const std::atomic<bool>& running,
                        SleepFunction sleep)
{
    unsigned char buffer[pumpBufferSize];
    while (running.load()) {
        for (;;) {
            const IoResult got = port.read(buffer, pumpBufferSize);
            if (!got.ok) {
                port.clearError();
            }
            if (got.count == 0) {
                break;
            }
            console.write(buffer, got.count);
            console.flush();
            if (!got.ok) {
                break;
            }
        }
        sleep(pumpIdleSleepMs);
    }
}
