#include "bridge/pump.h"

namespace {

// Queries the port's status and tells the loss watch what came of it.
void checkPort(PumpEnd& port, const PumpControl& control)
{
    const bool answered = port.clearError();
    control.loss.noteStatus(answered, control.now());
}

}  // namespace

void relayConsoleToPort(PumpEnd& console, PumpEnd& port, const PumpControl& control)
{
    unsigned char buffer[pumpBufferSize];
    while (control.running.load() && !control.loss.lost()) {
        const IoResult got = console.read(buffer, pumpBufferSize);
        if (got.count == 0) {
            control.sleep(pumpIdleSleepMs);
            continue;
        }
        // What the port does not take within its write time-out is dropped:
        // the time-outs are the caller's choice between waiting and losing.
        const IoResult put = port.write(buffer, got.count);
        if (!put.ok) {
            checkPort(port, control);
            if (put.count < got.count
                && !port.write(buffer + put.count, got.count - put.count).ok) {
                checkPort(port, control);
            }
        }
        port.flush();
    }
}

void relayPortToConsole(PumpEnd& port, PumpEnd& console, const PumpControl& control)
{
    unsigned char buffer[pumpBufferSize];
    while (control.running.load()) {
        for (;;) {
            const IoResult got = port.read(buffer, pumpBufferSize);
            if (!got.ok) {
                checkPort(port, control);
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
        if (!control.loss.lost() && control.loss.statusDue(control.now())) {
            checkPort(port, control);
        }
        if (control.loss.lost()) {
            return;  // every byte read has been written
        }
        control.sleep(pumpIdleSleepMs);
    }
}
