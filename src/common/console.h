#pragma once
// The process's standard handles and the one way answer text reaches stdout.

#include <windows.h>

// Obtained once by the entry, before any thread starts, and never closed: they
// live until the process ends.
extern HANDLE consoleIn;
extern HANDLE consoleOut;

// Writes text (zero-terminated, any length) to consoleOut as one byte per
// UTF-16 unit, in a single WriteFile, then flushes. Nothing is reported.
void writeConsoleText(const wchar_t* text);
void writeConsoleText(const wchar_t* text, size_t length);
