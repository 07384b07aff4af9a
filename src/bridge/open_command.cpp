#include "bridge/open_command.h"

#include <windows.h>

#include <cstdlib>

#include "bridge/host_watcher.h"
#include "bridge/open_arguments.h"
#include "bridge/serial_port.h"
#include "common/exit_codes.h"

namespace {

constexpr DWORD mainPollMs = 50;

}  // namespace

void runOpen(int argc, wchar_t** argv)
{
    if (argc < 3) {
        std::exit(exitUnusablePort);  // no host name: nothing could end the bridge
    }
    hostAlive = true;  // before the watcher can clear it
    // The watcher's handle is not kept: it runs until the process ends.
    CloseHandle(CreateThread(nullptr, 0, watchHostProcess, argv[2], 0, nullptr));

    std::int32_t portNumber = 0;
    if (!readPortNumber(argc, argv, portNumber) || portNumber == 0) {
        std::exit(exitUnusablePort);
    }
    if (!openSerialPort(portNumber, readPortTimeouts(argc, argv))) {
        std::exit(exitUnusablePort);
    }
    // Tested before the first pause: a host already gone ends the bridge at once.
    while (hostAlive) {
        Sleep(mainPollMs);
    }
    // The normal exit ends the pumps and the watcher and releases the port;
    // bytes still in flight are not drained.
    std::exit(exitDone);
}
