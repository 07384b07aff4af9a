#pragma once
// The process's standard handles and the one way answer text reaches stdout.

#include <windows.h>

// Obtained once by the entry, before any thread starts, and never closed: they
// live until the process ends.
extern HANDLE consoleIn;
extern HANDLE consoleOut;

// Puts consoleIn into raw mode (mode 0: no line input, no echo, Ctrl+C a plain
// byte) and arranges for the mode it had to come back when the process ends
// through the runtime's exit, whatever the command and exit code. A console's
// modes belong to the console, not to this process: left at 0, the caller's
// console would keep no echo, no line editing and no Ctrl+C after we are gone.
// Nothing happens when stdin is not a console (a pipe, a file, NUL).
void enterRawInput();

// Writes text (zero-terminated, any length) to consoleOut as one byte per
// UTF-16 unit, in a single WriteFile, then flushes. Nothing is reported.
void writeConsoleText(const wchar_t* text);
void writeConsoleText(const wchar_t* text, size_t length);
