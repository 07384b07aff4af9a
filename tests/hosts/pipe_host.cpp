// A host that starts its child the way Python's subprocess, .NET's Process and
// Java's ProcessBuilder do: plain CreateProcessW with pipes on the child's
// stdin and stdout, the host's own stderr passed on, and no job object, so
// nothing ends the child when the host ends.
//
//   pipe_host start [--cmd] PROGRAM ARGS...
//     Starts PROGRAM (through "cmd.exe /c" with --cmd), says "started\n",
//     then relays its own stdin to the child's and the child's stdout to its
//     own until the child's stdout ends, and ends with the child's exit code.
//   pipe_host watch NAME
//     Waits for the one running process named NAME to end; says
//     "watching <creation time>\n" once it holds it and "ended <exit code>
//     <exit time>\n" after, times in the system's 100 ns units. This is how a
//     test learns the exit code of a child whose host was killed.
#include <windows.h>

#include <tlhelp32.h>

#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>

namespace {

void say(const char* text)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(std::strlen(text)),
              &written, nullptr);
}

unsigned long long ticks(const FILETIME& time)
{
    return (static_cast<unsigned long long>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

// An argument as the child's command line needs it (the runtime's rules:
// backslashes double only before a quote). Plain words stay bare: "cmd.exe /c"
// strips the first and the last quote of a line that has more than two.
std::wstring quoted(const wchar_t* argument)
{
    if (*argument != 0 && std::wcspbrk(argument, L" \t\"") == nullptr) {
        return argument;
    }
    std::wstring out = L"\"";
    std::size_t backslashes = 0;
    for (const wchar_t* c = argument; *c != 0; ++c) {
        if (*c == L'\\') {
            ++backslashes;
            continue;
        }
        out.append(*c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        out += *c;
    }
    out.append(backslashes * 2, L'\\');
    return out + L"\"";
}

struct Relay {
    HANDLE from;
    HANDLE to;
};

DWORD WINAPI relay(void* parameter)
{
    const Relay* ends = static_cast<const Relay*>(parameter);
    char buffer[4096];
    DWORD count = 0;
    while (ReadFile(ends->from, buffer, sizeof buffer, &count, nullptr) && count > 0) {
        DWORD written = 0;
        if (!WriteFile(ends->to, buffer, count, &written, nullptr)) {
            break;
        }
    }
    return 0;
}

// A pipe whose child end is inheritable and whose host end is not.
bool makePipe(HANDLE& childEnd, HANDLE& hostEnd, bool childReads)
{
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
        return false;
    }
    childEnd = childReads ? readEnd : writeEnd;
    hostEnd = childReads ? writeEnd : readEnd;
    return SetHandleInformation(hostEnd, HANDLE_FLAG_INHERIT, 0) != 0;
}

int start(int argc, wchar_t** argv)
{
    const bool viaCmd = argc > 2 && std::wcscmp(argv[2], L"--cmd") == 0;
    const int first = viaCmd ? 3 : 2;
    if (argc <= first) {
        return 120;
    }
    std::wstring commandLine = viaCmd ? L"cmd.exe /c " : L"";
    for (int i = first; i < argc; ++i) {
        commandLine += (i > first ? L" " : L"") + quoted(argv[i]);
    }
    HANDLE childIn = nullptr, hostIn = nullptr, childOut = nullptr, hostOut = nullptr;
    HANDLE childErr = nullptr;
    if (!makePipe(childIn, hostIn, true) || !makePipe(childOut, hostOut, false)
        || !DuplicateHandle(GetCurrentProcess(), GetStdHandle(STD_ERROR_HANDLE),
                            GetCurrentProcess(), &childErr, 0, TRUE, DUPLICATE_SAME_ACCESS)) {
        return 121;
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = childIn;
    startup.hStdOutput = childOut;
    startup.hStdError = childErr;
    PROCESS_INFORMATION child = {};
    if (!CreateProcessW(nullptr, &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &child)) {
        return 122;
    }
    // The child has its own copies; the host keeps only its ends.
    CloseHandle(childIn);
    CloseHandle(childOut);
    CloseHandle(childErr);
    say("started\n");
    static Relay down = {GetStdHandle(STD_INPUT_HANDLE), hostIn};
    CloseHandle(CreateThread(nullptr, 0, relay, &down, 0, nullptr));
    Relay up = {hostOut, GetStdHandle(STD_OUTPUT_HANDLE)};
    relay(&up);
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    return static_cast<int>(code);
}

DWORD findProcess(const wchar_t* name)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return 0;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    DWORD id = 0;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && id == 0;
         more = Process32NextW(snapshot, &entry)) {
        if (std::wcscmp(entry.szExeFile, name) == 0) {
            id = entry.th32ProcessID;
        }
    }
    CloseHandle(snapshot);
    return id;
}

int watch(const wchar_t* name)
{
    const DWORD id = findProcess(name);
    HANDLE process = id == 0 ? nullptr
                             : OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
    FILETIME created, exited, kernel, user;
    if (process == nullptr || !GetProcessTimes(process, &created, &exited, &kernel, &user)) {
        return 123;
    }
    char line[96];
    std::snprintf(line, sizeof line, "watching %llu\n", ticks(created));
    say(line);
    WaitForSingleObject(process, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process, &code);
    GetProcessTimes(process, &created, &exited, &kernel, &user);
    std::snprintf(line, sizeof line, "ended %lu %llu\n", static_cast<unsigned long>(code),
                  ticks(exited));
    say(line);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc > 1 && std::wcscmp(argv[1], L"start") == 0) {
        return start(argc, argv);
    }
    if (argc == 3 && std::wcscmp(argv[1], L"watch") == 0) {
        return watch(argv[2]);
    }
    return 120;
}
