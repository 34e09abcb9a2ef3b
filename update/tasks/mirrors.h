#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QRandomGenerator>
#include <QString>
#include <QVector>

#include <functional>

class QSettings;

// One download mirror.
struct FTPSiteAccessData
{
    QString name;      // identity in the registry: its group in mirrors.ini, or "Alpha Channel"
    QString url;       // base URL of the version's files, ending in "/" and the version number
    int retries = 0;   // errors tolerated before the mirror is dropped
    int timeout = 15;  // seconds an attempt may go without data
    int errorCount = 0;
    int useCount = 0;  // downloads using the mirror now
    int maxUses = 1;   // connections the mirror may serve at once, a download on each
    bool multiplexed = false;  // its replies came over HTTP/2: its downloads share one connection
    qint64 bytesReceived = 0;  // by all its downloads: shows whether a shared connection is alive
    qint64 lastErrorMs = -1;   // when its last error was counted, on the registry's clock
};

// The mirrors of one update: read once, handed out by a random choice weighted by the
// downloads each can take now, taken back when a download ends, and dropped after too many
// errors.
//
// A slot is a connection. Over HTTP/1.1 a connection carries one download at a time, so
// latency costs a round trip per file; a mirror whose replies come over HTTP/2 carries
// `downloadsPerConnection` downloads per slot as streams of the one connection Qt keeps to
// it, which keeps enough requests in flight to fill a long line with the same politeness.
// The user's `streams` bound what all mirrors serve together, in connections' worth: a
// download sharing an HTTP/2 connection takes a `downloadsPerConnection`th of one.
class Mirrors : public QObject
{
    Q_OBJECT

public:
    enum Result { Assigned = 0, NoMirror = 1, AllBusy = 2 };
    static constexpr int downloadsPerConnection = 8;
    // Errors of one multiplexed mirror this close together are one failure of its connection.
    static constexpr qint64 sharedFailureMs = 1000;

    explicit Mirrors(QObject* parent);

    bool initDefault(const QString& iniPath, int version);
    bool initAlpha(const QString& iniPath, int version);
    void setDefaults(QSettings& settings, int version);

    int getRandomMirror(FTPSiteAccessData& out);
    void releaseMirror(const QString& name);
    void addMirrorError(const QString& name);
    void removeMirror(const QString& name);
    void calcUseStats(int& capacity, int& inUse) const;
    int getMirrorIndex(const QString& name) const;

    // At most `streams` connections' worth of downloads at once (0, the default: no bound).
    void setStreams(int streams);
    // What the mirror's last reply came over; a mirror found multiplexed serves more at once.
    void setMultiplexed(const QString& name, bool multiplexed);
    void addReceived(const QString& name, qint64 bytes);
    // What all downloads received from the mirror while they share one connection; -1 when
    // they do not (or the mirror is gone), and each download is judged on its own bytes.
    qint64 sharedBytes(const QString& name) const;

    const QVector<FTPSiteAccessData>& list() const { return mirrors; }

    // Seeds the choice of mirrors; called once per run before any mirror is chosen.
    void seedRandom(quint32 seed);
    // Test seam: replaces the random numbers the choice draws. Never set in production.
    void setRandomSourceForTests(std::function<quint32()> source);

signals:
    // A download gave its mirror's slot back: who waits for one may ask again.
    void slotFreed();
    // A mirror was found to carry its downloads as streams of one connection.
    void multiplexedMirrorFound();
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    static QString versionUrl(QString url, int version);
    quint32 nextRandom();
    static int capacity(const FTPSiteAccessData& mirror);
    // What one download from the mirror takes of the streams, in `downloadsPerConnection`ths.
    static int streamCost(const FTPSiteAccessData& mirror);
    // The downloads the mirror can take now, within its capacity and the streams left.
    int freeFor(const FTPSiteAccessData& mirror, int streamsLeft) const;

    QVector<FTPSiteAccessData> mirrors;
    bool noMirrorsReported = false;
    int streamBudget = 0; // in downloadsPerConnection-ths of a connection; 0: none
    QElapsedTimer clock;
    QRandomGenerator generator;
    std::function<quint32()> randomSourceForTests;
};
