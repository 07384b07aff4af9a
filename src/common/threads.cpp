#include "common/threads.h"

#include <atomic>
#include <cstdlib>

namespace {

struct ThreadStart {
    LPTHREAD_START_ROUTINE routine;
    void* parameter;
};

// The program starts three threads at most, all from the main thread.
constexpr int maxThreads = 8;
ThreadStart threadStarts[maxThreads];
int slotsUsed = 0;
std::atomic<int> threadsLaunched{0};
std::atomic<int> threadsRunning{0};

DWORD WINAPI runThread(void* slot)
{
    const ThreadStart start = *static_cast<const ThreadStart*>(slot);
    ++threadsRunning;
    return start.routine(start.parameter);
}

// The longest endProcess waits for threads to come up; a thread that does not
// run by then will not be waited for.
constexpr int startupWaitMs = 1000;

}  // namespace

void startThread(LPTHREAD_START_ROUTINE routine, void* parameter)
{
    if (slotsUsed == maxThreads) {
        return;
    }
    ThreadStart* slot = &threadStarts[slotsUsed++];
    *slot = ThreadStart{routine, parameter};
    const HANDLE thread = CreateThread(nullptr, 0, runThread, slot, 0, nullptr);
    if (thread != nullptr) {
        ++threadsLaunched;
        CloseHandle(thread);
    }
}

void endProcess(int exitCode)
{
    for (int waited = 0; threadsRunning < threadsLaunched && waited < startupWaitMs; ++waited) {
        Sleep(1);
    }
    std::exit(exitCode);
}
