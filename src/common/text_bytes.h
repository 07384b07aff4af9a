#pragma once
// The one conversion from wide text to the bytes the program writes.

#include <cstddef>

#include "common/wide.h"

// Turns each UTF-16 unit into exactly one byte: U+0000..U+00FF become the byte
// of the same value (Latin-1, as the runtime's default "C" locale converts
// them), any other unit, each half of a surrogate pair included, becomes '?'.
// out receives length bytes.
void toConsoleBytes(const WideChar* text, std::size_t length, unsigned char* out);
