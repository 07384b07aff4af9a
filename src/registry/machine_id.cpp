#include "registry/machine_id.h"

#include "common/console.h"
#include "registry/value_collector.h"

void runGetPcIdentification()
{
    ValueTable table;
    clearValueTable(table);
    // Nothing found leaves slot 0 empty, and the answer is then empty too.
    collectRegistryValues(table, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", L"ProductId");
    writeConsoleText(table.slots[0]);
}
