#include "common/text_bytes.h"

void toConsoleBytes(const WideChar* text, std::size_t length, unsigned char* out)
{
    for (std::size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<unsigned>(text[i]);
        out[i] = unit <= 0xFF ? static_cast<unsigned char>(unit) : static_cast<unsigned char>('?');
    }
}
