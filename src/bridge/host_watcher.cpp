#include "bridge/host_watcher.h"

#include <tlhelp32.h>

#include <cstdint>

#include "bridge/host_ancestry.h"
#include "common/grow_buffer.h"
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
static_assert(sizeof(PROCESSENTRY32W::szExeFile) / sizeof(wchar_t) == processNameCapacity,
              "a listed name fits a record");

// The host as the first look found it: its id may later be given to another
// process, its creation time tells the two apart.
struct AncestorHost {
    DWORD id;
    std::uint64_t createdAt;
};

// Once its work is done the watcher waits for the process to end instead of
// ending itself: under Wine, a process that exits while one of its threads is
// still on its way out is now and then killed outright, a second later.
[[noreturn]] void waitForTheEnd()
{
    for (;;) {
        Sleep(INFINITE);
    }
}

// Runs look() as one look at the process list, unless the main thread has
// asked for quiet; then it waits for the end instead.
template <typename Look>
void lookUnlessQuiet(Look look)
{
    watcherLooking = true;
    if (watcherStopping) {
        watcherLooking = false;
        waitForTheEnd();
    }
    look();
    watcherLooking = false;
}

bool readCreationTime(HANDLE process, std::uint64_t& createdAt)
{
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return false;
    }
    createdAt = (std::uint64_t{created.dwHighDateTime} << 32) | created.dwLowDateTime;
    return true;
}

// Limited query access is granted on nearly every process, an elevated one
// included; a process that refuses it has unknown times, and a walk stops there.
bool readCreationTime(DWORD id, std::uint64_t& createdAt)
{
    const OwnedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
    return process.valid() && readCreationTime(process.get(), createdAt);
}

// Calls visit(entry) for each entry of a fresh process list until it returns
// true; returns false when the list cannot be read.
template <typename Visit>
bool visitProcessList(Visit visit)
{
    const OwnedFile snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    if (!snapshot.valid()) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof(entry);
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more && !visit(entry);
         more = Process32NextW(snapshot.get(), &entry)) {
    }
    return true;
}

ProcessRecord recordOf(const PROCESSENTRY32W& entry)
{
    ProcessRecord record{};
    record.id = entry.th32ProcessID;
    record.parentId = entry.th32ParentProcessID;
    record.createdKnown = readCreationTime(entry.th32ProcessID, record.createdAt);
    for (std::size_t i = 0; i + 1 < processNameCapacity && entry.szExeFile[i] != 0; ++i) {
        record.name[i] = entry.szExeFile[i];
    }
    return record;
}

bool findAncestorHost(const wchar_t* hostName, AncestorHost& host)
{
    GrowBuffer<ProcessRecord> records;
    const bool listed = visitProcessList([&](const PROCESSENTRY32W& entry) {
        records.push(recordOf(entry));
        return false;
    });
    if (!listed || records.failed()) {
        return false;
    }
    const ProcessRecord* found =
        findHostAncestor(records.data(), records.size(), GetCurrentProcessId(), hostName);
    if (found == nullptr) {
        return false;
    }
    host = {found->id, found->createdAt};
    return true;
}

// The name rule's look: is there a process whose executable file name equals
// hostName exactly? A process list that cannot be read counts as no.
bool processOfNameRunning(const wchar_t* hostName)
{
    bool running = false;
    visitProcessList([&](const PROCESSENTRY32W& entry) {
        running = wideEquals(entry.szExeFile, hostName);
        return running;
    });
    return running;
}

// The host's look when it could not be waited on: is its id still listed,
// for a process created when the host was? An ended process can still be
// opened while anyone holds a handle to it, so the list decides, not the open.
bool ancestorHostRunning(const AncestorHost& host)
{
    bool running = false;
    visitProcessList([&](const PROCESSENTRY32W& entry) {
        if (entry.th32ProcessID != host.id) {
            return false;
        }
        std::uint64_t createdAt = 0;
        running = readCreationTime(host.id, createdAt) && createdAt == host.createdAt;
        return true;
    });
    return running;
}

// Looks every 500 ms until running() says no.
template <typename Running>
void pollUntilGone(Running running)
{
    for (;;) {
        bool stillRunning = false;
        lookUnlessQuiet([&] { stillRunning = running(); });
        if (!stillRunning) {
            return;
        }
        Sleep(watchIntervalMs);
    }
}

// Returns once the host has ended. Waiting on its handle ends the bridge as
// soon as the host does, not at the next look.
void watchAncestorHost(const AncestorHost& host)
{
    OwnedKernelHandle process;
    bool same = false;
    lookUnlessQuiet([&] {
        process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, host.id));
        std::uint64_t createdAt = 0;
        // The host may have ended, and its id been given to a new process,
        // since the list was read.
        same = process.valid() && readCreationTime(process.get(), createdAt)
               && createdAt == host.createdAt;
    });
    if (process.valid()) {
        if (same) {
            WaitForSingleObject(process.get(), INFINITE);
        }
        return;
    }
    pollUntilGone([&] { return ancestorHostRunning(host); });
}

}  // namespace

DWORD WINAPI watchHostProcess(void* parameter)
{
    const auto* hostName = static_cast<const wchar_t*>(parameter);
    AncestorHost host{};
    bool found = false;
    lookUnlessQuiet([&] { found = findAncestorHost(hostName, host); });
    if (found) {
        watchAncestorHost(host);
    } else {
        pollUntilGone([&] { return processOfNameRunning(hostName); });
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
