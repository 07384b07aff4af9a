#pragma once
// Ties the bridge's life to a host process named on the command line.
//
// The host is the nearest ancestor of corvel with that executable name (see
// host_ancestry.h): the bridge ends when that one process ends, whatever
// other processes of the name run. When no ancestor has the name (a launcher
// of another name started corvel for a host that runs beside it), any process
// of the name keeps the bridge alive, and it ends once none is left.

#include <windows.h>

#include <atomic>

// Set before the watcher starts; cleared by the watcher alone, once the host
// has ended; read by the main thread.
extern std::atomic<bool> hostAlive;

// Thread routine; parameter: the host's executable file name (wchar_t*), which
// must live as long as the process. Finds the host at its first look, then
// waits on it (or looks at the process list every 500 ms); once the host has
// ended, clears hostAlive and waits for the process to end.
DWORD WINAPI watchHostProcess(void* hostName);

// Makes the watcher take no further look, and returns once it is not in the
// middle of one (or after a second at most). Under Wine, a process that exits
// while another of its threads walks the process list is now and then killed
// outright, which its parent sees as a signal instead of the exit code.
void quietHostWatcher();
