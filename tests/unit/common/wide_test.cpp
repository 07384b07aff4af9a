// Length and exact comparison of wide text: keywords, value names and port
// names are all matched with wideEquals.
#include <gtest/gtest.h>

#include "common/exact_text.h"
#include "common/wide.h"

namespace {

TEST(WideLength, CountsUnitsUpToTheTerminator)
{
    const struct {
        const WideChar* text;
        std::size_t length;
    } rows[] = {
        {u"", 0},
        {u"a", 1},
        {u"getUSBPort", 10},
        {u"\U0001F600", 2},  // a surrogate pair is two units
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.text));
        const ExactText text(row.text);
        EXPECT_EQ(wideLength(text.get()), row.length);
    }
}

TEST(WideEquals, OnlySameUnitsSameCaseSameLengthAreEqual)
{
    const struct {
        const WideChar* left;
        const WideChar* right;
        bool equal;
    } rows[] = {
        {u"", u"", true},
        {u"PortName", u"PortName", true},
        {u"\u00e9\u20AC", u"\u00e9\u20AC", true},
        {u"PortName", u"portname", false},
        {u"PortName", u"PortNamE", false},
        {u"Port", u"PortName", false},  // a prefix of the other
        {u"PortName", u"Port", false},
        {u"", u"a", false},
        {u"a", u"", false},
        {u"\u0100", u"\u0000", false},  // differs only in the high byte
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.left) + " vs " + readable(row.right));
        const ExactText left(row.left);
        const ExactText right(row.right);
        EXPECT_EQ(wideEquals(left.get(), right.get()), row.equal);
        EXPECT_EQ(wideEquals(right.get(), left.get()), row.equal);
    }
}

}  // namespace
