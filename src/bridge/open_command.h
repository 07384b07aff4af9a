#pragma once
// "open HOST PORT [time-outs]": the serial bridge.

// Runs the bridge until no process named HOST is left, then ends the process
// with exit code 0; ends it at once with exit code 2 when the port argument is
// missing, not a number, 0, or names a port that cannot be opened; ends it
// with exit code 3 when the port stops working while bridging.
[[noreturn]] void runOpen(int argc, wchar_t** argv);
