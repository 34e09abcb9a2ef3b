#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QtGlobal>

// The cap on what all downloads of the updater receive together ("maxKBps" in update.ini),
// as a token bucket: bytes become available at the cap's rate, with a small burst, and a
// download reads from its reply only what it is granted. What it does not read stays in
// the reply's bounded buffer, and TCP slows the mirror down. The cap is shared fairly: the
// downloads held back get their grants in the order they asked, so each gets its share and
// what one does not take goes to the others. One per process, since the cap is for the
// line, not for one download.
class BandwidthLimiter
{
public:
    static BandwidthLimiter& global();

    // 0: no cap.
    void setBytesPerSecond(qint64 rate);
    qint64 bytesPerSecond() const { return rate; }
    bool capped() const { return rate > 0; }

    // Up to wanted bytes that the download who may read now (all of them without a cap);
    // 0 when the bucket is empty or downloads held back earlier come first. Bytes granted
    // and not read are given back.
    qint64 grant(const void* who, qint64 wanted);
    void giveBack(qint64 bytes);
    // The download who no longer waits (it ended, or starts again).
    void forget(const void* who);
    // Milliseconds until the download who may expect its next grant.
    int msUntilAvailable(const void* who) const;

private:
    void refill();
    // A download that stopped asking (it ended, or its mirror failed) loses its turn after this.
    qint64 staleNs() const;

    struct Waiter
    {
        const void* who;
        qint64 askedNs; // when it last asked
    };
    QList<Waiter> waiting; // held back, in the order of their first refusal
    QList<Waiter>::const_iterator findWaiter(const void* who) const;
    qint64 rate = 0;
    qint64 burst = 0;
    double tokens = 0;
    QElapsedTimer clock; // since the last refill
    QElapsedTimer since; // since the cap was set
};
