// The arguments of "open": the port number, and five optional time-outs whose
// argument order is not the order of the record they fill.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/open_arguments.h"
#include "common/exact_text.h"

namespace {

// An argument vector as the entry gets it. The vector itself holds exactly
// argc pointers, so reading an argument that is not there is caught.
class Arguments {
public:
    explicit Arguments(const std::vector<WideString>& after)
    {
        std::vector<WideString> all = {u"corvel.exe", u"open"};
        all.insert(all.end(), after.begin(), after.end());
        pointers_.reset(new const WideChar*[all.size()]);
        for (std::size_t i = 0; i < all.size(); ++i) {
            texts_.emplace_back(new ExactText(all[i]));
            pointers_[i] = texts_.back()->get();
        }
    }

    int count() const { return static_cast<int>(texts_.size()); }
    const WideChar* const* vector() const { return pointers_.get(); }

private:
    std::vector<std::unique_ptr<ExactText>> texts_;
    std::unique_ptr<const WideChar*[]> pointers_;
};

// --- The port number ---

constexpr std::int32_t untouched = 0x5EED;

struct PortCase {
    const char* name;
    std::vector<WideString> arguments;  // from the host name on
    bool read;
    std::int32_t port;
};

void PrintTo(const PortCase& row, std::ostream* out)
{
    *out << row.name;
}

const PortCase portCases[] = {
    {"number", {u"host.exe", u"7"}, true, 7},
    {"twoDigits", {u"host.exe", u"12"}, true, 12},
    {"zeroIsReadForTheCallerToReject", {u"host.exe", u"0"}, true, 0},
    {"blankAndSign", {u"host.exe", u" +3"}, true, 3},
    {"negative", {u"host.exe", u"-1"}, true, -1},
    {"textAfterNumber", {u"host.exe", u"5x"}, true, 5},
    {"timeOutsAfterIt", {u"host.exe", u"4", u"1", u"2", u"3", u"4", u"5"}, true, 4},
    {"noPortArgument", {u"host.exe"}, false, untouched},
    {"noArgumentsAtAll", {}, false, untouched},
    {"notANumber", {u"host.exe", u"COM4"}, false, untouched},
    {"emptyArgument", {u"host.exe", u""}, false, untouched},
};

class ReadPortNumber : public testing::TestWithParam<PortCase> {};

TEST_P(ReadPortNumber, ReadsTheFourthArgument)
{
    const PortCase& row = GetParam();
    const Arguments argv(row.arguments);
    std::int32_t port = untouched;
    EXPECT_EQ(readPortNumber(argv.count(), argv.vector(), port), row.read);
    EXPECT_EQ(port, row.port);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadPortNumber, testing::ValuesIn(portCases),
                         [](const testing::TestParamInfo<PortCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// --- The time-outs ---

// Expected values in the order of the arguments, to be checked member by
// member against the record.
struct InArgumentOrder {
    std::uint32_t readInterval;
    std::uint32_t readConstant;
    std::uint32_t readMultiplier;
    std::uint32_t writeConstant;
    std::uint32_t writeMultiplier;
};

constexpr InArgumentOrder defaults = {0, 10, 0, 1000, 250};
constexpr std::uint32_t allOnes = 0xFFFFFFFFu;

struct TimeoutCase {
    const char* name;
    std::vector<WideString> timeouts;  // the arguments after the port number
    InArgumentOrder expected;
};

void PrintTo(const TimeoutCase& row, std::ostream* out)
{
    *out << row.name;
}

const TimeoutCase timeoutCases[] = {
    {"noneGiven", {}, defaults},
    {"allFive", {u"1", u"2", u"3", u"4", u"5"}, {1, 2, 3, 4, 5}},
    {"readOnly", {u"20", u"30", u"40"}, {20, 30, 40, 1000, 250}},
    {"intervalOnly", {u"5"}, {5, 10, 0, 1000, 250}},
    {"fourGiven", {u"1", u"2", u"3", u"4"}, {1, 2, 3, 4, 250}},
    {"zeros", {u"0", u"0", u"0", u"0", u"0"}, {0, 0, 0, 0, 0}},
    {"minusOneIsAllOnes", {u"-1", u"-1", u"-1", u"-1", u"-1"},
     {allOnes, allOnes, allOnes, allOnes, allOnes}},
    {"wrappedNumbersKeepTheirBits", {u"4294967295", u"-2147483648", u"2147483648", u"4294967296"},
     {allOnes, 0x80000000u, 0x80000000u, 0, 250}},
    {"blanksAndSigns", {u" +15", u"\t7", u"8ms"}, {15, 7, 8, 1000, 250}},
    // A time-out that holds no number keeps its default, not the value of the
    // argument before it.
    {"nonNumberKeepsItsDefault", {u"7", u"x", u"9", u"", u"300"}, {7, 10, 9, 1000, 300}},
    {"allNonNumbers", {u"a", u"b", u"c", u"d", u"e"}, defaults},
    {"laterArgumentsIgnored", {u"1", u"2", u"3", u"4", u"5", u"6", u"7"}, {1, 2, 3, 4, 5}},
};

void expectTimeouts(const PortTimeouts& actual, const InArgumentOrder& expected)
{
    EXPECT_EQ(actual.readIntervalTimeout, expected.readInterval);
    EXPECT_EQ(actual.readTotalTimeoutConstant, expected.readConstant);
    EXPECT_EQ(actual.readTotalTimeoutMultiplier, expected.readMultiplier);
    EXPECT_EQ(actual.writeTotalTimeoutConstant, expected.writeConstant);
    EXPECT_EQ(actual.writeTotalTimeoutMultiplier, expected.writeMultiplier);
}

class ReadPortTimeouts : public testing::TestWithParam<TimeoutCase> {};

TEST_P(ReadPortTimeouts, FillsTheRecordFromArgumentsFiveToNine)
{
    const TimeoutCase& row = GetParam();
    std::vector<WideString> arguments = {u"host.exe", u"3"};
    arguments.insert(arguments.end(), row.timeouts.begin(), row.timeouts.end());
    const Arguments argv(arguments);
    expectTimeouts(readPortTimeouts(argv.count(), argv.vector()), row.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadPortTimeouts, testing::ValuesIn(timeoutCases),
                         [](const testing::TestParamInfo<TimeoutCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// The count decides which arguments exist, not what the vector happens to hold
// beyond it.
TEST(ReadPortTimeouts, ReadsNoArgumentBeyondTheCount)
{
    const Arguments argv({u"host.exe", u"3", u"1", u"2", u"3", u"4", u"5"});
    expectTimeouts(readPortTimeouts(6, argv.vector()), {1, 2, 0, 1000, 250});
    expectTimeouts(readPortTimeouts(4, argv.vector()), defaults);
    expectTimeouts(readPortTimeouts(2, argv.vector()), defaults);
}

}  // namespace
