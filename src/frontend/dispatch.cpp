#include "frontend/dispatch.h"

#include <windows.h>

#include "bridge/open_command.h"
#include "common/console.h"
#include "common/exit_codes.h"
#include "frontend/command_table.h"
#include "registry/machine_id.h"
#include "registry/usb_port_lookup.h"

int runCommandLine(int argc, wchar_t** argv)
{
    if (argc < 2) {
        return exitNoCommand;  // before any handle is touched
    }
    consoleIn = GetStdHandle(STD_INPUT_HANDLE);
    consoleOut = GetStdHandle(STD_OUTPUT_HANDLE);
    // Raw input, so that every key (Ctrl+C too) reaches the bridge as a byte;
    // the caller's mode comes back when the process ends.
    enterRawInput();

    switch (matchCommand(argv[1])) {
    case Command::getUsbPort:
        runGetUsbPort(argc, argv);
        return exitDone;
    case Command::getPcIdentification:
        runGetPcIdentification();
        return exitDone;
    case Command::listUsbPorts:
        runListUsbPorts();  // further arguments are not looked at
        return exitDone;
    case Command::open:
        runOpen(argc, argv);  // ends the process
    case Command::none:
        break;
    }
    return exitDone;
}
