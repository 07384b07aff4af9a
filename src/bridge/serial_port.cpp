#include "bridge/serial_port.h"

#include "bridge/pump.h"
#include "common/console.h"
#include "common/decimal.h"
#include "common/threads.h"

HANDLE portHandle = INVALID_HANDLE_VALUE;
std::atomic<bool> bridgeRunning{false};
std::atomic<bool> portGone{false};

namespace {

// A synchronous handle: reads and writes block, bounded by the port's
// time-outs; on a pipe a read blocks until the host writes.
class HandleEnd final : public PumpEnd {
public:
    HandleEnd(HANDLE readFrom, HANDLE writeTo, bool isPort)
        : readFrom_(readFrom), writeTo_(writeTo), isPort_(isPort)
    {
    }

    IoResult read(unsigned char* buffer, std::uint32_t capacity) override
    {
        DWORD count = 0;
        // A serial read that times out succeeds with 0 bytes: not an error.
        const bool ok = ReadFile(readFrom_, buffer, capacity, &count, nullptr) != FALSE;
        return IoResult{count, ok};
    }

    IoResult write(const unsigned char* buffer, std::uint32_t count) override
    {
        DWORD written = 0;
        const bool ok = WriteFile(writeTo_, buffer, count, &written, nullptr) != FALSE;
        return IoResult{written, ok};
    }

    void flush() override
    {
        // On a pipe this waits for the reader or fails; either way is fine.
        FlushFileBuffers(writeTo_);
    }

    bool clearError() override
    {
        if (!isPort_) {
            return true;
        }
        DWORD errors = 0;
        if (ClearCommError(readFrom_, &errors, nullptr) != FALSE) {
            return true;
        }
        // A removed USB port fails this with "bad command" or "access denied"
        // (drivers differ), Wine's port on a closed pty with "not ready".
        return !statusErrorMeansFailure(GetLastError());
    }

private:
    HANDLE readFrom_;
    HANDLE writeTo_;
    bool isPort_;
};

void sleepMs(std::uint32_t milliseconds)
{
    Sleep(milliseconds);
}

std::uint64_t steadyMs()
{
    return GetTickCount64();
}

PortLossWatch portLoss;
const PumpControl pumpControl{bridgeRunning, portLoss, sleepMs, steadyMs};

// A pump whose work is done waits for the process to end instead of ending its
// thread: under Wine, a process that exits while one of its threads is still
// on its way out is now and then killed outright.
[[noreturn]] void waitForTheEnd()
{
    for (;;) {
        Sleep(INFINITE);
    }
}

DCB lineSettings()
{
    DCB dcb{};
    dcb.DCBlength = sizeof(dcb);
    dcb.BaudRate = 9600;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = 1;
    dcb.fParity = 1;
    dcb.fOutxCtsFlow = 0;
    dcb.fOutxDsrFlow = 0;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fDsrSensitivity = 0;
    dcb.fTXContinueOnXoff = 1;
    dcb.fOutX = 0;
    dcb.fInX = 0;
    dcb.fErrorChar = 0;
    dcb.fNull = 0;  // zero bytes are data, never discarded
    dcb.fRtsControl = RTS_CONTROL_DISABLE;
    dcb.fAbortOnError = 1;
    // Not used with software flow control off, but drivers check them for sense.
    dcb.XonLim = 2048;
    dcb.XoffLim = 512;
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    return dcb;
}

bool configurePort(const PortTimeouts& timeouts)
{
    DCB dcb = lineSettings();
    if (SetCommState(portHandle, &dcb) == FALSE) {
        return false;
    }
    COMMTIMEOUTS platformTimeouts{timeouts.readIntervalTimeout,
                                  timeouts.readTotalTimeoutMultiplier,
                                  timeouts.readTotalTimeoutConstant,
                                  timeouts.writeTotalTimeoutMultiplier,
                                  timeouts.writeTotalTimeoutConstant};
    return SetCommTimeouts(portHandle, &platformTimeouts) != FALSE;
}

}  // namespace

bool openSerialPort(int portNumber, const PortTimeouts& timeouts)
{
    // "\\.\" names the device itself: the bare "COMn" form is resolved only
    // for COM1..COM9, so ports from COM10 up need the device namespace.
    wchar_t path[32] = L"\\\\.\\COM";
    path[7 + formatDecimal(portNumber, path + 7)] = 0;
    portHandle = CreateFileW(path, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                             nullptr);
    if (portHandle == INVALID_HANDLE_VALUE) {
        return false;
    }
    if (!configurePort(timeouts)) {
        // A port that refuses the line settings or the time-outs keeps what
        // the last program left (read time-outs of 0 block a read for ever):
        // it cannot be used as asked, so nothing is relayed through it.
        CloseHandle(portHandle);
        portHandle = INVALID_HANDLE_VALUE;
        return false;
    }
    bridgeRunning = true;
    startThread(pumpConsoleToPort, nullptr);
    startThread(pumpPortToConsole, nullptr);
    return true;
}

DWORD WINAPI pumpConsoleToPort(void*)
{
    HandleEnd console(consoleIn, consoleOut, false);
    HandleEnd port(portHandle, portHandle, true);
    relayConsoleToPort(console, port, pumpControl);
    waitForTheEnd();  // the port is gone; pumpPortToConsole reports it
}

DWORD WINAPI pumpPortToConsole(void*)
{
    HandleEnd port(portHandle, portHandle, true);
    HandleEnd console(consoleIn, consoleOut, false);
    relayPortToConsole(port, console, pumpControl);
    portGone = true;  // only now: everything the port gave is on stdout
    waitForTheEnd();
}
