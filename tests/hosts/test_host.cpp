// A stand-in for a host application: a real Windows process whose executable
// name the bridge watches. It says "ready" once it runs, then waits to be killed.
#include <windows.h>

int wmain()
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), "ready\n", 6, &written, nullptr);
    Sleep(INFINITE);
    return 0;
}
