#pragma once
// The COM port of the bridge and the two threads that copy bytes through it.

#include <windows.h>

#include <atomic>

#include "bridge/open_arguments.h"

// Written once by openSerialPort before the pumps start; once they run it is
// never closed: the process exit releases the port.
extern HANDLE portHandle;
// Set before the pumps start and never cleared: the pumps end with the process.
extern std::atomic<bool> bridgeRunning;
// Set once the port has stopped working (its device unplugged or reset) and
// every byte read from it has been written to stdout. Never cleared.
extern std::atomic<bool> portGone;

// Opens "\\.\COM<portNumber>" exclusively, sets 9600 8N1 without flow control
// and the given time-outs, and starts the pumps. False, with nothing started
// and the port closed again, when the port cannot be opened (absent, busy, or
// access denied) or refuses the line settings or the time-outs.
bool openSerialPort(int portNumber, const PortTimeouts& timeouts);

DWORD WINAPI pumpConsoleToPort(void* unused);
DWORD WINAPI pumpPortToConsole(void* unused);
