// The real pumps over a port that runs one request at a time, as Windows runs
// a handle opened without FILE_FLAG_OVERLAPPED, beside the same run with the
// two directions side by side, as Wine runs them. Times are virtual, so each
// row's delays are exact. See port_model.h.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "bridge/port_model.h"

namespace {

using portmodel::Bytes;
using portmodel::Device;
using portmodel::Handle;
using portmodel::Micros;
using portmodel::milliseconds;
using portmodel::Timed;

// Delays in whole milliseconds; a byte that never came out within the run:
constexpr std::int64_t stalled = -1;
using Delays = std::vector<std::int64_t>;

// The time-outs in `open`'s argument order: interval, read constant, read
// multiplier, write constant, write multiplier.
PortTimeouts arguments(std::uint32_t interval, std::uint32_t readConstant,
                       std::uint32_t readMultiplier, std::uint32_t writeConstant = 1000,
                       std::uint32_t writeMultiplier = 250)
{
    return PortTimeouts{interval, readMultiplier, readConstant, writeMultiplier, writeConstant};
}

constexpr std::uint32_t minusOne = 0xFFFFFFFF;

Timed at(std::uint64_t ms, const std::string& text)
{
    return Timed{milliseconds(ms), Bytes(text.begin(), text.end())};
}

Timed at(std::uint64_t ms, std::size_t count)
{
    return Timed{milliseconds(ms), Bytes(count, 0x55)};
}

Delays inMilliseconds(const std::vector<Micros>& delays)
{
    Delays result;
    for (const Micros delay : delays) {
        result.push_back(delay == portmodel::never ? stalled
                                                   : static_cast<std::int64_t>(delay / 1000));
    }
    return result;
}

struct Directions {
    Delays hostToDevice;
    Delays deviceToHost;
};

Directions runModel(portmodel::Scenario scenario, Handle handle)
{
    scenario.handle = handle;
    const portmodel::Outcome outcome = portmodel::run(scenario);
    EXPECT_FALSE(outcome.runaway);
    return Directions{inMilliseconds(portmodel::delays(scenario.hostWrites, outcome.toDevice)),
               inMilliseconds(portmodel::delays(scenario.deviceSends, outcome.toHost))};
}

// The pump that drains the port pauses 10 ms after an empty read, so with the
// default time-outs the port is read [20k, 20k + 10) ms and idle in between,
// until bytes from the device move the cycle on.
struct ModelCase {
    const char* name;
    PortTimeouts timeouts;
    Device device;
    std::vector<Timed> hostWrites;
    std::vector<Timed> deviceSends;
    Delays hostToDeviceOneAtATime;
    Delays hostToDeviceBothAtOnce;
    Delays deviceToHostOneAtATime;
    Delays deviceToHostBothAtOnce;
};

void PrintTo(const ModelCase& row, std::ostream* out)
{
    *out << row.name;
}

const ModelCase modelCases[] = {
    // A byte from the host during a read waits for the read's 10 ms to end.
    {"defaultsHostWritesDuringARead", arguments(0, 10, 0), Device::takesAll,
     {at(1003, "a")}, {}, {7}, {0}, {}, {}},
    {"defaultsHostWritesDuringThePause", arguments(0, 10, 0), Device::takesAll,
     {at(1015, "a")}, {}, {0}, {0}, {}, {}},
    // A byte from the device makes the pump read again at once; the flush
    // after the host's first write waits for that read, and the host's
    // second write behind it.
    {"defaultsFlushWaitsForTheDrainingRead", arguments(0, 10, 0), Device::takesAll,
     {at(1005, "a"), at(1012, "b")}, {at(1003, "x")}, {5, 8}, {0, 0}, {7}, {7}},
    {"immediateReadsNeverHoldThePort", arguments(minusOne, 0, 0), Device::takesAll,
     {at(1003, "a")}, {at(1003, "x")}, {0}, {0}, {7}, {7}},
    // -1 50 -1: a read returns with the first byte, or after 50 ms. The byte
    // from the device passes at once; the read that follows it holds the
    // host's byte until its 50 ms are up.
    {"firstByteReadsHoldTheHostUntilTheirTimeOut", arguments(minusOne, 50, minusOne),
     Device::takesAll, {at(1005, "a")}, {at(1003, "x")}, {48}, {0}, {0}, {0}},
    // Reads of up to 200 ms: the device's byte ends its read 20 ms after it
    // came (the interval), and the read after it holds the host's byte.
    {"batchingHoldsTheHostForTheWholeRead", arguments(20, 200, 0), Device::takesAll,
     {at(450, "a")}, {at(300, "x")}, {70}, {0}, {20}, {20}},
    // 0 0 0: a read returns only with 4096 bytes, and the host waits for it.
    {"zerosHoldTheHostUntil4096Bytes", arguments(0, 0, 0), Device::takesAll,
     {at(5, "a")}, {at(2000, 4096)}, {1995}, {0}, {0}, {0}},
    {"zerosHoldTheHostForEverWithFewerBytes", arguments(0, 0, 0), Device::takesAll,
     {at(5, "a")}, {at(2000, 100)}, {stalled}, {0}, {stalled}, {stalled}},
    // The write waits for the read in progress (to 110 ms), then 1000 ms +
    // 4 x 250 ms for a device that takes nothing, and is dropped; the
    // device's byte waits behind it for a read of its own.
    {"writeTimeOutWithADeviceThatReadsNothing", arguments(0, 10, 0), Device::takesNothing,
     {at(103, "abcd")}, {at(155, "x")}, {stalled}, {stalled}, {1965}, {15}},
    // No write time-out: the write never returns, and nothing is read again.
    {"noWriteTimeOutWithADeviceThatReadsNothing", arguments(0, 10, 0, 0, 0), Device::takesNothing,
     {at(103, "a")}, {at(155, "x")}, {stalled}, {stalled}, {stalled}, {15}},
};

class SerialisedPort : public testing::TestWithParam<ModelCase> {};

TEST_P(SerialisedPort, DelaysOfEachDirection)
{
    const ModelCase& row = GetParam();
    portmodel::Scenario scenario;
    scenario.timeouts = row.timeouts;
    scenario.device = row.device;
    scenario.hostWrites = row.hostWrites;
    scenario.deviceSends = row.deviceSends;

    const Directions oneAtATime = runModel(scenario, Handle::oneAtATime);
    EXPECT_EQ(oneAtATime.hostToDevice, row.hostToDeviceOneAtATime) << "one request at a time";
    EXPECT_EQ(oneAtATime.deviceToHost, row.deviceToHostOneAtATime) << "one request at a time";

    const Directions bothAtOnce = runModel(scenario, Handle::bothAtOnce);
    EXPECT_EQ(bothAtOnce.hostToDevice, row.hostToDeviceBothAtOnce) << "both at once";
    EXPECT_EQ(bothAtOnce.deviceToHost, row.deviceToHostBothAtOnce) << "both at once";
}

INSTANTIATE_TEST_SUITE_P(Table, SerialisedPort, testing::ValuesIn(modelCases),
                         [](const testing::TestParamInfo<ModelCase>& testParam) {
                             return std::string(testParam.param.name);
                         });

// Every byte passes unchanged and in order through the model, both ways and
// with reads cut at 4096 bytes, so its delays are those of whole streams.
TEST(SerialisedPortStreams, PassEveryByteInOrder)
{
    portmodel::Scenario scenario;
    scenario.timeouts = arguments(0, 10, 0);
    Bytes fromDevice;
    for (unsigned i = 0; i < 10000; ++i) {
        fromDevice.push_back(static_cast<unsigned char>(i * 7));
    }
    scenario.deviceSends = {Timed{milliseconds(300), fromDevice}};
    scenario.hostWrites = {at(290, "ab"), at(305, std::string(1, '\0')), at(333, "\xff\r\n")};

    const portmodel::Outcome outcome = portmodel::run(scenario);

    Bytes toHost;
    for (const Timed& chunk : outcome.toHost) {
        EXPECT_LE(chunk.bytes.size(), pumpBufferSize);
        toHost.insert(toHost.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    EXPECT_EQ(toHost, fromDevice);
    Bytes toDevice;
    for (const Timed& chunk : outcome.toDevice) {
        toDevice.insert(toDevice.end(), chunk.bytes.begin(), chunk.bytes.end());
    }
    EXPECT_EQ(toDevice, Bytes({'a', 'b', 0, 0xFF, '\r', '\n'}));
}

// A port reader that never pauses between reads: a plausible change (the
// read time-out already paces the loop) that costs nothing under Wine, but on
// Windows keeps the handle busy, so a byte the host writes in what was the
// pause waits for a read. The model tells the two apart; Wine's rules cannot.
void relayWithoutPause(PumpEnd& port, PumpEnd& console, const PumpControl& control)
{
    const PumpControl noPause{control.running, control.loss, [](std::uint32_t) {}, control.now};
    relayPortToConsole(port, console, noPause);
}

TEST(SerialisedPortFaults, AReaderThatNeverPausesHoldsUpTheHost)
{
    portmodel::Scenario scenario;
    scenario.timeouts = arguments(0, 10, 0);
    scenario.hostWrites = {at(1015, "a")};
    scenario.portToConsole = relayWithoutPause;

    EXPECT_EQ(runModel(scenario, Handle::oneAtATime).hostToDevice, Delays{5});
    EXPECT_EQ(runModel(scenario, Handle::bothAtOnce).hostToDevice, Delays{0});
}

}  // namespace
