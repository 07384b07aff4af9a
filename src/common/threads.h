#pragma once
// Threads that run until the process ends, and the end of the process.

#include <windows.h>

// Starts routine(parameter) on a new thread with default security and stack.
// Its handle is not kept: the thread runs until the process ends.
void startThread(LPTHREAD_START_ROUTINE routine, void* parameter);

// Ends the process through the runtime's normal exit, which also ends every
// thread and gives the console its input mode back (enterRawInput). It first
// waits, briefly, until each thread started has begun to run: under Wine a
// process that exits while a new thread is still being set up can have Wine
// print an error of its own on stderr, and nothing but the program's answer
// may ever appear there.
[[noreturn]] void endProcess(int exitCode);
