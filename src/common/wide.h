#pragma once
// Wide text as the program sees it: UTF-16 code units.
//
// On Windows that is wchar_t, so argument vectors and registry buffers are used
// as they come. Elsewhere wchar_t is 32 bits wide, so the logic that also runs
// natively (in the unit tests) is written against WideChar, which is char16_t
// there and keeps the same unit-by-unit behaviour, surrogates included.

#include <cstddef>
#include <cwchar>

#if WCHAR_MAX == 0xFFFF
using WideChar = wchar_t;
#define CORVEL_WIDE(text) L##text
#else
using WideChar = char16_t;
#define CORVEL_WIDE(text) u##text
#endif

static_assert(sizeof(WideChar) == 2, "wide text is UTF-16");

// Length of a zero-terminated wide text.
inline std::size_t wideLength(const WideChar* text)
{
    std::size_t length = 0;
    while (text[length] != 0) {
        ++length;
    }
    return length;
}

// Exact comparison: same units, same case, same length.
inline bool wideEquals(const WideChar* left, const WideChar* right)
{
    while (*left != 0 && *left == *right) {
        ++left;
        ++right;
    }
    return *left == *right;
}
