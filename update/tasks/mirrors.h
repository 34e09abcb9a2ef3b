#pragma once

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
    int maxUses = 1;   // downloads the mirror may serve at once
};

// The mirrors of one update: read once, handed out by a random choice weighted by free
// slots, taken back when a download ends, and dropped after too many errors.
class Mirrors : public QObject
{
    Q_OBJECT

public:
    enum Result { Assigned = 0, NoMirror = 1, AllBusy = 2 };

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

    const QVector<FTPSiteAccessData>& list() const { return mirrors; }

    // Seeds the choice of mirrors; called once per run before any mirror is chosen.
    void seedRandom(quint32 seed);
    // Test seam: replaces the random numbers the choice draws. Never set in production.
    void setRandomSourceForTests(std::function<quint32()> source);

signals:
    // A download gave its mirror's slot back: who waits for one may ask again.
    void slotFreed();
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    static QString versionUrl(QString url, int version);
    quint32 nextRandom();

    QVector<FTPSiteAccessData> mirrors;
    bool noMirrorsReported = false;
    QRandomGenerator generator;
    std::function<quint32()> randomSourceForTests;
};
