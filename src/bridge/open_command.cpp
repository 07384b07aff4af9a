#include "bridge/open_command.h"

#include <windows.h>

#include "bridge/host_watcher.h"
#include "bridge/open_arguments.h"
#include "bridge/serial_port.h"
#include "common/exit_codes.h"
#include "common/threads.h"

namespace {

constexpr DWORD mainPollMs = 50;

[[noreturn]] void refusePort()
{
    quietHostWatcher();
    endProcess(exitUnusablePort);
}

}  // namespace

void runOpen(int argc, wchar_t** argv)
{
    if (argc < 3) {
        endProcess(exitUnusablePort);  // no host name: nothing could end the bridge
    }
    hostAlive = true;  // before the watcher can clear it
    startThread(watchHostProcess, argv[2]);

    std::int32_t portNumber = 0;
    if (!readPortNumber(argc, argv, portNumber) || portNumber == 0) {
        refusePort();
    }
    if (!openSerialPort(portNumber, readPortTimeouts(argc, argv))) {
        refusePort();
    }
    // Tested before the first pause: a host already gone ends the bridge at once.
    while (hostAlive && !portGone) {
        Sleep(mainPollMs);
    }
    if (portGone) {
        // The device was unplugged or reset: a port that comes back is a new
        // one, so the host must look it up and open it again.
        quietHostWatcher();
        endProcess(exitPortLost);
    }
    // The normal exit ends the pumps and the watcher and releases the port;
    // bytes still in flight are not drained. (The watcher has returned.)
    endProcess(exitDone);
}
