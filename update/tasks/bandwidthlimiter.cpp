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
    waiting.clear();
    clock.start();
    since.start();
}

void BandwidthLimiter::refill()
{
    const qint64 elapsed = clock.nsecsElapsed();
    clock.start();
    tokens = std::min(double(burst), tokens + double(elapsed) * 1e-9 * double(rate));
}

qint64 BandwidthLimiter::staleNs() const
{
    return std::max<qint64>(1000000000, 4 * smallestGrant * 1000000000 / rate);
}

QList<BandwidthLimiter::Waiter>::const_iterator BandwidthLimiter::findWaiter(const void* who) const
{
    return std::find_if(waiting.cbegin(), waiting.cend(), [who](const Waiter& w) { return w.who == who; });
}

qint64 BandwidthLimiter::grant(const void* who, qint64 wanted)
{
    if (!capped())
        return wanted;
    refill();
    const qint64 now = since.nsecsElapsed();
    while (!waiting.isEmpty() && waiting.front().who != who && now - waiting.front().askedNs > staleNs())
        waiting.removeFirst();
    const auto mine = findWaiter(who);
    const bool turn = waiting.isEmpty() || waiting.front().who == who;
    if (!turn || tokens < double(std::min(wanted, smallestGrant))) {
        if (mine == waiting.cend())
            waiting.append({who, now});
        else
            waiting[mine - waiting.cbegin()].askedNs = now;
        return 0;
    }
    if (mine != waiting.cend())
        waiting.erase(mine);
    const qint64 granted = std::min(wanted, qint64(tokens));
    tokens -= double(granted);
    return granted;
}

void BandwidthLimiter::giveBack(qint64 bytes)
{
    if (capped())
        tokens = std::min(double(burst), tokens + double(bytes));
}

void BandwidthLimiter::forget(const void* who)
{
    waiting.removeIf([who](const Waiter& w) { return w.who == who; });
}

int BandwidthLimiter::msUntilAvailable(const void* who) const
{
    if (!capped())
        return 0;
    // Those ahead in the line take a grant each first.
    const auto mine = findWaiter(who);
    const double ahead = double(mine - waiting.cbegin());
    const double missing = std::max(0.0, double(smallestGrant) * (ahead + 1) - tokens);
    return std::max(1, int(std::ceil(missing * 1000.0 / double(rate))));
}
