// Wide text to the bytes written on standard output: one byte per UTF-16 unit.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <iterator>
#include <vector>

#include "common/exact_text.h"
#include "common/text_bytes.h"

namespace {

constexpr unsigned char sentinel = 0xA5;
constexpr std::size_t canaryBytes = 8;

// Converts text into a buffer pre-filled with sentinels that has canary bytes
// after the room for length bytes. The input has no terminator and no slack.
std::vector<unsigned char> convert(const WideString& text)
{
    const ExactUnits units(text);
    std::vector<unsigned char> out(text.size() + canaryBytes, sentinel);
    toConsoleBytes(units.get(), text.size(), out.data());
    for (std::size_t i = text.size(); i < out.size(); ++i) {
        EXPECT_EQ(out[i], sentinel) << "byte " << i << " written past the text";
    }
    out.resize(text.size());
    return out;
}

TEST(ToConsoleBytes, EveryUnitUpToFFIsTheByteOfTheSameValue)
{
    WideString latin1;
    for (unsigned unit = 0; unit <= 0xFF; ++unit) {
        latin1 += static_cast<WideChar>(unit);
    }
    const std::vector<unsigned char> bytes = convert(latin1);
    for (unsigned unit = 0; unit <= 0xFF; ++unit) {
        EXPECT_EQ(bytes[unit], unit);
    }
}

TEST(ToConsoleBytes, UnitsAboveFFBecomeOneQuestionMarkEach)
{
    const struct {
        const char* name;
        WideString text;
        std::vector<unsigned char> bytes;
    } rows[] = {
        {"firstAboveLatin1", u"\u0100", {'?'}},
        {"euroSign", u"\u20AC", {'?'}},
        {"replacementCharacter", u"\uFFFD", {'?'}},
        {"lastUnit", u"\uFFFF", {'?'}},
        {"surrogatePairIsTwoUnits", u"\U0001F600", {'?', '?'}},
        {"loneHighSurrogate", {u'a', static_cast<WideChar>(0xD83D), u'b'}, {'a', '?', 'b'}},
        {"loneLowSurrogate", {u'a', static_cast<WideChar>(0xDE00), u'b'}, {'a', '?', 'b'}},
        {"mixed", u"COM\u00e9\u20AC7\n", {'C', 'O', 'M', 0xE9, '?', '7', '\n'}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(convert(row.text), row.bytes);
    }
}

TEST(ToConsoleBytes, NoTextWritesNothing)
{
    unsigned char out[canaryBytes];
    std::fill(std::begin(out), std::end(out), sentinel);
    const WideChar unit = u'x';
    toConsoleBytes(&unit, 0, out);
    for (const unsigned char byte : out) {
        EXPECT_EQ(byte, sentinel);
    }
}

}  // namespace
