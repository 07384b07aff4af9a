#include "frontend/command_table.h"

namespace {

struct CommandEntry {
    const WideChar* keyword;
    Command command;
};

const CommandEntry commandTable[] = {
    {CORVEL_WIDE("getUSBPort"), Command::getUsbPort},
    {CORVEL_WIDE("getPCIdentification"), Command::getPcIdentification},
    {CORVEL_WIDE("open"), Command::open},
    {CORVEL_WIDE("listUSBPorts"), Command::listUsbPorts},
};

}  // namespace

Command matchCommand(const WideChar* keyword)
{
    for (const CommandEntry& entry : commandTable) {
        if (wideEquals(keyword, entry.keyword)) {
            return entry.command;
        }
    }
    return Command::none;
}
