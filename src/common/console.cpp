#include "common/console.h"

#include <cstdlib>

#include "common/text_bytes.h"

HANDLE consoleIn = INVALID_HANDLE_VALUE;
HANDLE consoleOut = INVALID_HANDLE_VALUE;

namespace {

DWORD savedInputMode = 0;

void restoreInputMode()
{
    SetConsoleMode(consoleIn, savedInputMode);  // nothing more can be done if it fails
}

}  // namespace

void enterRawInput()
{
    // GetConsoleMode fails on anything but a console, and then there is no
    // mode to change or to give back.
    if (GetConsoleMode(consoleIn, &savedInputMode) == FALSE) {
        return;
    }
    // Every end of the program goes through exit() (the entry's and
    // endProcess's), which runs this before the process goes; registered
    // before the mode changes, so no path can leave raw mode behind.
    if (std::atexit(restoreInputMode) != 0) {
        return;  // raw mode without a way back is worse than no raw mode
    }
    SetConsoleMode(consoleIn, 0);
}

void writeConsoleText(const wchar_t* text)
{
    writeConsoleText(text, wideLength(text));
}

void writeConsoleText(const wchar_t* text, size_t length)
{
    // WriteFile takes a 32-bit count; command-line sized output never nears it.
    if (length > 0xFFFFFFFFu) {
        return;
    }
    auto* bytes = static_cast<unsigned char*>(std::malloc(length == 0 ? 1 : length));
    if (bytes == nullptr) {
        return;
    }
    toConsoleBytes(text, length, bytes);
    DWORD written = 0;
    // One write: a host reading the pipe sees the whole answer at once. A
    // synchronous write to a pipe returns only when all of it is taken.
    WriteFile(consoleOut, bytes, static_cast<DWORD>(length), &written, nullptr);
    // On a pipe this waits for the reader or fails, on a console it fails;
    // either way the bytes are already on their way.
    FlushFileBuffers(consoleOut);
    std::free(bytes);
}
