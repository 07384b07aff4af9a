// The yardstick for the bridge's idle CPU: a program that runs only the
// polling loops `open` is built on, and nothing of the bridge's own logic, so
// that what it costs on a quiet line is the floor of the design itself.
//
//   idle_floor_x64.exe HOST PORT [INTERVAL [READ_CONST [READ_MULT]]]
//
// The loops, as in src/bridge: stdin read into the port, with a 10 ms pause
// after an empty read; the port read (4096 bytes, the given read time-outs)
// into stdout, with a 10 ms pause after an empty read and a status query
// every 200 ms; the process list every 500 ms for HOST; and the main thread
// looking every 50 ms whether HOST has gone. Built like corvel.
#include <windows.h>

#include <tlhelp32.h>

#include <cwchar>

namespace {

HANDLE port = INVALID_HANDLE_VALUE;
HANDLE input = INVALID_HANDLE_VALUE;
HANDLE output = INVALID_HANDLE_VALUE;
const wchar_t* hostName = nullptr;
volatile LONG hostAlive = 1;

DWORD WINAPI stdinToPort(void*)
{
    static unsigned char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(input, buffer, sizeof buffer, &got, nullptr) || got == 0) {
            Sleep(10);
            continue;
        }
        DWORD put = 0;
        WriteFile(port, buffer, got, &put, nullptr);
        FlushFileBuffers(port);
    }
}

DWORD WINAPI portToStdout(void*)
{
    static unsigned char buffer[4096];
    ULONGLONG lastStatus = GetTickCount64();
    for (;;) {
        DWORD got = 0;
        while (ReadFile(port, buffer, sizeof buffer, &got, nullptr) && got != 0) {
            DWORD put = 0;
            WriteFile(output, buffer, got, &put, nullptr);
            FlushFileBuffers(output);
        }
        if (GetTickCount64() - lastStatus >= 200) {
            DWORD errors = 0;
            ClearCommError(port, &errors, nullptr);
            lastStatus = GetTickCount64();
        }
        Sleep(10);
    }
}

bool hostRunning()
{
    const HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) {
        return false;
    }
    PROCESSENTRY32W entry;
    entry.dwSize = sizeof entry;
    bool found = false;
    for (BOOL more = Process32FirstW(snapshot, &entry); more && !found;
         more = Process32NextW(snapshot, &entry)) {
        found = std::wcscmp(entry.szExeFile, hostName) == 0;
    }
    CloseHandle(snapshot);
    return found;
}

DWORD WINAPI watchHost(void*)
{
    while (hostRunning()) {
        Sleep(500);
    }
    hostAlive = 0;
    return 0;
}

DWORD argument(int argc, wchar_t** argv, int index, DWORD fallback)
{
    return index < argc ? static_cast<DWORD>(_wtoi(argv[index])) : fallback;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) {
        return 2;
    }
    hostName = argv[1];
    wchar_t path[32] = L"\\\\.\\COM";
    std::wcsncat(path, argv[2], 16);
    port = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (port == INVALID_HANDLE_VALUE) {
        return 2;
    }
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.fBinary = 1;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    SetCommState(port, &dcb);
    COMMTIMEOUTS timeouts{argument(argc, argv, 3, 0), argument(argc, argv, 5, 0),
                          argument(argc, argv, 4, 10), 250, 1000};
    SetCommTimeouts(port, &timeouts);
    input = GetStdHandle(STD_INPUT_HANDLE);
    output = GetStdHandle(STD_OUTPUT_HANDLE);

    CreateThread(nullptr, 0, watchHost, nullptr, 0, nullptr);
    CreateThread(nullptr, 0, stdinToPort, nullptr, 0, nullptr);
    CreateThread(nullptr, 0, portToStdout, nullptr, 0, nullptr);
    while (hostAlive) {
        Sleep(50);
    }
    ExitProcess(0);
}
