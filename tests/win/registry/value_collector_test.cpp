// The value collector against real registry trees: each test builds its own
// subtree below HKLM\SOFTWARE and deletes it afterwards.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "registry/value_collector.h"

namespace {

const wchar_t testRoot[] = L"SOFTWARE\\CorvelCollectorTest";

class CollectorTest : public testing::Test {
protected:
    void SetUp() override
    {
        const auto* info = testing::UnitTest::GetInstance()->current_test_info();
        base_ = std::wstring(testRoot) + L"\\" + widen(info->name());
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, base_.c_str());
        createKey(L"");
        clearValueTable(table_);
    }

    void TearDown() override
    {
        RegDeleteTreeW(HKEY_LOCAL_MACHINE, base_.c_str());
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, testRoot);  // fails while other tests' keys remain
    }

    static std::wstring widen(const char* text) { return std::wstring(text, text + strlen(text)); }

    std::wstring path(const std::wstring& relative) const
    {
        return relative.empty() ? base_ : base_ + L"\\" + relative;
    }

    void createKey(const std::wstring& relative)
    {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path(relative).c_str(), 0, nullptr, 0,
                                  KEY_ALL_ACCESS, nullptr, &key, nullptr),
                  ERROR_SUCCESS)
            << "creating " << std::string(relative.begin(), relative.end());
        RegCloseKey(key);
    }

    void setRaw(const std::wstring& relative, const wchar_t* name, DWORD type,
                const void* data, DWORD size)
    {
        createKey(relative);
        HKEY key = nullptr;
        ASSERT_EQ(RegOpenKeyExW(HKEY_LOCAL_MACHINE, path(relative).c_str(), 0, KEY_SET_VALUE, &key),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        RegCloseKey(key);
    }

    // A string value stored with its terminator, as Windows stores REG_SZ.
    void setString(const std::wstring& relative, const wchar_t* name, const std::wstring& text)
    {
        setRaw(relative, name, REG_SZ, text.c_str(),
               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
    }

    bool collect(const std::wstring& relative = L"", const wchar_t* valueName = L"PortName")
    {
        return collectRegistryValues(table_, path(relative).c_str(), valueName);
    }

    std::vector<std::wstring> findings() const
    {
        std::vector<std::wstring> found;
        for (size_t slot = 0; slot < valueSlotCount && table_.slots[slot][0] != 0; ++slot) {
            found.emplace_back(table_.slots[slot]);
        }
        return found;
    }

    // The sub-keys of a key in the order the registry enumerates them.
    std::vector<std::wstring> enumerationOrder(const std::wstring& relative) const
    {
        std::vector<std::wstring> names;
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, path(relative).c_str(), 0, KEY_READ, &key)
            != ERROR_SUCCESS) {
            return names;
        }
        wchar_t name[256];
        for (DWORD index = 0; RegEnumKeyW(key, index, name, 256) == ERROR_SUCCESS; ++index) {
            names.emplace_back(name);
        }
        RegCloseKey(key);
        return names;
    }

    std::wstring base_;
    ValueTable table_;
};

using Findings = std::vector<std::wstring>;

TEST_F(CollectorTest, ValueAtTheKeyItselfStopsTheSearch)
{
    setString(L"", L"PortName", L"COM1");
    setString(L"child", L"PortName", L"COM2");
    EXPECT_TRUE(collect());
    EXPECT_EQ(findings(), Findings{L"COM1"});
}

TEST_F(CollectorTest, SiblingsGiveOneFindingEachInEnumerationOrder)
{
    setString(L"zeta\\Device Parameters", L"PortName", L"COM9");
    setString(L"alpha\\Device Parameters", L"PortName", L"COM3");
    setString(L"middle", L"Other", L"nothing here");
    EXPECT_TRUE(collect());
    const Findings order = enumerationOrder(L"");
    ASSERT_EQ(order.size(), 3u);
    const Findings expected = order[0] == L"alpha" ? Findings{L"COM3", L"COM9"}
                                                   : Findings{L"COM9", L"COM3"};
    EXPECT_EQ(findings(), expected);
}

TEST_F(CollectorTest, UpperFindingHidesDeeperOnesOnItsBranch)
{
    setString(L"instance", L"PortName", L"COM4");
    setString(L"instance\\Device Parameters", L"PortName", L"COM5");
    EXPECT_TRUE(collect());
    EXPECT_EQ(findings(), Findings{L"COM4"});
}

TEST_F(CollectorTest, NameMatchIsCaseSensitive)
{
    setString(L"a", L"portname", L"COM4");
    setString(L"b", L"PORTNAME", L"COM5");
    EXPECT_FALSE(collect());
    EXPECT_EQ(findings(), Findings{});
}

TEST_F(CollectorTest, ValueTooLargeForTheDataBufferIsPassedOver)
{
    // 127 characters and the terminator are 256 bytes: one more than read.
    setString(L"big", L"PortName", std::wstring(127, L'X'));
    setString(L"fits", L"PortName", std::wstring(126, L'Y'));
    // The large value at a key does not stop the descent below it either.
    setString(L"big\\below", L"PortName", L"COM8");
    EXPECT_TRUE(collect());
    const Findings order = enumerationOrder(L"");
    const Findings expected = order[0] == L"big" ? Findings{L"COM8", std::wstring(126, L'Y')}
                                                 : Findings{std::wstring(126, L'Y'), L"COM8"};
    EXPECT_EQ(findings(), expected);
}

TEST_F(CollectorTest, ExistingKeyWithoutTheValueLeavesTheTableAsItWas)
{
    setString(L"a", L"Other", L"COM1");
    EXPECT_FALSE(collect());
    EXPECT_EQ(findings(), Findings{});

    // An earlier finding on the same table still makes the answer true.
    addFinding(table_, L"earlier", 7);
    EXPECT_TRUE(collect());
    EXPECT_EQ(findings(), Findings{L"earlier"});
}

TEST_F(CollectorTest, MissingKeyIsFalseAndTouchesNothing)
{
    table_.slots[0][0] = L'Q';
    table_.slots[0][1] = 0;
    table_.slots[1][0] = 0;
    table_.slots[1][1] = L'!';  // canary behind the end marker
    EXPECT_FALSE(collect(L"does\\not\\exist"));
    EXPECT_EQ(table_.slots[0][0], L'Q');
    EXPECT_EQ(table_.slots[1][1], L'!');
}

TEST_F(CollectorTest, EmptyValueAtTheKeyIsFoundButFillsNoSlot)
{
    setString(L"", L"PortName", L"");
    EXPECT_TRUE(collect());
    EXPECT_EQ(findings(), Findings{});
}

struct DataCase {
    const char* what;
    DWORD type;
    std::vector<unsigned char> data;
    std::wstring text;
};

TEST_F(CollectorTest, DataIsTextUpToItsFirstZeroUnitOrItsEnd)
{
    const DataCase cases[] = {
        {"string without terminator", REG_SZ, {'C', 0, 'O', 0, 'M', 0, '7', 0}, L"COM7"},
        {"odd last byte dropped", REG_SZ, {'C', 0, 'O', 0, 'M', 0, '7'}, L"COM"},
        {"zero unit ends the text", REG_SZ, {'A', 0, 0, 0, 'B', 0}, L"A"},
        {"multi-string gives its first string", REG_MULTI_SZ,
         {'C', 0, '1', 0, 0, 0, 'C', 0, '2', 0, 0, 0, 0, 0}, L"C1"},
        {"type is not looked at", REG_DWORD, {0x41, 0x00, 0x42, 0x00}, L"AB"},
        {"binary data beyond Latin-1", REG_BINARY, {0xA9, 0x03, 0x31, 0x00}, L"\x03A9" L"1"},
        {"255 bytes are read whole", REG_BINARY, std::vector<unsigned char>(255, 'z'),
         std::wstring(127, static_cast<wchar_t>(0x7A7A))},
    };
    for (const DataCase& row : cases) {
        SCOPED_TRACE(row.what);
        clearValueTable(table_);
        setRaw(L"", L"PortName", row.type, row.data.data(), static_cast<DWORD>(row.data.size()));
        EXPECT_TRUE(collect());
        EXPECT_EQ(std::wstring(table_.slots[0]), row.text);
    }
}

TEST_F(CollectorTest, FindingsPastTheTableAreDroppedAndTheSearchEnds)
{
    for (int i = 0; i < 300; ++i) {
        wchar_t name[16];
        swprintf(name, 16, L"inst%03d", i);
        setString(name, L"PortName", L"COM" + std::to_wstring(i + 1));
    }
    EXPECT_TRUE(collect());
    const Findings found = findings();
    ASSERT_EQ(found.size(), valueSlotCount);
    const Findings order = enumerationOrder(L"");
    ASSERT_EQ(order.size(), 300u);
    // The kept findings are the first 255 in enumeration order.
    EXPECT_EQ(found.front(), L"COM" + std::to_wstring(std::stoi(order[0].substr(4)) + 1));
    EXPECT_EQ(found.back(), L"COM" + std::to_wstring(std::stoi(order[254].substr(4)) + 1));
}

TEST_F(CollectorTest, DeepTreesOfLongNamesAreFollowedToTheEnd)
{
    // 40 levels of 255-character names: a path of over 10,000 characters.
    std::wstring relative;
    for (int level = 0; level < 40; ++level) {
        std::wstring name(255, static_cast<wchar_t>(L'a' + level % 26));
        relative += (relative.empty() ? L"" : L"\\") + name;
    }
    setString(relative, L"PortName", L"COM40");
    EXPECT_TRUE(collect());
    EXPECT_EQ(findings(), Findings{L"COM40"});
}

}  // namespace
