// Choosing the command from the first argument: only the exact keyword runs a
// command; anything else, however close, runs none.
#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "common/exact_text.h"
#include "frontend/command_table.h"

void PrintTo(Command command, std::ostream* out)
{
    switch (command) {
    case Command::getUsbPort: *out << "getUsbPort"; return;
    case Command::getPcIdentification: *out << "getPcIdentification"; return;
    case Command::open: *out << "open"; return;
    case Command::listUsbPorts: *out << "listUsbPorts"; return;
    case Command::none: *out << "none"; return;
    }
    *out << "Command(" << static_cast<int>(command) << ')';
}

namespace {

struct KeywordCase {
    const char* name;
    const WideChar* keyword;
    Command command;
};

void PrintTo(const KeywordCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.keyword) << '"';
}

const KeywordCase keywordCases[] = {
    {"usbPort", u"getUSBPort", Command::getUsbPort},
    {"pcIdentification", u"getPCIdentification", Command::getPcIdentification},
    {"open", u"open", Command::open},
    {"listUsbPorts", u"listUSBPorts", Command::listUsbPorts},
    // Case matters.
    {"usbPortSmallLetters", u"getusbport", Command::none},
    {"usbPortCapitals", u"GETUSBPORT", Command::none},
    {"usbPortCamelCase", u"getUsbPort", Command::none},
    {"pcIdentificationSmallLetters", u"getpcidentification", Command::none},
    {"openCapitalised", u"Open", Command::none},
    {"openCapitals", u"OPEN", Command::none},
    {"listUsbPortsSmallLetters", u"listusbports", Command::none},
    {"listUsbPortsCamelCase", u"listUsbPorts", Command::none},
    {"listUsbPortsSingular", u"listUSBPort", Command::none},
    // Length matters: one unit more or less.
    {"usbPortOneShort", u"getUSBPor", Command::none},
    {"usbPortOneMore", u"getUSBPortX", Command::none},
    {"usbPortTrailingBlank", u"getUSBPort ", Command::none},
    {"pcIdentificationOneShort", u"getPCIdentificatio", Command::none},
    {"pcIdentificationOneMore", u"getPCIdentifications", Command::none},
    {"openOneShort", u"ope", Command::none},
    {"openOneMore", u"openX", Command::none},
    {"listUsbPortsOneMore", u"listUSBPortsX", Command::none},
    {"openLeadingBlank", u" open", Command::none},
    {"twoKeywordsRunTogether", u"getUSBPortopen", Command::none},
    // Look-alikes outside ASCII: Cyrillic small o, fullwidth small o.
    {"cyrillicO", u"\u043Epen", Command::none},
    {"fullwidthO", u"\uFF4Fpen", Command::none},
    {"empty", u"", Command::none},
};

class MatchCommand : public testing::TestWithParam<KeywordCase> {};

TEST_P(MatchCommand, MatchesWholeKeywordExactly)
{
    const ExactText keyword(GetParam().keyword);
    EXPECT_EQ(matchCommand(keyword.get()), GetParam().command);
}

INSTANTIATE_TEST_SUITE_P(Table, MatchCommand, testing::ValuesIn(keywordCases),
                         [](const testing::TestParamInfo<KeywordCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

}  // namespace
