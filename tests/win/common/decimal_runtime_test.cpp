// The program reads numbers with its own "%d" reader (it also runs natively);
// here it must agree with the system C runtime's swscanf. That one is fetched
// from msvcrt.dll by name: in C++ the MinGW headers route swscanf to MinGW's
// own implementation, which is not what Windows programs get.
#include <windows.h>

#include <gtest/gtest.h>

#include <cctype>
#include <string>

#include "common/decimal.h"

namespace {

struct RuntimeCase {
    const wchar_t* text;
};

const RuntimeCase runtimeCases[] = {
    {L"7"}, {L"0"}, {L"000"}, {L"-1"}, {L"+12"}, {L"  42"}, {L"\t\n\v\f\r9"}, {L"12abc"},
    {L"abc"}, {L""}, {L"-"}, {L"+"}, {L"- 3"}, {L"2147483647"}, {L"2147483648"},
    {L"-2147483648"}, {L"-2147483649"}, {L"4294967295"}, {L"4294967296"},
    {L"99999999999999999999"}, {L"-99999999999999999999"}, {L"0x10"}, {L"1e3"}, {L"\x00a0" L"5"},
    {L"\x3000" L"5"}, {L"\x0660"}, {L"\xff11"},
};

using RuntimeScan = int(__cdecl*)(const wchar_t*, const wchar_t*, ...);

RuntimeScan runtimeSwscanf()
{
    return reinterpret_cast<RuntimeScan>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"msvcrt.dll"), "swscanf")));
}

class RuntimeAgreement : public testing::TestWithParam<RuntimeCase> {};

TEST_P(RuntimeAgreement, ScanDecimalMatchesSwscanf)
{
    const wchar_t* text = GetParam().text;
    const RuntimeScan swscanf = runtimeSwscanf();
    ASSERT_NE(swscanf, nullptr);
    int expected = 0x5EED;
    const int converted = swscanf(text, L"%d", &expected);
    std::int32_t actual = 0x5EED;
    const bool scanned = scanDecimal(text, actual);
    EXPECT_EQ(scanned, converted == 1);
    EXPECT_EQ(actual, expected);
}

std::string caseName(const testing::TestParamInfo<RuntimeCase>& info)
{
    std::string name = "case" + std::to_string(info.index) + "_";
    for (const wchar_t* unit = info.param.text; *unit != 0; ++unit) {
        name += std::isalnum(*unit) ? static_cast<char>(*unit) : '_';
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(Table, RuntimeAgreement, testing::ValuesIn(runtimeCases), caseName);

}  // namespace

namespace {

// Every UTF-16 unit before a digit: skipped as white space by both, or by neither.
TEST(RuntimeAgreement, SkipsTheSameWhiteSpace)
{
    const RuntimeScan swscanf = runtimeSwscanf();
    ASSERT_NE(swscanf, nullptr);
    for (unsigned unit = 1; unit <= 0xFFFF; ++unit) {
        const wchar_t text[] = {static_cast<wchar_t>(unit), L'7', 0};
        int expected = -5;
        const bool runtimeRead = swscanf(text, L"%d", &expected) == 1;
        std::int32_t actual = -5;
        const bool ownRead = scanDecimal(text, actual);
        ASSERT_EQ(ownRead, runtimeRead) << "unit " << std::hex << unit;
        ASSERT_EQ(actual, expected) << "unit " << std::hex << unit;
    }
}

}  // namespace
