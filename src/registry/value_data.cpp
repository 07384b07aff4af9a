#include "registry/value_data.h"

std::size_t valueDataText(const unsigned char* data, std::size_t byteCount, WideChar* out)
{
    std::size_t units = 0;
    for (; units < byteCount / 2; ++units) {
        // Registry data is little-endian UTF-16 on every Windows machine.
        const auto unit = static_cast<WideChar>(data[2 * units] | (data[2 * units + 1] << 8));
        if (unit == 0) {
            break;
        }
        out[units] = unit;
    }
    return units;
}
