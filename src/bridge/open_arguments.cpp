#include "bridge/open_arguments.h"

#include "common/decimal.h"

bool readPortNumber(int argc, const WideChar* const* argv, std::int32_t& portNumber)
{
    return argc > 3 && scanDecimal(argv[3], portNumber);
}

PortTimeouts readPortTimeouts(int argc, const WideChar* const* argv)
{
    PortTimeouts timeouts;
    std::uint32_t* const byArgument[] = {
        &timeouts.readIntervalTimeout,         // argv[4]
        &timeouts.readTotalTimeoutConstant,    // argv[5]
        &timeouts.readTotalTimeoutMultiplier,  // argv[6]
        &timeouts.writeTotalTimeoutConstant,   // argv[7]
        &timeouts.writeTotalTimeoutMultiplier, // argv[8]
    };
    for (int i = 0; i < 5 && 4 + i < argc; ++i) {
        std::int32_t value = 0;
        if (scanDecimal(argv[4 + i], value)) {
            *byArgument[i] = static_cast<std::uint32_t>(value);
        }
    }
    return timeouts;
}
