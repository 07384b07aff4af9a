// Numbers read with "%d" from outside text: command-line arguments of "open"
// (port and time-outs), the registry's port names ("COM<n>") and kernel device
// names ("\Device\USBSER<m>"); and the command keyword itself. Also writes
// numbers and reads them back.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "bridge/open_arguments.h"
#include "common/decimal.h"
#include "frontend/command_table.h"
#include "fuzz_support.h"
#include "registry/usb_identifier.h"

namespace {

const WideChar comPrefix[] = CORVEL_WIDE("COM");
const WideChar usbSerialPrefix[] = CORVEL_WIDE("\\Device\\USBSER");

// Runs of these are skipped before a number; a few of each kind.
const WideChar someSpaces[] = {' ', '\t', '\n', '\v', '\f', '\r', 0xA0, 0x2000, 0x200A, 0x3000};

constexpr std::int32_t untouched = 0x5EADBEEF;

bool isDigit(WideChar unit)
{
    return unit >= '0' && unit <= '9';
}

// What "%d" makes of a digit run: its value modulo 2^32, negated for "-".
// Short runs are checked against the C library; long ones must wrap.
std::int32_t expectedValue(const WideChar* digits, std::size_t count, bool negative)
{
    if (count <= 9) {
        char narrow[12];
        for (std::size_t i = 0; i < count; ++i) {
            narrow[i] = static_cast<char>(digits[i]);
        }
        narrow[count] = 0;
        const long magnitude = std::strtol(narrow, nullptr, 10);
        return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    }
    std::uint64_t wrapped = 0;
    for (std::size_t i = 0; i < count; ++i) {
        wrapped = (wrapped * 10 + static_cast<unsigned>(digits[i] - '0')) & 0xFFFFFFFFu;
    }
    if (negative) {
        wrapped = (0x100000000u - wrapped) & 0xFFFFFFFFu;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(wrapped));
}

// scanDecimal on any text: leaves the value alone when it finds no number,
// and otherwise reads the first digit run of the text.
void checkScan(const fuzz::HeapText& text)
{
    std::int32_t value = untouched;
    const bool found = scanDecimal(text.get(), value);
    std::size_t first = 0;
    while (first < text.length() && !isDigit(text.get()[first])) {
        ++first;
    }
    // A text that starts with a number, signed or not, always gives one.
    const bool startsWithNumber =
        first < text.length() &&
        (first == 0 || (first == 1 && (text.get()[0] == '+' || text.get()[0] == '-')));
    if (!found) {
        FUZZ_REQUIRE(!startsWithNumber);
        FUZZ_REQUIRE(value == untouched);
        return;
    }
    FUZZ_REQUIRE(first < text.length());
    std::size_t end = first;
    while (end < text.length() && isDigit(text.get()[end])) {
        ++end;
    }
    const bool negative = first > 0 && text.get()[first - 1] == '-';
    FUZZ_REQUIRE(value == expectedValue(text.get() + first, end - first, negative));
}

// The prefixed scan is the plain scan after an exact, case-sensitive prefix.
bool checkPrefixedScan(const fuzz::HeapText& text, const WideChar* prefix, std::int32_t& value)
{
    const std::size_t prefixLength = wideLength(prefix);
    const bool prefixMatches = text.length() >= prefixLength &&
                               fuzz::sameUnits(text.get(), prefix, prefixLength);
    std::int32_t expected = untouched;
    const bool expectFound = prefixMatches && scanDecimal(text.get() + prefixLength, expected);

    value = untouched;
    const bool found = scanPrefixedDecimal(text.get(), prefix, value);
    FUZZ_REQUIRE(found == expectFound);
    FUZZ_REQUIRE(value == expected);
    return found;
}

// Writes value after some white space, a sign and a prefix and reads it back.
void checkRoundTrip(std::int32_t value, std::uint8_t shape)
{
    // The output block is exactly the documented capacity.
    std::unique_ptr<WideChar[]> digits(new WideChar[decimalCapacity]);
    const unsigned count = formatDecimal(value, digits.get());
    WideChar reference[16];
    const std::size_t referenceCount = fuzz::referenceDecimal(value, reference);
    FUZZ_REQUIRE(count == referenceCount);
    FUZZ_REQUIRE(fuzz::sameUnits(digits.get(), reference, count));

    WideChar text[40];
    std::size_t length = 0;
    const std::size_t spaceCount = shape & 3u;
    for (std::size_t i = 0; i < spaceCount; ++i) {
        text[length++] = someSpaces[(shape >> 2) % (sizeof someSpaces / sizeof someSpaces[0])];
    }
    if ((shape & 0x80u) != 0 && value >= 0) {
        text[length++] = '+';
    }
    for (unsigned i = 0; i < count; ++i) {
        text[length++] = digits[i];
    }
    const fuzz::HeapText spaced(text, length);
    std::int32_t back = untouched;
    FUZZ_REQUIRE(scanDecimal(spaced.get(), back));
    FUZZ_REQUIRE(back == value);

    // "COM<n>": read back with the prefix, refused with the prefix in other case.
    WideChar port[20] = {'C', 'O', 'M'};
    for (unsigned i = 0; i < count; ++i) {
        port[3 + i] = digits[i];
    }
    const fuzz::HeapText portName(port, 3 + count);
    back = untouched;
    FUZZ_REQUIRE(scanPrefixedDecimal(portName.get(), comPrefix, back));
    FUZZ_REQUIRE(back == value);
    port[1] = 'o';
    const fuzz::HeapText lowerCase(port, 3 + count);
    back = untouched;
    FUZZ_REQUIRE(!scanPrefixedDecimal(lowerCase.get(), comPrefix, back));
    FUZZ_REQUIRE(back == untouched);
}

void checkUsablePort(const fuzz::HeapText& portName, const fuzz::HeapText& deviceName)
{
    std::int32_t port = 0;
    std::int32_t serialIndex = 0;
    const bool portFound = checkPrefixedScan(portName, comPrefix, port);
    const bool serialFound = checkPrefixedScan(deviceName, usbSerialPrefix, serialIndex);
    const std::int32_t expected = serialFound && serialIndex != -1 && portFound ? port : 0;
    FUZZ_REQUIRE(usablePort(portName.get(), deviceName.get()) == expected);
}

Command expectedCommand(const fuzz::HeapText& keyword)
{
    struct Known {
        const WideChar* text;
        Command command;
    };
    const Known known[] = {
        {CORVEL_WIDE("getUSBPort"), Command::getUsbPort},
        {CORVEL_WIDE("getPCIdentification"), Command::getPcIdentification},
        {CORVEL_WIDE("open"), Command::open},
        {CORVEL_WIDE("listUSBPorts"), Command::listUsbPorts},
    };
    for (const Known& entry : known) {
        if (keyword.length() == wideLength(entry.text) &&
            fuzz::sameUnits(keyword.get(), entry.text, keyword.length())) {
            return entry.command;
        }
    }
    return Command::none;
}

// An argument vector of exactly argc entries, each its own heap text: reading
// an argument that is not there is an overflow.
void checkArguments(fuzz::Reader& input)
{
    const int argc = input.byte() % 11;
    std::unique_ptr<fuzz::HeapText[]> texts(new fuzz::HeapText[argc == 0 ? 1 : argc]);
    std::unique_ptr<const WideChar*[]> argv(new const WideChar*[argc == 0 ? 1 : argc]);
    for (int i = 0; i < argc; ++i) {
        texts[i] = fuzz::readText(input, 32);
        argv[i] = texts[i].get();
    }
    const WideChar* const* arguments = argc == 0 ? nullptr : argv.get();

    if (argc > 1) {
        FUZZ_REQUIRE(matchCommand(argv[1]) == expectedCommand(texts[1]));
    }

    std::int32_t portNumber = untouched;
    const bool havePort = readPortNumber(argc, arguments, portNumber);
    std::int32_t expectedPort = untouched;
    const bool expectPort = argc > 3 && scanDecimal(argv[3], expectedPort);
    FUZZ_REQUIRE(havePort == expectPort);
    FUZZ_REQUIRE(portNumber == expectedPort);

    // Defaults, then each argument present that holds a number, as a 32-bit pattern.
    const PortTimeouts defaults;
    std::uint32_t expected[5] = {
        defaults.readIntervalTimeout,        defaults.readTotalTimeoutConstant,
        defaults.readTotalTimeoutMultiplier, defaults.writeTotalTimeoutConstant,
        defaults.writeTotalTimeoutMultiplier,
    };
    for (int i = 0; i < 5 && 4 + i < argc; ++i) {
        std::int32_t value = 0;
        if (scanDecimal(argv[4 + i], value)) {
            expected[i] = static_cast<std::uint32_t>(value);
        }
    }
    const PortTimeouts timeouts = readPortTimeouts(argc, arguments);
    FUZZ_REQUIRE(timeouts.readIntervalTimeout == expected[0]);
    FUZZ_REQUIRE(timeouts.readTotalTimeoutConstant == expected[1]);
    FUZZ_REQUIRE(timeouts.readTotalTimeoutMultiplier == expected[2]);
    FUZZ_REQUIRE(timeouts.writeTotalTimeoutConstant == expected[3]);
    FUZZ_REQUIRE(timeouts.writeTotalTimeoutMultiplier == expected[4]);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Reader input(data, size);
    const auto number = static_cast<std::int32_t>(input.word());
    const std::uint8_t shape = input.byte();
    checkRoundTrip(number, shape);

    const fuzz::HeapText portName = fuzz::readText(input);
    const fuzz::HeapText deviceName = fuzz::readText(input);
    checkScan(portName);
    checkScan(deviceName);
    checkUsablePort(portName, deviceName);

    checkArguments(input);
    return 0;
}
