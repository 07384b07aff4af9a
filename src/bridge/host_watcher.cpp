#include "bridge/host_watcher.h"

#include <tlhelp32.h>

#include "common/owned_handle.h"
#include "common/wide.h"

std::atomic<bool> hostAlive{false};

namespace {

constexpr DWORD watchIntervalMs = 500;
constexpr int quietWaitMs = 1000;

// The handshake of quietHostWatcher: the watcher announces a look before it
// checks for the stop, the main thread asks for the stop before it checks for
// a look, so one of the two always sees the other.
std::atomic<bool> watcherLooking{false};
std::atomic<bool> watcherStopping{false};

// The entry's size field tells the platform which layout the caller has; it
// differs between word sizes because the record holds pointer-sized members.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 8 ? 568 : 556),
              "process entry layout of this word size");

// Once its work is done the watcher waits for the process to end instead of
// ending itself: under Wine, a process that exits while one of its threads is
// still on its way out is now and then killed outright, a second later.
[[noreturn]] void waitForTheEnd()
{
    for (;;) {
        Sleep(INFINITE);
    }
}

}  // namespace

bool hostProcessRunning(const wchar_t* hostName)
{
    const OwnedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (wideEquals(entry.szExeFile, hostName)) {
            return true;
        }
    }
    return false;
}

DWORD WINAPI watchHostProcess(void* hostName)
{
    for (;;) {
        watcherLooking = true;
        if (watcherStopping) {
            watcherLooking = false;
            waitForTheEnd();
        }
        const bool running = hostProcessRunning(static_cast<const wchar_t*>(hostName));
        watcherLooking = false;
        if (!running) {
            break;
        }
        Sleep(watchIntervalMs);
    }
    hostAlive = false;
    waitForTheEnd();
}

void quietHostWatcher()
{
    watcherStopping = true;
    for (int waited = 0; watcherLooking && waited < quietWaitMs; ++waited) {
        Sleep(1);
    }
}
