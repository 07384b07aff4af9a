#pragma once
// The arguments of "open": HOST PORT [READ_INTERVAL READ_CONSTANT
// READ_MULTIPLIER WRITE_CONSTANT WRITE_MULTIPLIER].

#include <cstdint>

#include "common/wide.h"

// Port time-outs in the member order of the platform's COMMTIMEOUTS record.
// Intervals and constants are milliseconds, multipliers milliseconds per byte;
// a request's total time-out is multiplier * bytes + constant.
struct PortTimeouts {
    std::uint32_t readIntervalTimeout = 0;
    std::uint32_t readTotalTimeoutMultiplier = 0;
    std::uint32_t readTotalTimeoutConstant = 10;
    std::uint32_t writeTotalTimeoutMultiplier = 250;
    std::uint32_t writeTotalTimeoutConstant = 1000;
};

// Reads the port number (argv[3]) with "%d". False when it is absent or holds
// no number; 0 is returned as read, for the caller to reject.
bool readPortNumber(int argc, const WideChar* const* argv, std::int32_t& portNumber);

// Reads the optional time-outs (argv[4..8]). Note the argument order is not the
// record's: argv[5] is the read constant, argv[6] the read multiplier, argv[7]
// the write constant, argv[8] the write multiplier. Each is read with "%d" and
// kept as its 32-bit pattern (-1 gives 0xFFFFFFFF); one that holds no number
// leaves its default. Later arguments are ignored.
PortTimeouts readPortTimeouts(int argc, const WideChar* const* argv);
