// The growable buffer that holds the output of "getUSBPort" and registry key
// paths: content must survive every growth, and a size that cannot be had
// must fail cleanly instead of overflowing.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "common/grow_buffer.h"

namespace {

template <typename Item>
std::vector<Item> contents(const GrowBuffer<Item>& buffer)
{
    return buffer.size() == 0 ? std::vector<Item>{}
                              : std::vector<Item>(buffer.data(), buffer.data() + buffer.size());
}

std::vector<char16_t> pattern(std::size_t count, unsigned seed)
{
    std::vector<char16_t> items(count);
    for (std::size_t i = 0; i < count; ++i) {
        items[i] = static_cast<char16_t>(seed * 1000u + i);
    }
    return items;
}

TEST(GrowBuffer, StartsEmptyAndEmptyAppendsChangeNothing)
{
    GrowBuffer<char16_t> buffer;
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_FALSE(buffer.failed());
    const char16_t item = u'x';
    buffer.append(&item, 0);
    EXPECT_EQ(buffer.size(), 0u);
    EXPECT_FALSE(buffer.failed());
}

// Appends of many sizes, crossing the first allocation and several doublings,
// and one append larger than a doubling: everything in order.
TEST(GrowBuffer, KeepsEveryItemInOrderAcrossGrowth)
{
    GrowBuffer<char16_t> buffer;
    std::vector<char16_t> expected;
    const std::size_t sizes[] = {1, 63, 1, 64, 200, 1, 5000, 3, 700};
    unsigned seed = 1;
    for (const std::size_t size : sizes) {
        const std::vector<char16_t> items = pattern(size, seed++);
        buffer.append(items.data(), items.size());
        expected.insert(expected.end(), items.begin(), items.end());
        buffer.push(static_cast<char16_t>(size));
        expected.push_back(static_cast<char16_t>(size));
        ASSERT_EQ(contents(buffer), expected) << "after appending " << size;
    }
    EXPECT_FALSE(buffer.failed());
}

TEST(GrowBuffer, CopiesWholeItemsLargerThanAByte)
{
    struct Entry {
        std::int32_t port;
        std::uint16_t slot;
    };
    GrowBuffer<Entry> buffer;
    for (int i = 0; i < 300; ++i) {
        buffer.push(Entry{-i * 70000, static_cast<std::uint16_t>(i)});
    }
    ASSERT_EQ(buffer.size(), 300u);
    for (int i = 0; i < 300; ++i) {
        EXPECT_EQ(buffer.data()[i].port, -i * 70000);
        EXPECT_EQ(buffer.data()[i].slot, i);
    }
}

// A request the address space cannot hold: the item count wraps the size
// around, or the byte count exceeds size_t. Either way the buffer keeps what it
// had, reports the failure, and drops every later append.
TEST(GrowBuffer, ImpossibleSizeFailsAndKeepsWhatItHad)
{
    const struct {
        const char* name;
        std::size_t count;
    } rows[] = {
        {"itemCountWraps", std::numeric_limits<std::size_t>::max() - 1},
        {"byteCountOverflows", std::numeric_limits<std::size_t>::max() / sizeof(char16_t) + 1},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        GrowBuffer<char16_t> buffer;
        const std::vector<char16_t> kept = {u'a', u'b', u'c'};
        buffer.append(kept.data(), kept.size());

        buffer.append(kept.data(), row.count);  // never read: it cannot be stored
        EXPECT_TRUE(buffer.failed());
        EXPECT_EQ(contents(buffer), kept);

        buffer.push(u'd');
        EXPECT_TRUE(buffer.failed());
        EXPECT_EQ(contents(buffer), kept);
    }
}

}  // namespace
