// Reports what a running process holds, for the tests that watch a long-lived
// bridge for leaks: "process_probe NAME" prints "<handles> <private bytes>\n"
// for the first process whose image name is NAME, and ends with 1 when there
// is none or the process list cannot be read.
//
// The figures come from the system's process list (the one Task Manager
// shows), not from GetProcessHandleCount and GetProcessMemoryInfo: Wine
// answers those two with zeros for any process but the caller.
#include <windows.h>

#include <winternl.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

using QuerySystemInformation = NTSTATUS(NTAPI*)(SYSTEM_INFORMATION_CLASS, void*, ULONG, ULONG*);

// The whole process list, grown until it fits; null when it cannot be read.
void* readProcessList()
{
    const auto query = reinterpret_cast<QuerySystemInformation>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) {
        return nullptr;
    }
    for (ULONG size = 1 << 16; size <= (1u << 26); size *= 2) {
        void* list = std::malloc(size);
        if (list == nullptr) {
            return nullptr;
        }
        ULONG needed = 0;
        if (query(SystemProcessInformation, list, size, &needed) >= 0) {
            return list;
        }
        std::free(list);
    }
    return nullptr;
}

bool sameName(const UNICODE_STRING& image, const wchar_t* name)
{
    const size_t length = std::wcslen(name);
    return image.Buffer != nullptr && image.Length == length * sizeof(wchar_t)
           && std::wmemcmp(image.Buffer, name, length) == 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc != 2) {
        return 2;
    }
    void* list = readProcessList();
    if (list == nullptr) {
        return 1;
    }
    int exitCode = 1;
    auto* entry = static_cast<SYSTEM_PROCESS_INFORMATION*>(list);
    for (;;) {
        if (sameName(entry->ImageName, argv[1])) {
            std::printf("%lu %llu\n", static_cast<unsigned long>(entry->HandleCount),
                        static_cast<unsigned long long>(entry->VirtualMemoryCounters.PagefileUsage));
            exitCode = 0;
            break;
        }
        if (entry->NextEntryOffset == 0) {
            break;
        }
        entry = reinterpret_cast<SYSTEM_PROCESS_INFORMATION*>(
            reinterpret_cast<unsigned char*>(entry) + entry->NextEntryOffset);
    }
    std::free(list);
    return exitCode;
}
