#pragma once
// Start-up and the choice of command.

// Runs the command line and returns the exit code. "open" does not return: it
// ends the process itself.
int runCommandLine(int argc, wchar_t** argv);
