#include "bandwidthlimiter.h"

#include <algorithm>
#include <cmath>

namespace {

// A read at a time moves at least this much: smaller grants would only cost wake-ups.
constexpr qint64 smallestGrant = 4096;

} // namespace

BandwidthLimiter& BandwidthLimiter::global()
{
    static BandwidthLimiter limiter;
    return limiter;
}

void BandwidthLimiter::setBytesPerSecond(qint64 bytesPerSecond)
{
    rate = std::max<qint64>(bytesPerSecond, 0);
    // An eighth of a second's worth, so that a short burst is all the line ever sees above the cap.
    burst = std::max(smallestGrant, rate / 8);
    tokens = double(burst);
    clock.start();
}

void BandwidthLimiter::refill()
{
    const qint64 elapsed = clock.nsecsElapsed();
    clock.start();
    tokens = std::min(double(burst), tokens + double(elapsed) * 1e-9 * double(rate));
}

qint64 BandwidthLimiter::grant(qint64 wanted)
{
    if (!capped())
        return wanted;
    refill();
    if (tokens < double(std::min(wanted, smallestGrant)))
        return 0;
    const qint64 granted = std::min(wanted, qint64(tokens));
    tokens -= double(granted);
    return granted;
}

void BandwidthLimiter::giveBack(qint64 bytes)
{
    if (capped())
        tokens = std::min(double(burst), tokens + double(bytes));
}

int BandwidthLimiter::msUntilAvailable() const
{
    if (!capped())
        return 0;
    const double missing = std::max(0.0, double(smallestGrant) - tokens);
    return std::max(1, int(std::ceil(missing * 1000.0 / double(rate))));
}
