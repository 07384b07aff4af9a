#pragma once
// Findings of a registry search.

#include <cstddef>

#include "common/wide.h"

// 255 slots of 255 units including the terminator. A slot is empty when its
// first unit is 0; filled slots run contiguously from slot 0, and a finding goes
// into the first empty slot. A finding that is itself empty therefore leaves its
// slot empty, and the next finding lands in the same place.
constexpr std::size_t valueSlotCount = 255;
constexpr std::size_t valueSlotLength = 255;

struct ValueTable {
    WideChar slots[valueSlotCount][valueSlotLength];
};

// Empties every slot.
void clearValueTable(ValueTable& table);

// Puts the first `length` units of data (cut at its first zero unit and at the
// slot's room) into the first empty slot. Past the last slot, findings are
// dropped.
void addFinding(ValueTable& table, const WideChar* data, std::size_t length);

// The number of filled slots before the first empty one.
std::size_t findingCount(const ValueTable& table);
