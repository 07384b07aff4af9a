#pragma once
// Exit codes: besides standard output, the only outcome a caller sees.

constexpr int exitDone = 0;          // a command finished, or no command matched
constexpr int exitNoCommand = 1;     // fewer than two arguments
constexpr int exitUnusablePort = 2;  // "open" could not use its port
constexpr int exitPortLost = 3;      // "open": the port stopped working while bridging
