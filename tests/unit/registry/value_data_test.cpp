// Registry data taken as text: a byte count of little-endian UTF-16, which may
// lack its terminator, end in an odd byte, or not be text at all.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "common/exact_text.h"
#include "registry/value_data.h"

namespace {

struct DataCase {
    const char* name;
    std::vector<unsigned char> bytes;
    WideString text;
};

void PrintTo(const DataCase& row, std::ostream* out)
{
    *out << row.name;
}

std::vector<unsigned char> littleEndian(const WideString& units, bool withTerminator)
{
    std::vector<unsigned char> bytes;
    for (const WideChar unit : units) {
        bytes.push_back(static_cast<unsigned char>(unit & 0xFF));
        bytes.push_back(static_cast<unsigned char>(unit >> 8));
    }
    if (withTerminator) {
        bytes.push_back(0);
        bytes.push_back(0);
    }
    return bytes;
}

std::vector<unsigned char> withOddByte(std::vector<unsigned char> bytes, unsigned char odd)
{
    bytes.push_back(odd);
    return bytes;
}

const DataCase dataCases[] = {
    {"stringWithTerminator", littleEndian(u"COM3", true), u"COM3"},
    {"stringWithoutTerminator", littleEndian(u"COM3", false), u"COM3"},
    {"stopsAtFirstZeroUnit", littleEndian(WideString(u"COM3\0junk", 9), false), u"COM3"},
    {"zeroUnitFirst", littleEndian(WideString(u"\0COM3", 5), false), u""},
    {"noData", {}, u""},
    {"oddLastByteDropped", withOddByte(littleEndian(u"COM3", false), 'X'), u"COM3"},
    {"singleByte", {'X'}, u""},
    {"threeBytes", {'A', 0, 'B'}, u"A"},
    {"littleEndianOrder", {0x34, 0x12, 0xAC, 0x20}, u"\u1234\u20AC"},
    {"zeroLowByteIsNoTerminator", {0x00, 0x01, 'A', 0x00}, u"\u0100A"},
    {"zeroHighByteIsNoTerminator", {'A', 0x00, 'B', 0x00}, u"AB"},
    {"highestUnit", {0xFF, 0xFF}, u"\uFFFF"},
    {"surrogatePairKept", {0x3D, 0xD8, 0x00, 0xDE}, u"\U0001F600"},
    // The largest data the registry reader takes: 255 bytes, no terminator.
    {"fullDataBuffer", withOddByte(littleEndian(WideString(127, u'x'), false), 'x'),
     WideString(127, u'x')},
};

class ValueDataText : public testing::TestWithParam<DataCase> {};

// The data and the output each sit in a heap block of exactly their size, so a
// read past the byte count or a write past byteCount / 2 units is caught.
TEST_P(ValueDataText, UnitsUpToFirstZeroOrEndOfData)
{
    const DataCase& row = GetParam();
    const std::size_t byteCount = row.bytes.size();
    const std::unique_ptr<unsigned char[]> data(new unsigned char[byteCount]);
    std::copy(row.bytes.begin(), row.bytes.end(), data.get());
    const std::size_t room = byteCount / 2;
    const std::unique_ptr<WideChar[]> out(new WideChar[room]);
    std::fill(out.get(), out.get() + room, static_cast<WideChar>(0xCCCC));

    const std::size_t count = valueDataText(data.get(), byteCount, out.get());

    ASSERT_EQ(count, row.text.size());
    EXPECT_EQ(WideString(out.get(), count), row.text)
        << readable(WideString(out.get(), count));
}

INSTANTIATE_TEST_SUITE_P(Table, ValueDataText, testing::ValuesIn(dataCases),
                         [](const testing::TestParamInfo<DataCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

}  // namespace
