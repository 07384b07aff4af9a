// The table of registry findings: one finding per slot, in the order found,
// each cut to what a slot holds, and never a unit written outside the table.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <memory>
#include <string>

#include "common/exact_text.h"
#include "registry/value_table.h"

namespace {

constexpr WideChar sentinel = 0xBEEF;
constexpr std::size_t canaryUnits = 16;
constexpr std::size_t slotRoom = valueSlotLength - 1;  // units before the terminator

// The table with canary units right behind it. Every unit starts as a
// sentinel, so that a unit the table code writes can be told from one it left.
struct GuardedTable {
    ValueTable table;
    WideChar canary[canaryUnits];
};

class ValueTableTest : public testing::Test {
protected:
    void SetUp() override { reset(); }

    void TearDown() override { expectCanaryIntact(); }

    // A fresh table: every unit a sentinel, then cleared as a caller does.
    void reset()
    {
        guarded_.reset(new GuardedTable);
        for (auto& units : guarded_->table.slots) {
            std::fill(std::begin(units), std::end(units), sentinel);
        }
        std::fill(std::begin(guarded_->canary), std::end(guarded_->canary), sentinel);
        clearValueTable(table());
    }

    void expectCanaryIntact() const
    {
        for (std::size_t i = 0; i < canaryUnits; ++i) {
            EXPECT_EQ(guarded_->canary[i], sentinel) << "written past the table at unit " << i;
        }
    }

    ValueTable& table() { return guarded_->table; }

    // Adds data with no terminator and no slack behind its `length` units.
    void add(const WideString& data) { add(data, data.size()); }
    void add(const WideString& data, std::size_t length)
    {
        const ExactUnits units(data.substr(0, length));
        addFinding(table(), units.get(), length);
    }

    WideString slot(std::size_t index) const
    {
        return terminatedText(guarded_->table.slots[index]);
    }

    std::unique_ptr<GuardedTable> guarded_;
};

TEST_F(ValueTableTest, ClearingEmptiesEverySlot)
{
    for (std::size_t i = 0; i < valueSlotCount; ++i) {
        add(u"COM" + WideString(1, static_cast<WideChar>(u'A' + i % 26)));
    }
    ASSERT_EQ(findingCount(table()), valueSlotCount);

    clearValueTable(table());

    EXPECT_EQ(findingCount(table()), 0u);
    for (std::size_t i = 0; i < valueSlotCount; ++i) {
        EXPECT_EQ(table().slots[i][0], 0) << "slot " << i;
    }
}

TEST_F(ValueTableTest, FindingsFillSlotsInTheOrderAdded)
{
    add(u"COM3");
    add(u"COM10");
    add(u"COM4");
    EXPECT_EQ(findingCount(table()), 3u);
    EXPECT_EQ(slot(0), u"COM3");
    EXPECT_EQ(slot(1), u"COM10");
    EXPECT_EQ(slot(2), u"COM4");
    EXPECT_EQ(slot(3), u"");
}

// How much of a finding a slot keeps: up to the given length, its first zero
// unit, or the slot's 254 units, whichever comes first. The slot after it must
// stay as it was (empty, the rest of it still sentinel).
TEST_F(ValueTableTest, FindingIsCutToItsLengthItsFirstZeroAndTheSlot)
{
    const WideString longText = [] {
        WideString text;
        for (std::size_t i = 0; i < 1000; ++i) {
            text += static_cast<WideChar>(u'a' + i % 26);
        }
        return text;
    }();
    const struct {
        const char* name;
        WideString data;
        std::size_t length;
        WideString kept;
    } rows[] = {
        {"whole", u"COM3", 4, u"COM3"},
        {"lengthShorterThanData", u"COM37", 4, u"COM3"},
        {"zeroUnitInside", WideString(u"COM3\0junk", 9), 9, u"COM3"},
        {"exactlyTheSlotsRoom", longText.substr(0, slotRoom), slotRoom,
         longText.substr(0, slotRoom)},
        {"oneMoreThanTheRoom", longText.substr(0, slotRoom + 1), slotRoom + 1,
         longText.substr(0, slotRoom)},
        {"farLongerThanTheRoom", longText, longText.size(), longText.substr(0, slotRoom)},
        {"surrogatesKept", u"\U0001F600\u20AC", 3, u"\U0001F600\u20AC"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        reset();
        add(row.data, row.length);
        EXPECT_EQ(findingCount(table()), 1u);
        EXPECT_EQ(slot(0), row.kept) << readable(slot(0));
        EXPECT_EQ(table().slots[1][0], 0);
        EXPECT_EQ(table().slots[1][1], sentinel) << "the finding ran into the next slot";
        expectCanaryIntact();
    }
}

// An empty finding (no units, or a zero unit first) leaves its slot empty, and
// so the next finding goes into that same slot.
TEST_F(ValueTableTest, EmptyFindingLeavesItsSlotForTheNext)
{
    add(u"COM3");
    add(u"");
    EXPECT_EQ(findingCount(table()), 1u);
    add(WideString(u"\0COM9", 5));
    EXPECT_EQ(findingCount(table()), 1u);
    add(u"COM5");
    EXPECT_EQ(findingCount(table()), 2u);
    EXPECT_EQ(slot(0), u"COM3");
    EXPECT_EQ(slot(1), u"COM5");
}

TEST_F(ValueTableTest, FindingsPastTheLastSlotAreDropped)
{
    for (std::size_t i = 0; i + 1 < valueSlotCount; ++i) {
        add(u"v" + WideString(1, static_cast<WideChar>(0x100 + i)));
    }
    // The last slot, with a finding longer than a slot: it must end inside it.
    add(WideString(400, u'L'));
    ASSERT_EQ(findingCount(table()), valueSlotCount);
    EXPECT_EQ(slot(valueSlotCount - 1), WideString(slotRoom, u'L'));

    add(u"COM99");
    add(WideString(400, u'M'));

    EXPECT_EQ(findingCount(table()), valueSlotCount);
    for (std::size_t i = 0; i + 1 < valueSlotCount; ++i) {
        ASSERT_EQ(slot(i), u"v" + WideString(1, static_cast<WideChar>(0x100 + i)))
            << "slot " << i;
    }
    EXPECT_EQ(slot(valueSlotCount - 1), WideString(slotRoom, u'L'));
}

}  // namespace
