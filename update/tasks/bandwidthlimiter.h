#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// The cap on what all downloads of the updater receive together ("maxKBps" in update.ini),
// as a token bucket: bytes become available at the cap's rate, with a small burst, and a
// download reads from its reply only what it is granted. What it does not read stays in
// the reply's bounded buffer, and TCP slows the mirror down. One per process, since the
// cap is for the line, not for one download.
class BandwidthLimiter
{
public:
    static BandwidthLimiter& global();

    // 0: no cap.
    void setBytesPerSecond(qint64 rate);
    qint64 bytesPerSecond() const { return rate; }
    bool capped() const { return rate > 0; }

    // Up to wanted bytes that may be read now (all of them without a cap); 0 when the
    // bucket is empty. Bytes granted and not read are given back.
    qint64 grant(qint64 wanted);
    void giveBack(qint64 bytes);
    // Milliseconds until some bytes may be read again.
    int msUntilAvailable() const;

private:
    void refill();

    qint64 rate = 0;
    qint64 burst = 0;
    double tokens = 0;
    QElapsedTimer clock;
};
