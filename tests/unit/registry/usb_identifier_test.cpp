// From a "getUSBPort" identifier to the device key searched, from the names
// found to a port number, and the answer line for it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <limits>
#include <ostream>
#include <string>

#include "common/exact_text.h"
#include "registry/usb_identifier.h"

namespace {

// --- Splitting an identifier into its product and vendor fields ---

struct SplitCase {
    const char* name;
    const WideChar* identifier;
    const WideChar* product;
    const WideChar* vendor;
};

void PrintTo(const SplitCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.identifier) << '"';
}

const SplitCase splitCases[] = {
    {"productThenVendor", u"0x57400483", u"5740", u"0483"},
    {"tailIgnored", u"0x57400483-second-port", u"5740", u"0483"},
    {"caseKept", u"0xabCD1a2B", u"abCD", u"1a2B"},
    {"prefixNotLookedAt", u"ZZ57400483", u"5740", u"0483"},
    {"nineUnitsShortVendor", u"0x5740048", u"5740", u"048"},
    {"sixUnitsEmptyVendor", u"0x5740", u"5740", u""},
    {"fiveUnitsShortProduct", u"0x574", u"574", u""},
    {"onlyThePrefix", u"0x", u"", u""},
    {"oneUnit", u"0", u"", u""},
    {"empty", u"", u"", u""},
    {"unitsBeyondLatin1Kept", u"\u00e9\u00e9ABCD\u20ACFGH", u"ABCD", u"\u20ACFGH"},
};

class SplitIdentifier : public testing::TestWithParam<SplitCase> {};

// Each field holds its units and then zeros to the end of its 8 units. The
// identifier sits in a block of exactly its length, so a read past its
// terminator (a short identifier) is caught.
TEST_P(SplitIdentifier, TakesUpToFourUnitsFromFixedPositions)
{
    const SplitCase& row = GetParam();
    const ExactText identifier(row.identifier);

    const DeviceFields fields = splitIdentifier(identifier.get());

    const auto expectField = [](const WideChar(&field)[8], const WideString& expected) {
        EXPECT_EQ(terminatedText(field), expected) << readable(terminatedText(field));
        for (std::size_t i = expected.size(); i < 8; ++i) {
            EXPECT_EQ(field[i], 0) << "unit " << i << " of the field is not cleared";
        }
    };
    {
        SCOPED_TRACE("product");
        expectField(fields.product, row.product);
    }
    {
        SCOPED_TRACE("vendor");
        expectField(fields.vendor, row.vendor);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SplitIdentifier, testing::ValuesIn(splitCases),
                         [](const testing::TestParamInfo<SplitCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// --- The device key path ---

constexpr WideChar pathSentinel = 0x7777;

struct GuardedPath {
    WideChar path[deviceKeyPathCapacity];
    WideChar canary[8];
};

// Builds the path into a buffer of sentinels with canary units behind it.
WideString buildPath(const WideString& vendor, const WideString& product)
{
    GuardedPath guarded;
    std::fill(std::begin(guarded.path), std::end(guarded.path), pathSentinel);
    std::fill(std::begin(guarded.canary), std::end(guarded.canary), pathSentinel);
    const ExactText vendorText(vendor);
    const ExactText productText(product);

    buildDeviceKeyPath(vendorText.get(), productText.get(), guarded.path);

    for (const WideChar unit : guarded.canary) {
        EXPECT_EQ(unit, pathSentinel) << "written past the path buffer";
    }
    const auto end = std::find(std::begin(guarded.path), std::end(guarded.path), WideChar{0});
    EXPECT_NE(end, std::end(guarded.path)) << "path not terminated";
    return WideString(std::begin(guarded.path), end);
}

TEST(BuildDeviceKeyPath, VendorThenProductBelowTheUsbTree)
{
    const struct {
        const WideChar* vendor;
        const WideChar* product;
        const WideChar* path;
    } rows[] = {
        {u"0483", u"5740", u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740"},
        {u"abCD", u"1a2B", u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_abCD&PID_1a2B"},
        {u"048", u"5740", u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_048&PID_5740"},
        {u"", u"5740", u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_&PID_5740"},
        {u"", u"", u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_&PID_"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.vendor) + "/" + readable(row.product));
        EXPECT_EQ(buildPath(row.vendor, row.product), row.path);
    }
}

// Fields longer than an identifier can give must still leave a terminated
// path inside the buffer, not run past it.
TEST(BuildDeviceKeyPath, OverlongFieldsStayInsideTheBuffer)
{
    const WideString vendor(100, u'V');
    const WideString product(100, u'P');
    const WideString whole =
        u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_" + vendor + u"&PID_" + product;
    const WideString path = buildPath(vendor, product);
    EXPECT_LT(path.size(), deviceKeyPathCapacity);
    EXPECT_EQ(path, whole.substr(0, path.size()));
}

// --- The port an instance offers ---

struct PortCase {
    const char* name;
    const WideChar* portName;
    const WideChar* deviceName;
    std::int32_t port;
};

void PrintTo(const PortCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.portName) << "\" on \""
         << readable(row.deviceName) << '"';
}

const PortCase portCases[] = {
    {"usbSerialPort", u"COM7", u"\\Device\\USBSER000", 7},
    {"twoDigitPort", u"COM12", u"\\Device\\USBSER3", 12},
    {"leadingZerosInPort", u"COM007", u"\\Device\\USBSER0", 7},
    {"blankBeforeNumber", u"COM 7", u"\\Device\\USBSER0", 7},
    {"textAfterNumber", u"COM7x", u"\\Device\\USBSER0x", 7},
    // Read as "%d" reads it: a negative port number comes through as it is.
    {"negativePortNumber", u"COM-3", u"\\Device\\USBSER0", -3},
    // Only the index -1 means no match; other negative indexes are matches.
    {"otherNegativeIndex", u"COM7", u"\\Device\\USBSER-2", 7},
    {"indexMinusOne", u"COM7", u"\\Device\\USBSER-1", 0},
    {"indexWrapsToMinusOne", u"COM7", u"\\Device\\USBSER4294967295", 0},
    {"otherDriver", u"COM7", u"\\Device\\Serial0", 0},
    {"deviceNameWithoutIndex", u"COM7", u"\\Device\\USBSER", 0},
    {"deviceNameInOtherCase", u"COM7", u"\\device\\usbser0", 0},
    {"emptyDeviceName", u"COM7", u"", 0},
    {"portNameInOtherCase", u"com7", u"\\Device\\USBSER0", 0},
    {"notAComPort", u"LPT1", u"\\Device\\USBSER0", 0},
    {"comWithoutNumber", u"COM", u"\\Device\\USBSER0", 0},
    {"comZero", u"COM0", u"\\Device\\USBSER0", 0},
    {"emptyPortName", u"", u"\\Device\\USBSER0", 0},
};

class UsablePort : public testing::TestWithParam<PortCase> {};

TEST_P(UsablePort, ComNumberOnlyForTheUsbSerialDriver)
{
    const PortCase& row = GetParam();
    const ExactText portName(row.portName);
    const ExactText deviceName(row.deviceName);
    EXPECT_EQ(usablePort(portName.get(), deviceName.get()), row.port);
}

INSTANTIATE_TEST_SUITE_P(Table, UsablePort, testing::ValuesIn(portCases),
                         [](const testing::TestParamInfo<PortCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// --- From a device key's name to the identifier that finds it again ---

struct DeviceKeyCase {
    const char* name;
    const WideChar* keyName;
    const WideChar* identifier;  // nullptr: not a device key
};

void PrintTo(const DeviceKeyCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.keyName) << '"';
}

const DeviceKeyCase deviceKeyCases[] = {
    {"plain", u"VID_0483&PID_5740", u"0x57400483"},
    {"lowerCaseDigitsKept", u"VID_10c4&PID_ea60", u"0xea6010c4"},
    {"mixedCaseDigitsKept", u"VID_1a86&PID_7523", u"0x75231a86"},
    // A composite device's function lists under the device's identifier.
    {"function", u"VID_0483&PID_5740&MI_00", u"0x57400483"},
    {"functionLowerCaseDigitsKept", u"VID_10c4&PID_ea60&MI_0a", u"0xea6010c4"},
    {"functionOneDigit", u"VID_0483&PID_5740&MI_0", nullptr},
    {"functionThreeDigits", u"VID_0483&PID_5740&MI_000", nullptr},
    {"functionNotHexDigit", u"VID_0483&PID_5740&MI_0G", nullptr},
    {"functionWithoutUnderscore", u"VID_0483&PID_5740&MIX00", nullptr},
    {"functionLowerCaseMi", u"VID_0483&PID_5740&mi_00", nullptr},
    {"functionOfLongerProduct", u"VID_0483&PID_57401&MI_00", nullptr},
    {"otherSuffix", u"VID_0483&PID_5740&REV_0100", nullptr},
    {"oneUnitMore", u"VID_0483&PID_57401", nullptr},
    {"oneUnitShort", u"VID_0483&PID_574", nullptr},
    {"shortVendor", u"VID_483&PID_57401", nullptr},
    {"hub", u"ROOT_HUB30", nullptr},
    {"lowerCaseVid", u"vid_0483&pid_5740", nullptr},
    {"notHexDigit", u"VID_0G83&PID_5740", nullptr},
    {"blankForDigit", u"VID_0483&PID_574 ", nullptr},
    {"otherSeparator", u"VID_0483_PID_5740", nullptr},
    {"fullwidthDigit", u"VID_\uFF10483&PID_5740", nullptr},
    {"empty", u"", nullptr},
};

class IdentifierFromDeviceKey : public testing::TestWithParam<DeviceKeyCase> {};

// The key name sits in a block of exactly its length, so reading past a short
// name's terminator is caught.
TEST_P(IdentifierFromDeviceKey, ProductThenVendorAsTheKeySpellsThem)
{
    const DeviceKeyCase& row = GetParam();
    WideChar identifier[deviceIdentifierCapacity];
    const bool found = identifierFromDeviceKey(ExactText(row.keyName).get(), identifier);
    ASSERT_EQ(found, row.identifier != nullptr);
    if (found) {
        EXPECT_EQ(terminatedText(identifier), row.identifier)
            << readable(terminatedText(identifier));
    }
}

INSTANTIATE_TEST_SUITE_P(Table, IdentifierFromDeviceKey, testing::ValuesIn(deviceKeyCases),
                         [](const testing::TestParamInfo<DeviceKeyCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// Every identifier made from a key leads getUSBPort's split back to that key.
TEST(IdentifierFromDeviceKey, SplitsBackIntoTheKeysPath)
{
    WideChar identifier[deviceIdentifierCapacity];
    ASSERT_TRUE(identifierFromDeviceKey(ExactText(u"VID_10c4&PID_EA60").get(), identifier));
    const DeviceFields fields = splitIdentifier(identifier);
    WideChar path[deviceKeyPathCapacity];
    buildDeviceKeyPath(fields.vendor, fields.product, path);
    EXPECT_EQ(terminatedText(path), u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_10c4&PID_EA60");
}

// --- Which keys are the functions of a composite device ---

struct FunctionKeyCase {
    const char* name;
    const WideChar* keyName;
    const WideChar* vendor;
    const WideChar* product;
    bool ofThisDevice;  // isFunctionKeyOf
    bool ofAnyDevice;   // isFunctionKey
};

void PrintTo(const FunctionKeyCase& row, std::ostream* out)
{
    *out << row.name << " \"" << readable(row.keyName) << "\" for " << readable(row.vendor)
         << '/' << readable(row.product);
}

const FunctionKeyCase functionKeyCases[] = {
    {"firstFunction", u"VID_0483&PID_5740&MI_00", u"0483", u"5740", true, true},
    {"laterFunction", u"VID_0483&PID_5740&MI_02", u"0483", u"5740", true, true},
    {"letterDigits", u"VID_0483&PID_5740&MI_0A", u"0483", u"5740", true, true},
    {"lowerCaseLetterDigits", u"VID_0483&PID_5740&MI_0a", u"0483", u"5740", true, true},
    {"fieldsInOtherCase", u"VID_10C4&PID_EA60&MI_01", u"10c4", u"ea60", true, true},
    {"keyInOtherCase", u"vid_10c4&pid_ea60&mi_01", u"10C4", u"EA60", true, true},
    {"deviceKeyItself", u"VID_0483&PID_5740", u"0483", u"5740", false, false},
    {"oneDigit", u"VID_0483&PID_5740&MI_0", u"0483", u"5740", false, false},
    {"threeDigits", u"VID_0483&PID_5740&MI_000", u"0483", u"5740", false, false},
    {"notHexDigit", u"VID_0483&PID_5740&MI_0G", u"0483", u"5740", false, false},
    {"withoutUnderscore", u"VID_0483&PID_5740&MIX00", u"0483", u"5740", false, false},
    {"trailingBlank", u"VID_0483&PID_5740&MI_00 ", u"0483", u"5740", false, false},
    {"otherSuffix", u"VID_0483&PID_5740&REV_00", u"0483", u"5740", false, false},
    {"longerProductSameStart", u"VID_0483&PID_57401&MI_00", u"0483", u"5740", false, false},
    {"otherProduct", u"VID_0483&PID_5741&MI_00", u"0483", u"5740", false, true},
    {"otherVendor", u"VID_0484&PID_5740&MI_00", u"0483", u"5740", false, true},
    {"vendorAndProductSwapped", u"VID_5740&PID_0483&MI_00", u"0483", u"5740", false, true},
    // Fields of a short identifier: the key's digits must all be matched.
    {"shortVendorField", u"VID_0483&PID_5740&MI_00", u"048", u"5740", false, true},
    {"shortProductField", u"VID_0483&PID_5740&MI_00", u"0483", u"574", false, true},
    {"emptyFields", u"VID_0483&PID_5740&MI_00", u"", u"", false, true},
    {"hub", u"ROOT_HUB20", u"0483", u"5740", false, false},
    {"empty", u"", u"0483", u"5740", false, false},
};

class IsFunctionKeyOf : public testing::TestWithParam<FunctionKeyCase> {};

// Key name and fields sit in blocks of exactly their length, so reading past
// a short one's terminator is caught.
TEST_P(IsFunctionKeyOf, DeviceKeyNameWithTwoDigitInterface)
{
    const FunctionKeyCase& row = GetParam();
    const ExactText keyName(row.keyName);
    EXPECT_EQ(isFunctionKeyOf(keyName.get(), ExactText(row.vendor).get(),
                              ExactText(row.product).get()),
              row.ofThisDevice);
    EXPECT_EQ(isFunctionKey(keyName.get()), row.ofAnyDevice);
}

INSTANTIATE_TEST_SUITE_P(Table, IsFunctionKeyOf, testing::ValuesIn(functionKeyCases),
                         [](const testing::TestParamInfo<FunctionKeyCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

TEST(FunctionInterfaceNumber, TwoHexDigitsInEitherCase)
{
    const struct {
        const WideChar* keyName;
        unsigned number;
    } rows[] = {
        {u"VID_0483&PID_5740&MI_00", 0},
        {u"VID_0483&PID_5740&MI_02", 2},
        {u"VID_0483&PID_5740&MI_0A", 10},
        {u"VID_0483&PID_5740&MI_0a", 10},
        {u"VID_0483&PID_5740&MI_10", 16},
        {u"vid_0483&pid_5740&mi_fF", 255},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.keyName));
        EXPECT_EQ(functionInterfaceNumber(ExactText(row.keyName).get()), row.number);
    }
}

// The names tried when a device's function keys are looked for by name.
TEST(BuildFunctionKeyName, FieldsAsGivenNumberInUpperCase)
{
    const struct {
        const WideChar* vendor;
        const WideChar* product;
        unsigned number;
        const WideChar* name;  // nullptr: no name
    } rows[] = {
        {u"0483", u"5740", 0, u"VID_0483&PID_5740&MI_00"},
        {u"0483", u"5740", 2, u"VID_0483&PID_5740&MI_02"},
        {u"0483", u"5740", 10, u"VID_0483&PID_5740&MI_0A"},
        {u"0483", u"5740", 255, u"VID_0483&PID_5740&MI_FF"},
        {u"10c4", u"Ea60", 171, u"VID_10c4&PID_Ea60&MI_AB"},
        {u"0483", u"5740", 256, nullptr},
        {u"048", u"5740", 0, nullptr},
        {u"0483", u"574", 0, nullptr},
        {u"", u"", 0, nullptr},
        {u"04G3", u"5740", 0, nullptr},
        {u"0483", u"57 0", 0, nullptr},
        {u"0483", u"57400", 0, nullptr},
    };
    constexpr WideChar sentinel = 0x7777;
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.vendor) + "/" + readable(row.product) + " "
                     + std::to_string(row.number));
        WideChar name[functionKeyNameCapacity];
        std::fill(std::begin(name), std::end(name), sentinel);
        const bool built = buildFunctionKeyName(ExactText(row.vendor).get(),
                                                ExactText(row.product).get(), row.number, name);
        ASSERT_EQ(built, row.name != nullptr);
        if (built) {
            EXPECT_EQ(terminatedText(name), row.name) << readable(terminatedText(name));
            EXPECT_TRUE(isFunctionKeyOf(name, row.vendor, row.product));
        } else {
            EXPECT_EQ(name[0], sentinel) << "name written although none was built";
        }
    }
}

TEST(BuildTreeKeyPath, KeyNameBelowTheUsbTree)
{
    WideChar path[deviceKeyPathCapacity];
    buildTreeKeyPath(ExactText(u"VID_0483&PID_5740&MI_02").get(), path);
    EXPECT_EQ(terminatedText(path),
              u"SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_0483&PID_5740&MI_02");

    const WideString longName(300, u'K');
    buildTreeKeyPath(ExactText(longName).get(), path);
    const WideString kept = terminatedText(path);
    EXPECT_LT(kept.size(), deviceKeyPathCapacity) << "path not terminated inside the buffer";
    EXPECT_EQ(kept, (u"SYSTEM\\CurrentControlSet\\Enum\\USB\\" + longName).substr(0, kept.size()));
}

TEST(SameDevice, SameDigitsInEitherCase)
{
    const struct {
        const WideChar* identifier;
        const WideChar* other;
        bool same;
    } rows[] = {
        {u"0x57400483", u"0x57400483", true},
        {u"0xea6010c4", u"0xEA6010C4", true},
        {u"0xEa6010C4", u"0xeA6010c4", true},
        {u"0x57400483", u"0x57410483", false},
        {u"0x57400483", u"0x57400484", false},
        {u"0x04835740", u"0x57400483", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.identifier) + " " + readable(row.other));
        EXPECT_EQ(sameDevice(ExactText(row.identifier).get(), ExactText(row.other).get()),
                  row.same);
    }
}

// --- The answer line ---

WideString text(const GrowBuffer<WideChar>& output)
{
    return output.size() == 0 ? WideString() : WideString(output.data(), output.size());
}

TEST(AppendPortLine, IdentifierBlankNumberLineFeed)
{
    const struct {
        const WideChar* identifier;
        std::int32_t port;
        const WideChar* line;
    } rows[] = {
        {u"0x57400483", 7, u"0x57400483 7\n"},
        {u"0x57400483", 0, u"0x57400483 0\n"},
        {u"0x57400483", 12, u"0x57400483 12\n"},
        {u"0x57400483", -3, u"0x57400483 -3\n"},
        {u"0x57400483", std::numeric_limits<std::int32_t>::max(), u"0x57400483 2147483647\n"},
        {u"0x57400483", std::numeric_limits<std::int32_t>::min(), u"0x57400483 -2147483648\n"},
        {u"0xABCD1234extra", 3, u"0xABCD1234extra 3\n"},
        {u"\u00e9\u20AC", 3, u"\u00e9\u20AC 3\n"},
        {u"", 5, u" 5\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(readable(row.line));
        GrowBuffer<WideChar> output;
        const ExactText identifier(row.identifier);
        appendPortLine(output, identifier.get(), row.port);
        EXPECT_FALSE(output.failed());
        EXPECT_EQ(text(output), row.line) << readable(text(output));
    }
}

TEST(AppendPortLine, LongIdentifierIsEchoedWhole)
{
    const WideString identifier = u"0x57400483" + WideString(500, u'z');
    GrowBuffer<WideChar> output;
    appendPortLine(output, ExactText(identifier).get(), 42);
    EXPECT_EQ(text(output), identifier + u" 42\n");
}

TEST(AppendPortLine, LinesFollowEachOtherInOrder)
{
    GrowBuffer<WideChar> output;
    appendPortLine(output, ExactText(u"0x57400483").get(), 7);
    appendPortLine(output, ExactText(u"0x57400483").get(), 9);
    appendPortLine(output, ExactText(u"0x00011111").get(), 0);
    EXPECT_EQ(text(output), u"0x57400483 7\n0x57400483 9\n0x00011111 0\n");
}

}  // namespace
