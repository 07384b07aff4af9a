#pragma once
// Telling a port that has gone away (its USB device unplugged or reset) from
// one that merely had a bad moment.
//
// A removed device never comes back under the same handle: if it returns, it
// is a new port. Reads on such a handle may keep "succeeding" with nothing in
// them (Wine does this for a pty whose far end closed), so loss is judged by
// the port's status query alone, which fails on a port that is gone. One
// failed query is not enough: it must fail again after a pause, with no answer
// in between, so that a driver's passing hiccup does not end the bridge.

#include <atomic>
#include <cstdint>

// The pause between two failed status queries that make a port gone.
constexpr std::uint32_t portLossConfirmMs = 100;
// How often a quiet line has its status queried.
constexpr std::uint32_t portStatusIntervalMs = 200;

// Whether a failed status query, with this error code, says anything about
// the port. Some virtual-port drivers fail the query on healthy ports with
// "invalid parameter" (87) or "invalid function" (1): those failures are
// taken as an answer.
bool statusErrorMeansFailure(std::uint32_t errorCode);

// Shared by both pumps; each notes the outcome of every status query it
// makes. Times are milliseconds of one steady clock.
class PortLossWatch {
public:
    // answered: the query succeeded (or failed in a way that tells nothing).
    void noteStatus(bool answered, std::uint64_t nowMs);

    // Whether a quiet line is due for a status query: every
    // portStatusIntervalMs, and sooner while a failure waits to be confirmed.
    bool statusDue(std::uint64_t nowMs) const;

    bool lost() const { return lost_.load(); }

private:
    static constexpr std::uint64_t noFailure = ~std::uint64_t{0};

    std::atomic<bool> lost_{false};
    std::atomic<std::uint64_t> firstFailureMs_{noFailure};
    std::atomic<std::uint64_t> lastQueryMs_{0};
};
