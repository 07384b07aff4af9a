// A console program that starts corvel on its own console, as a console host
// does when it leaves stdin alone, and shows what corvel left of the console's
// input mode: "console_mode_probe REPORT MODE PROGRAM ARGS..." sets the input
// mode to MODE (hexadecimal), runs PROGRAM with ARGS, waits for it, and writes
// "mode <before> <after> exit <code>\n" to the file REPORT (the console shows
// its output through terminal escapes), or ends with 1 when it cannot.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>

namespace {

// Arguments are quoted whole; the tests pass none with a quote or a
// backslash before one, the only characters that would need escaping.
bool appendQuoted(wchar_t* line, size_t capacity, const wchar_t* argument)
{
    const size_t used = std::wcslen(line);
    const size_t needed = std::wcslen(argument) + 4;
    if (used + needed >= capacity) {
        return false;
    }
    if (used != 0) {
        std::wcscat(line, L" ");
    }
    std::wcscat(line, L"\"");
    std::wcscat(line, argument);
    std::wcscat(line, L"\"");
    return true;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 4) {
        return 1;
    }
    const DWORD mode = static_cast<DWORD>(std::wcstoul(argv[2], nullptr, 16));
    // The console's own input, whatever the probe's stdin is.
    const HANDLE input = CreateFileW(L"CONIN$", GENERIC_READ | GENERIC_WRITE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                     nullptr);
    DWORD before = 0;
    if (input == INVALID_HANDLE_VALUE || SetConsoleMode(input, mode) == FALSE
        || GetConsoleMode(input, &before) == FALSE) {
        return 1;
    }

    static wchar_t line[4096];
    for (int index = 3; index < argc; ++index) {
        if (!appendQuoted(line, sizeof(line) / sizeof(line[0]), argv[index])) {
            return 1;
        }
    }
    // Handles are inherited so that the child's stdin is this console's input.
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = input;
    startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    SetHandleInformation(input, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
    PROCESS_INFORMATION child{};
    if (CreateProcessW(argv[3], line, nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                       &child)
        == FALSE) {
        return 1;
    }
    WaitForSingleObject(child.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(child.hProcess, &code);
    DWORD after = 0;
    if (GetConsoleMode(input, &after) == FALSE) {
        return 1;
    }
    FILE* report = _wfopen(argv[1], L"w");
    if (report == nullptr) {
        return 1;
    }
    std::fprintf(report, "mode 0x%lx 0x%lx exit %lu\n", static_cast<unsigned long>(before),
                 static_cast<unsigned long>(after), static_cast<unsigned long>(code));
    return std::fclose(report) == 0 ? 0 : 1;
}
