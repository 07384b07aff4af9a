#pragma once
// Registry value data taken as text.

#include <cstddef>

#include "common/wide.h"

// Registry data is a byte count, not a string: a value may be stored without
// its terminator, or not be text at all. Its text is the UTF-16 units up to the
// first zero unit or the end of the data, whichever comes first; an odd last
// byte belongs to no unit and is dropped. Writes those units to out (room for
// byteCount / 2 units) and returns their count. The value's type is not looked at.
std::size_t valueDataText(const unsigned char* data, std::size_t byteCount, WideChar* out);
