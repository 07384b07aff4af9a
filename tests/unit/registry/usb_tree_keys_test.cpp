// The USB tree as one walk of it saw it: the function keys every lookup
// searches besides a device's own key, and the devices listUSBPorts lists.
#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <ostream>
#include <string>
#include <vector>

#include "common/exact_text.h"
#include "registry/usb_tree_keys.h"

namespace {

using Names = std::vector<WideString>;

std::string readableNames(const Names& names)
{
    std::string shown;
    for (const WideString& name : names) {
        shown += (shown.empty() ? "" : ", ") + readable(name);
    }
    return shown;
}

// Each name is handed over in a block of exactly its length.
Names keptFunctionKeys(const Names& keyNames)
{
    FunctionKeys keys;
    for (const WideString& keyName : keyNames) {
        keys.add(ExactText(keyName).get());
    }
    Names kept;
    for (std::size_t i = 0; i < keys.count(); ++i) {
        kept.emplace_back(keys.name(i));
    }
    return kept;
}

Names listedIdentifiers(const Names& keyNames)
{
    ListedDevices devices;
    for (const WideString& keyName : keyNames) {
        devices.add(ExactText(keyName).get());
    }
    Names listed;
    for (std::size_t i = 0; i < devices.count(); ++i) {
        listed.emplace_back(devices.identifier(i));
    }
    return listed;
}

TEST(FunctionKeys, KeepsEveryDevicesFunctionKeysInOrder)
{
    const Names tree = {
        u"ROOT_HUB20",
        u"VID_0483&PID_5740",
        u"VID_0483&PID_5740&MI_02",
        u"VID_0483&PID_5740&MI_0",
        u"VID_0483&PID_5740&MI_000",
        u"vid_1a86&pid_7523&mi_0a",
        u"VID_0483&PID_57401&MI_00",
        u"VID_0483&PID_5740&MI_00",
    };
    const Names expected = {
        u"VID_0483&PID_5740&MI_02",
        u"vid_1a86&pid_7523&mi_0a",
        u"VID_0483&PID_5740&MI_00",
    };
    const Names kept = keptFunctionKeys(tree);
    EXPECT_EQ(kept, expected) << readableNames(kept);
}

// A device's function keys in interface-number order, wherever they lie.
TEST(FunctionKeys, KeysOfOneDeviceByInterfaceNumber)
{
    FunctionKeys keys;
    for (const WideChar* keyName : {u"VID_0483&PID_5740&MI_0A", u"VID_1A86&PID_7523&MI_00",
                                    u"VID_0483&PID_5740&MI_10", u"VID_0483&PID_5740",
                                    u"vid_0483&pid_5740&mi_02", u"VID_0483&PID_57401&MI_00",
                                    u"VID_0483&PID_5740&MI_00", u"VID_0483&PID_5740&MI_0a"}) {
        keys.add(ExactText(keyName).get());
    }
    const struct {
        const WideChar* vendor;
        const WideChar* product;
        Names expected;
    } rows[] = {
        // Two keys of one number cannot both exist in a registry; kept here,
        // they stay in the order taken.
        {u"0483", u"5740",
         {u"VID_0483&PID_5740&MI_00", u"vid_0483&pid_5740&mi_02", u"VID_0483&PID_5740&MI_0A",
          u"VID_0483&PID_5740&MI_0a", u"VID_0483&PID_5740&MI_10"}},
        {u"1a86", u"7523", {u"VID_1A86&PID_7523&MI_00"}},
        {u"0483", u"5741", {}},
        {u"048", u"5740", {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.vendor) + "/" + readable(row.product));
        std::size_t indexes[interfaceNumberCount];
        const std::size_t count = keys.keysOf(ExactText(row.vendor).get(),
                                              ExactText(row.product).get(), indexes);
        Names found;
        for (std::size_t i = 0; i < count; ++i) {
            found.emplace_back(keys.name(indexes[i]));
        }
        EXPECT_EQ(found, row.expected) << readableNames(found);
    }
}

TEST(FunctionKeys, EmptyTreeKeepsNothing)
{
    EXPECT_TRUE(keptFunctionKeys({}).empty());
}

struct ListingCase {
    const char* name;
    Names tree;    // sub-key names in enumeration order
    Names listed;  // identifiers, in the order listUSBPorts lists them
};

void PrintTo(const ListingCase& row, std::ostream* out)
{
    *out << row.name << " [" << readableNames(row.tree) << ']';
}

const ListingCase listingCases[] = {
    {"deviceWithFunctions",
     {u"VID_0483&PID_5740", u"VID_0483&PID_5740&MI_00", u"VID_0483&PID_5740&MI_02"},
     {u"0x57400483"}},
    {"functionsBeforeTheDevicesKeyAndOthersBetween",
     {u"VID_0483&PID_5740&MI_02", u"VID_1A86&PID_7523", u"VID_0483&PID_5740&MI_00",
      u"VID_0483&PID_5740"},
     {u"0x57400483", u"0x75231A86"}},
    {"functionWithoutTheDevicesKey", {u"VID_0483&PID_5740&MI_01"}, {u"0x57400483"}},
    // Spelt as the first key spells it; the others are the same device.
    {"digitsInOtherCase",
     {u"VID_10c4&PID_ea60", u"VID_10C4&PID_EA60&MI_00", u"VID_10C4&PID_ea60&MI_01"},
     {u"0xea6010c4"}},
    {"nearIdentifiersStayApart",
     {u"VID_0483&PID_5740", u"VID_0483&PID_5741&MI_00", u"VID_0484&PID_5740",
      u"VID_5740&PID_0483&MI_00"},
     {u"0x57400483", u"0x57410483", u"0x57400484", u"0x04835740"}},
    {"otherFormsSkipped",
     {u"ROOT_HUB20", u"VID_0483&PID_5740&MI_0", u"VID_0483&PID_5740&MI_000",
      u"VID_0483&PID_5740&MI_0G", u"VID_0483&PID_5740&MIX00", u"VID_0483&PID_57401&MI_00",
      u"vid_0483&pid_5740", u"VID_0483&PID_5740&mi_00"},
     {}},
    {"emptyTree", {}, {}},
};

class ListedDevicesTable : public testing::TestWithParam<ListingCase> {};

TEST_P(ListedDevicesTable, EachDeviceOnceFromItsFirstKey)
{
    const ListingCase& row = GetParam();
    const Names listed = listedIdentifiers(row.tree);
    EXPECT_EQ(listed, row.listed) << readableNames(listed);
}

INSTANTIATE_TEST_SUITE_P(Table, ListedDevicesTable, testing::ValuesIn(listingCases),
                         [](const testing::TestParamInfo<ListingCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// A function key far behind its device's key, with many devices between,
// still finds the device listed.
TEST(ListedDevices, FunctionKeyFarFromItsDevice)
{
    Names tree;
    Names expected;
    for (unsigned n = 0; n < 1000; ++n) {
        char name[32];
        std::snprintf(name, sizeof name, "VID_%04X&PID_%04X", n, 0xF000 + n);
        tree.push_back(WideString(name, name + 17));
        char identifier[16];
        std::snprintf(identifier, sizeof identifier, "0x%04X%04X", 0xF000 + n, n);
        expected.push_back(WideString(identifier, identifier + 10));
    }
    tree.push_back(u"VID_0000&PID_f000&MI_03");
    tree.push_back(u"VID_03E7&PID_F3E7&MI_00");
    const Names listed = listedIdentifiers(tree);
    EXPECT_EQ(listed, expected);
}

}  // namespace
