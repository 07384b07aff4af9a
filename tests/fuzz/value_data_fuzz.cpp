// Registry value data is whatever another program stored: any byte count,
// terminated or not, text or not. Takes it as text the way the collector does
// and files the results as findings, checking the text against the bytes and
// the table against a model of it after every finding.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fuzz_support.h"
#include "registry/value_data.h"
#include "registry/value_table.h"

namespace {

// Written over every unit first: a unit that still holds it was never written.
constexpr WideChar canary = 0xA5C3;

// The text of data: little-endian units up to the first zero unit or the end.
std::vector<WideChar> expectedText(const std::uint8_t* data, std::size_t byteCount)
{
    std::vector<WideChar> text;
    for (std::size_t i = 0; i + 1 < byteCount; i += 2) {
        const auto unit = static_cast<WideChar>(data[i] | (data[i + 1] << 8));
        if (unit == 0) {
            break;
        }
        text.push_back(unit);
    }
    return text;
}

// Each record: a 16-bit little-endian byte count (cut to the bytes left), a
// byte choosing the length handed to addFinding and how many times, then the
// data.
struct Record {
    std::size_t byteCount;
    std::uint8_t mode;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Exactly the table's size on the heap, so a write past the last slot is
    // reported; every unit starts as the canary. Both blocks live for the
    // whole run: a fresh 127 KiB block per input costs more than the input.
    static const ValueTable& allCanaries = *[] {
        auto* filled = new ValueTable;
        for (auto& slot : filled->slots) {
            for (WideChar& unit : slot) {
                unit = canary;
            }
        }
        return filled;
    }();
    static ValueTable* const table = new ValueTable;
    std::memcpy(table, &allCanaries, sizeof(ValueTable));
    clearValueTable(*table);
    FUZZ_REQUIRE(findingCount(*table) == 0);

    std::vector<std::vector<WideChar>> model;  // the filled slots, in order
    // Enough findings to fill the table and have a few dropped; more only
    // slow the run down.
    std::size_t findingsLeft = valueSlotCount + 16;
    std::size_t offset = 0;
    while (offset + 3 <= size) {
        Record record{static_cast<std::size_t>(data[offset] | (data[offset + 1] << 8)),
                      data[offset + 2]};
        offset += 3;
        if (record.byteCount > size - offset) {
            record.byteCount = size - offset;
        }
        // The data in a block of its exact size; the text in a block of
        // exactly the documented room, byteCount / 2 units, all canaries.
        std::unique_ptr<std::uint8_t[]> bytes(new std::uint8_t[record.byteCount]);
        if (record.byteCount != 0) {
            std::memcpy(bytes.get(), data + offset, record.byteCount);
        }
        offset += record.byteCount;
        const std::size_t room = record.byteCount / 2;
        std::unique_ptr<WideChar[]> text(new WideChar[room]);
        for (std::size_t i = 0; i < room; ++i) {
            text[i] = canary;
        }

        const std::size_t units = valueDataText(bytes.get(), record.byteCount, text.get());
        const std::vector<WideChar> expected = expectedText(bytes.get(), record.byteCount);
        FUZZ_REQUIRE(units <= room);
        FUZZ_REQUIRE(units == expected.size());
        FUZZ_REQUIRE(fuzz::sameUnits(text.get(), expected.data(), units));
        for (std::size_t i = units; i < room; ++i) {
            FUZZ_REQUIRE(text[i] == canary);  // nothing written past the text
        }

        // The collector hands over the whole text; a shorter length must cut it.
        std::size_t length = units;
        if ((record.mode & 0x80u) != 0 && units != 0) {
            length = record.mode % (units + 1);
        }
        const std::size_t kept = length < valueSlotLength - 1 ? length : valueSlotLength - 1;
        // An empty finding leaves its slot empty; past the last slot, findings
        // are dropped. The table is checked against this model at the end.
        const std::size_t repeats = 1 + (record.mode & 0x3Fu);
        for (std::size_t r = 0; r < repeats && findingsLeft != 0; ++r, --findingsLeft) {
            addFinding(*table, text.get(), length);
            if (model.size() < valueSlotCount && kept != 0) {
                model.emplace_back(text.get(), text.get() + kept);
            }
        }
    }
    FUZZ_REQUIRE(findingCount(*table) == model.size());

    // Every slot: its finding, its terminator, then the canaries untouched.
    for (std::size_t slot = 0; slot < valueSlotCount; ++slot) {
        const WideChar* units = table->slots[slot];
        std::size_t used = 0;
        if (slot < model.size()) {
            used = model[slot].size();
            FUZZ_REQUIRE(fuzz::sameUnits(units, model[slot].data(), used));
        }
        FUZZ_REQUIRE(units[used] == 0);
        FUZZ_REQUIRE(fuzz::sameUnits(units + used + 1, allCanaries.slots[slot] + used + 1,
                                     valueSlotLength - used - 1));
    }
    return 0;
}
