#include "registry/value_table.h"

void clearValueTable(ValueTable& table)
{
    for (auto& slot : table.slots) {
        slot[0] = 0;
    }
}

void addFinding(ValueTable& table, const WideChar* data, std::size_t length)
{
    const std::size_t slot = findingCount(table);
    if (slot == valueSlotCount) {
        return;
    }
    std::size_t copied = 0;
    while (copied < length && copied + 1 < valueSlotLength && data[copied] != 0) {
        table.slots[slot][copied] = data[copied];
        ++copied;
    }
    table.slots[slot][copied] = 0;
}

std::size_t findingCount(const ValueTable& table)
{
    std::size_t count = 0;
    while (count < valueSlotCount && table.slots[count][0] != 0) {
        ++count;
    }
    return count;
}
