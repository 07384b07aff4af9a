#pragma once
// Helpers for tests that hand wide text to the code under test.
//
// ExactText and ExactUnits put their units on the heap with no slack at all, so
// that a read one unit past the end lands in AddressSanitizer's red zone and
// fails the test instead of reading a neighbour's memory by luck.

#include <cstddef>
#include <cstdio>
#include <memory>
#include <string>

#include "common/wide.h"

using WideString = std::basic_string<WideChar>;

// A zero-terminated copy: the units of text and the terminator, nothing more.
class ExactText {
public:
    explicit ExactText(const WideString& text) : units_(new WideChar[text.size() + 1])
    {
        text.copy(units_.get(), text.size());
        units_[text.size()] = 0;
    }

    const WideChar* get() const { return units_.get(); }

private:
    std::unique_ptr<WideChar[]> units_;
};

// A copy without a terminator, for routines that take a length.
class ExactUnits {
public:
    explicit ExactUnits(const WideString& text) : units_(new WideChar[text.size()])
    {
        text.copy(units_.get(), text.size());
    }

    const WideChar* get() const { return units_.get(); }

private:
    std::unique_ptr<WideChar[]> units_;
};

// Wide text as it can be shown in a failure message: printable ASCII as it is,
// everything else as \uXXXX.
inline std::string readable(const WideString& text)
{
    std::string shown;
    for (const WideChar unit : text) {
        if (unit >= 0x20 && unit < 0x7F) {
            shown += static_cast<char>(unit);
        } else {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(unit));
            shown += escaped;
        }
    }
    return shown;
}

// The zero-terminated text in a fixed buffer, stopping at its end if no
// terminator comes first.
template <std::size_t capacity>
WideString terminatedText(const WideChar (&buffer)[capacity])
{
    std::size_t length = 0;
    while (length < capacity && buffer[length] != 0) {
        ++length;
    }
    return WideString(buffer, length);
}
