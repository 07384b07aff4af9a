// What Windows would make of the bench's one-byte latency: the pumps over the
// unit tests' model of a port that runs one request at a time (see
// tests/unit/bridge/port_model.h), and over the same port with both
// directions at once, as under Wine. Native, in virtual time.
//
//   port_model ROUNDS [INTERVAL [READ_CONST [READ_MULT [WRITE_CONST [WRITE_MULT]]]]]
//
// The time-outs as `open` takes them (-1 for MAXDWORD). One byte at a time,
// ROUNDS of them per direction, spaced so that each meets the pumps at
// another point of their cycle and never waits for the one before. Prints one
// JSON object: for each direction and handle, every byte's delay in ms, null
// for a byte that never came out.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bridge/port_model.h"

namespace {

using portmodel::Handle;
using portmodel::Micros;
using portmodel::Timed;

// 307.3 ms between bytes: longer than any delay short of a stall, and out of
// step with the pumps' cycles (20, 11 and 210 ms for the bench's sets).
constexpr Micros spacing = 307300;
constexpr Micros firstByte = portmodel::milliseconds(1000);

std::vector<Timed> pings(int rounds)
{
    std::vector<Timed> bytes;
    for (int i = 0; i < rounds; ++i) {
        bytes.push_back(Timed{firstByte + static_cast<Micros>(i) * spacing, {0x55}});
    }
    return bytes;
}

void printDelays(const std::vector<Micros>& delays)
{
    std::printf("[");
    for (std::size_t i = 0; i < delays.size(); ++i) {
        std::printf(i == 0 ? "" : ", ");
        if (delays[i] == portmodel::never) {
            std::printf("null");
        } else {
            std::printf("%.3f", static_cast<double>(delays[i]) / 1000.0);
        }
    }
    std::printf("]");
}

void printDirection(const char* name, const portmodel::Scenario& scenario, bool toDevice)
{
    std::printf("\"%s\": {", name);
    const char* separator = "";
    for (const Handle handle : {Handle::oneAtATime, Handle::bothAtOnce}) {
        portmodel::Scenario run = scenario;
        run.handle = handle;
        const portmodel::Outcome outcome = portmodel::run(run);
        std::printf("%s\"%s\": ", separator,
                    handle == Handle::oneAtATime ? "one_at_a_time" : "both_at_once");
        printDelays(toDevice ? portmodel::delays(run.hostWrites, outcome.toDevice)
                             : portmodel::delays(run.deviceSends, outcome.toHost));
        separator = ", ";
    }
    std::printf("}");
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s ROUNDS [time-outs as open takes them]\n", argv[0]);
        return 2;
    }
    const int rounds = std::atoi(argv[1]);
    std::uint32_t values[5] = {0, 10, 0, 1000, 250};  // open's order and defaults
    for (int i = 2; i < argc && i < 7; ++i) {
        values[i - 2] = static_cast<std::uint32_t>(std::strtol(argv[i], nullptr, 10));
    }
    portmodel::Scenario scenario;
    scenario.timeouts = PortTimeouts{values[0], values[2], values[1], values[4], values[3]};
    scenario.end = firstByte + static_cast<Micros>(rounds) * spacing;

    portmodel::Scenario hostToDevice = scenario;
    hostToDevice.hostWrites = pings(rounds);
    portmodel::Scenario deviceToHost = scenario;
    deviceToHost.deviceSends = pings(rounds);

    std::printf("{");
    printDirection("host->device", hostToDevice, true);
    std::printf(", ");
    printDirection("device->host", deviceToHost, false);
    std::printf("}\n");
    return 0;
}
