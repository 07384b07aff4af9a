#include "bridge/host_watcher.h"

#include <tlhelp32.h>

#include "common/owned_handle.h"
#include "common/wide.h"

std::atomic<bool> hostAlive{false};

namespace {

constexpr DWORD watchIntervalMs = 500;

// The entry's size field tells the platform which layout the caller has; it
// differs between word sizes because the record holds pointer-sized members.
static_assert(sizeof(PROCESSENTRY32W) == (sizeof(void*) == 8 ? 568 : 556),
              "process entry layout of this word size");

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
    while (hostProcessRunning(static_cast<const wchar_t*>(hostName))) {
        Sleep(watchIntervalMs);
    }
    hostAlive = false;
    return 0;
}
