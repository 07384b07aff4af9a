#pragma once
// Ties the bridge's life to a host process named on the command line.

#include <windows.h>

#include <atomic>

// Set before the watcher starts; cleared by the watcher alone, once no process
// of the host's name is left; read by the main thread.
extern std::atomic<bool> hostAlive;

// Thread routine; parameter: the host's executable file name (wchar_t*), which
// must live as long as the process. Looks at the process list every 500 ms;
// once no host is left, clears hostAlive and waits for the process to end.
DWORD WINAPI watchHostProcess(void* hostName);

// Makes the watcher take no further look, and returns once it is not in the
// middle of one (or after a second at most). Under Wine, a process that exits
// while another of its threads walks the process list is now and then killed
// outright, which its parent sees as a signal instead of the exit code.
void quietHostWatcher();

// One look: is there a process whose executable file name equals hostName
// exactly (case-sensitive, whole name)? A process list that cannot be read
// counts as no.
bool hostProcessRunning(const wchar_t* hostName);
