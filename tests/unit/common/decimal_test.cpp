// The "%d" reader and writer: port numbers, time-outs and the numbers in port
// and kernel device names all go through them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>

#include "common/decimal.h"
#include "common/exact_text.h"

namespace {

constexpr std::int32_t intMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int32_t intMin = std::numeric_limits<std::int32_t>::min();

// What the destination holds before a scan: a failed scan must leave it so.
constexpr std::int32_t untouched = 0x5EED5EED;

struct ScanCase {
    const char* name;
    const WideChar* text;
    bool scanned;
    std::int32_t value;  // untouched when nothing is scanned
};

void PrintTo(const ScanCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.text) << '"';
}

const ScanCase scanCases[] = {
    {"digit", u"7", true, 7},
    {"zero", u"0", true, 0},
    {"leadingZeros", u"007", true, 7},
    {"plusSign", u"+12", true, 12},
    {"minusSign", u"-7", true, -7},
    {"minusZero", u"-0", true, 0},
    {"stopsAtLetter", u"12abc", true, 12},
    {"stopsAtBlank", u"1 2", true, 1},
    {"hexPrefixReadsAsZero", u"0x10", true, 0},
    {"exponentNotRead", u"1e3", true, 1},
    // White space before the number, including the Unicode spaces the
    // runtime's iswspace() knows.
    {"asciiSpaces", u" \t\n\v\f\r9", true, 9},
    {"noBreakSpace", u"\u00A05", true, 5},
    {"oghamSpace", u"\u16805", true, 5},
    {"enQuad", u"\u20005", true, 5},
    {"hairSpace", u"\u200A5", true, 5},
    {"lineSeparator", u"\u20285", true, 5},
    {"paragraphSeparator", u"\u20295", true, 5},
    {"narrowNoBreakSpace", u"\u202F5", true, 5},
    {"mediumMathSpace", u"\u205F5", true, 5},
    {"ideographicSpace", u"\u30005", true, 5},
    {"spacesThenSign", u"  -5", true, -5},
    // The 32-bit range and what lies beyond it: the value wraps modulo 2^32.
    {"largest", u"2147483647", true, intMax},
    {"smallest", u"-2147483648", true, intMin},
    {"onePastLargestWraps", u"2147483648", true, intMin},
    {"onePastSmallestWraps", u"-2147483649", true, intMax},
    {"allOnesIsMinusOne", u"4294967295", true, -1},
    {"twoToThe32IsZero", u"4294967296", true, 0},
    {"twoToThe32PlusOne", u"4294967297", true, 1},
    {"twentyNines", u"99999999999999999999", true, 1661992959},
    {"minusTwentyNines", u"-99999999999999999999", true, -1661992959},
    // No digit: nothing is stored.
    {"empty", u"", false, untouched},
    {"onlyBlanks", u"   ", false, untouched},
    {"letters", u"abc", false, untouched},
    {"lonePlus", u"+", false, untouched},
    {"loneMinus", u"-", false, untouched},
    {"blankAfterSign", u"- 3", false, untouched},
    {"twoSigns", u"+-3", false, untouched},
    {"doubleMinus", u"--3", false, untouched},
    {"letterBeforeDigit", u"x5", false, untouched},
};

class ScanDecimal : public testing::TestWithParam<ScanCase> {};

TEST_P(ScanDecimal, ReadsLikeTheRuntimeConversion)
{
    const ScanCase& row = GetParam();
    const ExactText text(row.text);
    std::int32_t value = untouched;
    EXPECT_EQ(scanDecimal(text.get(), value), row.scanned);
    EXPECT_EQ(value, row.value);
}

INSTANTIATE_TEST_SUITE_P(Table, ScanDecimal, testing::ValuesIn(scanCases),
                         [](const testing::TestParamInfo<ScanCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

struct PrefixedCase {
    const char* name;
    const WideChar* text;
    const WideChar* prefix;
    bool scanned;
    std::int32_t value;
};

void PrintTo(const PrefixedCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.text) << "\" with \"" << readable(row.prefix)
         << '"';
}

const PrefixedCase prefixedCases[] = {
    {"portName", u"COM12", u"COM", true, 12},
    {"leadingZeros", u"COM007", u"COM", true, 7},
    {"blankBeforeNumber", u"COM 3", u"COM", true, 3},
    {"negativeNumber", u"COM-1", u"COM", true, -1},
    {"trailingText", u"COM4x", u"COM", true, 4},
    {"kernelDeviceName", u"\\Device\\USBSER000", u"\\Device\\USBSER", true, 0},
    {"emptyPrefix", u"12", u"", true, 12},
    {"prefixWithoutNumber", u"COM", u"COM", false, untouched},
    {"prefixInOtherCase", u"com3", u"COM", false, untouched},
    {"prefixCutShort", u"CO3", u"COM", false, untouched},
    {"textShorterThanPrefix", u"CO", u"COM", false, untouched},
    {"emptyText", u"", u"COM", false, untouched},
    {"letterAfterPrefix", u"COMx", u"COM", false, untouched},
    // A literal in the format matches only itself: white space before it is
    // not skipped the way it is before a number.
    {"blankBeforePrefix", u" COM3", u"COM", false, untouched},
    {"otherDriver", u"\\Device\\Serial0", u"\\Device\\USBSER", false, untouched},
};

class ScanPrefixedDecimal : public testing::TestWithParam<PrefixedCase> {};

TEST_P(ScanPrefixedDecimal, NeedsTheExactPrefixThenANumber)
{
    const PrefixedCase& row = GetParam();
    const ExactText text(row.text);
    const ExactText prefix(row.prefix);
    std::int32_t value = untouched;
    EXPECT_EQ(scanPrefixedDecimal(text.get(), prefix.get(), value), row.scanned);
    EXPECT_EQ(value, row.value);
}

INSTANTIATE_TEST_SUITE_P(Table, ScanPrefixedDecimal, testing::ValuesIn(prefixedCases),
                         [](const testing::TestParamInfo<PrefixedCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

struct FormatCase {
    std::int32_t value;
    const WideChar* text;
};

const FormatCase formatCases[] = {
    {0, u"0"},
    {7, u"7"},
    {-7, u"-7"},
    {10, u"10"},
    {-10, u"-10"},
    {-1, u"-1"},
    {123456789, u"123456789"},
    {1000000000, u"1000000000"},
    {intMax, u"2147483647"},
    {intMin, u"-2147483648"},
};

// Writes exactly the digits, within decimalCapacity units, with no terminator
// and nothing after them; and what it writes reads back as the same value.
TEST(FormatDecimal, WritesTheDigitsOnlyAndReadsBack)
{
    constexpr WideChar sentinel = 0xCCCC;
    for (const FormatCase& row : formatCases) {
        SCOPED_TRACE(row.value);
        WideChar out[decimalCapacity + 4];
        std::fill(std::begin(out), std::end(out), sentinel);

        const unsigned count = formatDecimal(row.value, out);

        ASSERT_LE(count, decimalCapacity);
        EXPECT_EQ(WideString(out, count), WideString(row.text));
        for (std::size_t i = count; i < std::size(out); ++i) {
            EXPECT_EQ(out[i], sentinel) << "unit " << i << " written past the digits";
        }

        out[count] = 0;
        std::int32_t back = untouched;
        EXPECT_TRUE(scanDecimal(out, back));
        EXPECT_EQ(back, row.value);
    }
}

}  // namespace
