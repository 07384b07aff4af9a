#include "bridge/port_loss.h"

namespace {

constexpr std::uint32_t errorInvalidFunction = 1;
constexpr std::uint32_t errorInvalidParameter = 87;

}  // namespace

bool statusErrorMeansFailure(std::uint32_t errorCode)
{
    return errorCode != errorInvalidFunction && errorCode != errorInvalidParameter;
}

void PortLossWatch::noteStatus(bool answered, std::uint64_t nowMs)
{
    lastQueryMs_ = nowMs;
    if (answered) {
        firstFailureMs_ = noFailure;
        return;
    }
    std::uint64_t first = noFailure;
    // The first failure of a run starts the clock; both pumps may race here,
    // and whichever wins, the earlier time is kept.
    if (firstFailureMs_.compare_exchange_strong(first, nowMs)) {
        return;
    }
    if (nowMs >= first + portLossConfirmMs) {
        lost_ = true;
    }
}

bool PortLossWatch::statusDue(std::uint64_t nowMs) const
{
    const std::uint64_t first = firstFailureMs_.load();
    if (first != noFailure) {
        return nowMs >= first + portLossConfirmMs;
    }
    return nowMs >= lastQueryMs_.load() + portStatusIntervalMs;
}
