#pragma once
// Shared pieces of the fuzz targets: turning fuzz bytes into the inputs the
// program meets (wide texts, argument vectors) and failing loudly when a
// property does not hold.
//
// Every text handed to the code under test lives in a heap block of exactly
// its own size, terminator included, so that AddressSanitizer reports a read
// of even one unit past the end.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "common/wide.h"

// Stops the run at the first broken property, naming it; libFuzzer saves the
// input that got here.
#define FUZZ_REQUIRE(condition)                                                               \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "property failed: %s (%s:%d)\n", #condition, __FILE__,    \
                         __LINE__);                                                           \
            __builtin_trap();                                                                 \
        }                                                                                     \
    } while (0)

namespace fuzz {

// Consumes the fuzz input from the front.
class Reader {
public:
    Reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool empty() const { return size_ == 0; }
    std::size_t remaining() const { return size_; }

    std::uint8_t byte()
    {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }

    std::uint32_t word()
    {
        std::uint32_t value = 0;
        for (int i = 0; i < 4; ++i) {
            value |= static_cast<std::uint32_t>(byte()) << (8 * i);
        }
        return value;
    }

    // One UTF-16 unit, little-endian; a lone last byte becomes the unit's low half.
    WideChar unit()
    {
        const unsigned low = byte();
        const unsigned high = byte();
        return static_cast<WideChar>(low | (high << 8));
    }

    // Units up to the next zero unit or the end of the input, whichever is
    // first; the zero unit is consumed. Stops after maxUnits.
    std::size_t text(WideChar* out, std::size_t maxUnits)
    {
        std::size_t count = 0;
        while (count < maxUnits && size_ != 0) {
            const WideChar next = unit();
            if (next == 0) {
                break;
            }
            out[count++] = next;
        }
        return count;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// A zero-terminated wide text in a heap block of exactly length + 1 units.
class HeapText {
public:
    HeapText() : HeapText(nullptr, 0) {}
    HeapText(const WideChar* units, std::size_t length)
        : units_(new WideChar[length + 1]), length_(length)
    {
        if (length != 0) {
            std::memcpy(units_.get(), units, length * sizeof(WideChar));
        }
        units_[length] = 0;
    }

    const WideChar* get() const { return units_.get(); }
    std::size_t length() const { return length_; }

private:
    std::unique_ptr<WideChar[]> units_;
    std::size_t length_;
};

// Reads the next zero-terminated text of the input into its own heap block.
inline HeapText readText(Reader& input, std::size_t maxUnits = 64)
{
    std::unique_ptr<WideChar[]> scratch(new WideChar[maxUnits]);
    const std::size_t length = input.text(scratch.get(), maxUnits);
    return HeapText(scratch.get(), length);
}

// Exact comparison of counted units.
inline bool sameUnits(const WideChar* left, const WideChar* right, std::size_t count)
{
    return count == 0 || std::memcmp(left, right, count * sizeof(WideChar)) == 0;
}

// Decimal as the C library writes it, widened: the reference for our own.
inline std::size_t referenceDecimal(std::int32_t value, WideChar* out)
{
    char narrow[16];
    const int count = std::snprintf(narrow, sizeof narrow, "%ld", static_cast<long>(value));
    for (int i = 0; i < count; ++i) {
        out[i] = static_cast<WideChar>(narrow[i]);
    }
    return static_cast<std::size_t>(count);
}

}  // namespace fuzz
