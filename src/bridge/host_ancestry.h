#pragma once
// Which process is the bridge's host: the nearest ancestor of corvel whose
// executable name is the host's name.
//
// The process that reads the bridge's stdout is, in practice, the one that
// started corvel or one above it (through "cmd.exe /c", a launcher, a shell).
// Tying the bridge to that one process, rather than to any process of the
// name, ends it when its own host ends even while other processes of that
// name run (a second instance, another python.exe or dotnet.exe), so it stops
// taking the device's bytes for nobody and frees the port for the restarted
// host.
//
// A parent id is only a number the system may have given to a new process
// once the parent ended. A link is therefore followed only to a process that
// is still listed and was not created after the process below it.

#include <cstddef>
#include <cstdint>

#include "common/wide.h"

// Long enough for any executable file name the process list holds.
constexpr std::size_t processNameCapacity = 260;

// One entry of the process list, as the watcher reads it.
struct ProcessRecord {
    std::uint32_t id;
    std::uint32_t parentId;
    // Creation time in the platform's 100 ns units; meaningful only when
    // createdKnown (a process whose times could not be read).
    std::uint64_t createdAt;
    bool createdKnown;
    WideChar name[processNameCapacity];  // zero-terminated
};

// Walks from the process selfId up through its parents and returns the
// nearest ancestor named hostName (exact, case-sensitive, whole name), or null
// when there is none. corvel itself is never the answer, whatever its name.
// The walk stops at the first link that fails: a parent that is not listed,
// whose creation time or its child's is unknown, that was created after its
// child, or that was seen already on the way (a loop). Equal creation times
// count as "not after": the platform's clock may give a parent and a child
// started within one tick the same time.
const ProcessRecord* findHostAncestor(const ProcessRecord* records, std::size_t count,
                                      std::uint32_t selfId, const WideChar* hostName);
