// Device identifiers come straight from the command line of "getUSBPort":
// any length, any units. Splits them, builds the device key path from the
// fields and writes answer lines, checking each result against the identifier.
// Key names come from the registry, also of any form: each text is taken as a
// key name too, and an identifier made from it must lead back to that key.

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <memory>

#include "common/grow_buffer.h"
#include "fuzz_support.h"
#include "registry/usb_identifier.h"

namespace {

const WideChar deviceKeyPrefix[] = CORVEL_WIDE("SYSTEM\\CurrentControlSet\\Enum\\USB\\VID_");
const WideChar productMarker[] = CORVEL_WIDE("&PID_");

// A field holds the identifier's units start..start+3 that exist, then zeros
// to the end of its eight units.
void checkField(const fuzz::HeapText& identifier, std::size_t start, const WideChar (&field)[8])
{
    std::size_t expected = 0;
    if (identifier.length() > start) {
        expected = identifier.length() - start;
        if (expected > 4) {
            expected = 4;
        }
    }
    FUZZ_REQUIRE(fuzz::sameUnits(field, identifier.get() + start, expected));
    for (std::size_t i = expected; i < 8; ++i) {
        FUZZ_REQUIRE(field[i] == 0);
    }
}

// Appends units to a model of the path, as the path would hold them.
void appendModel(WideChar* model, std::size_t& used, const WideChar* text)
{
    while (*text != 0) {
        model[used++] = *text++;
    }
}

void checkDeviceKeyPath(const DeviceFields& fields)
{
    // Fields are at most four units, so the whole path always fits.
    WideChar model[deviceKeyPathCapacity] = {};
    std::size_t used = 0;
    appendModel(model, used, deviceKeyPrefix);
    appendModel(model, used, fields.vendor);
    appendModel(model, used, productMarker);
    appendModel(model, used, fields.product);
    FUZZ_REQUIRE(used < deviceKeyPathCapacity);

    // The path is written into a heap block of exactly its capacity.
    using Path = WideChar[deviceKeyPathCapacity];
    std::unique_ptr<Path> path(new Path[1]);
    buildDeviceKeyPath(fields.vendor, fields.product, *path);
    FUZZ_REQUIRE(fuzz::sameUnits(*path, model, used));
    FUZZ_REQUIRE((*path)[used] == 0);
}

// Checks that line units at offset read "<identifier> <port>\n"; returns the
// line's length.
std::size_t checkPortLine(const WideChar* line, std::size_t available,
                          const fuzz::HeapText& identifier, std::int32_t port)
{
    WideChar digits[16];
    const std::size_t digitCount = fuzz::referenceDecimal(port, digits);
    const std::size_t lineLength = identifier.length() + 1 + digitCount + 1;
    FUZZ_REQUIRE(available >= lineLength);
    FUZZ_REQUIRE(fuzz::sameUnits(line, identifier.get(), identifier.length()));
    FUZZ_REQUIRE(line[identifier.length()] == ' ');
    FUZZ_REQUIRE(fuzz::sameUnits(line + identifier.length() + 1, digits, digitCount));
    FUZZ_REQUIRE(line[lineLength - 1] == '\n');
    return lineLength;
}

// An identifier listUSBPorts makes from a key name is found again by
// getUSBPort: its fields spell the device key's path, or name the key as one
// of the device's functions.
void checkKeyName(const fuzz::HeapText& keyName, const fuzz::HeapText& otherIdentifier)
{
    const DeviceFields other = splitIdentifier(otherIdentifier.get());
    if (isFunctionKeyOf(keyName.get(), other.vendor, other.product)) {
        FUZZ_REQUIRE(isFunctionKey(keyName.get()));
    }
    WideChar identifier[deviceIdentifierCapacity];
    if (!identifierFromDeviceKey(keyName.get(), identifier)) {
        return;
    }
    FUZZ_REQUIRE(wideLength(identifier) == 10);
    const DeviceFields fields = splitIdentifier(identifier);
    if (keyName.length() == 23) {
        FUZZ_REQUIRE(isFunctionKeyOf(keyName.get(), fields.vendor, fields.product));
        return;
    }
    FUZZ_REQUIRE(keyName.length() == 17);
    WideChar path[deviceKeyPathCapacity];
    WideChar keyPath[deviceKeyPathCapacity];
    buildDeviceKeyPath(fields.vendor, fields.product, path);
    buildTreeKeyPath(keyName.get(), keyPath);
    FUZZ_REQUIRE(wideEquals(path, keyPath));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fuzz::Reader input(data, size);
    const auto firstPort = static_cast<std::int32_t>(input.word());
    const auto secondPort = static_cast<std::int32_t>(input.word());
    // Long enough that a line outgrows the output buffer's first block.
    const fuzz::HeapText first = fuzz::readText(input, 200);
    const fuzz::HeapText second = fuzz::readText(input, 200);

    for (const fuzz::HeapText* identifier : {&first, &second}) {
        const DeviceFields fields = splitIdentifier(identifier->get());
        checkField(*identifier, 2, fields.product);
        checkField(*identifier, 6, fields.vendor);
        checkDeviceKeyPath(fields);
    }

    checkKeyName(first, second);
    checkKeyName(second, first);

    // Two lines in one buffer, as one answer lists several identifiers.
    GrowBuffer<WideChar> output;
    appendPortLine(output, first.get(), firstPort);
    appendPortLine(output, second.get(), secondPort);
    FUZZ_REQUIRE(!output.failed());
    const std::size_t firstLength = checkPortLine(output.data(), output.size(), first, firstPort);
    const std::size_t secondLength = checkPortLine(output.data() + firstLength,
                                                   output.size() - firstLength, second, secondPort);
    FUZZ_REQUIRE(output.size() == firstLength + secondLength);
    return 0;
}
