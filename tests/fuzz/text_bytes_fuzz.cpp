// Everything the program prints passes through this conversion: identifiers
// from the command line, registry data, numbers. Each unit gives exactly one
// byte and the output is exactly as long as the input.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "common/text_bytes.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Units are little-endian byte pairs; an odd last byte picks a length up
    // to them all, so that lengths short of the data are converted too.
    std::size_t length = size / 2;
    if (size % 2 == 1) {
        length = data[size - 1] % (length + 1);
    }
    // Input and output in blocks of exactly their size (none at all for an
    // empty text): one unit read or one byte written too many is reported.
    std::unique_ptr<WideChar[]> text(new WideChar[length]);
    for (std::size_t i = 0; i < length; ++i) {
        text[i] = static_cast<WideChar>(data[2 * i] | (data[2 * i + 1] << 8));
    }
    std::unique_ptr<unsigned char[]> bytes(new unsigned char[length]);

    toConsoleBytes(text.get(), length, bytes.get());
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(text[i]);
        const unsigned char expected = unit <= 0xFF ? static_cast<unsigned char>(unit) : '?';
        FUZZ_REQUIRE(bytes[i] == expected);
    }
    return 0;
}
