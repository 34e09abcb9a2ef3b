#include "mirrors.h"

#include <QSettings>

namespace {

constexpr int defaultRetries = 2;
constexpr int alphaRetries = 4;
constexpr int httpSlots = 3;

} // namespace

Mirrors::Mirrors(QObject* parent) : QObject(parent)
{
    clock.start();
}

QString Mirrors::versionUrl(QString url, int version)
{
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    return url + QString::number(version);
}

bool Mirrors::initDefault(const QString& iniPath, int version)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    const int count = settings.beginReadArray(QStringLiteral("mirrors"));
    for (int i = 0; i < count; ++i) {
        settings.setArrayIndex(i);
        FTPSiteAccessData mirror;
        mirror.name = settings.value(QStringLiteral("mirror")).toString();
        mirrors.append(mirror);
    }
    settings.endArray();
    setDefaults(settings, version);
    return true;
}

void Mirrors::setDefaults(QSettings& settings, int version)
{
    for (FTPSiteAccessData& mirror : mirrors) {
        settings.beginGroup(mirror.name);
        const QString url = settings.value(QStringLiteral("url")).toString();
        const QString scheme = url.left(8).toUpper();
        if (scheme.startsWith(QLatin1String("HTTP://")) || scheme == QLatin1String("HTTPS://"))
            mirror.maxUses = httpSlots;
        mirror.url = versionUrl(url, version);
        bool ok = false;
        const int retries = settings.value(QStringLiteral("retries"), defaultRetries).toInt(&ok);
        mirror.retries = ok && retries > 0 ? retries : defaultRetries;
        settings.endGroup();
    }
}

bool Mirrors::initAlpha(const QString& iniPath, int version)
{
    QSettings settings(iniPath, QSettings::IniFormat);
    const QString url = settings.value(QStringLiteral("Channel/alpha")).toString();
    if (url.isEmpty()) {
        emit fatalError(QStringLiteral("Alpha parameter in channel section in update ini file not found"));
        return false;
    }
    FTPSiteAccessData mirror;
    mirror.name = QStringLiteral("Alpha Channel");
    mirror.url = versionUrl(url, version);
    mirror.retries = alphaRetries;
    mirrors.append(mirror);
    return true;
}

int Mirrors::getRandomMirror(FTPSiteAccessData& out)
{
    if (mirrors.isEmpty()) {
        if (!noMirrorsReported) {
            emit message(tr("There are no (more) known working mirrors available"));
            noMirrorsReported = true;
        }
        return NoMirror;
    }
    int streamsLeft = streamBudget;
    for (const FTPSiteAccessData& mirror : std::as_const(mirrors))
        streamsLeft -= mirror.useCount * streamCost(mirror);
    int free = 0;
    for (const FTPSiteAccessData& mirror : std::as_const(mirrors))
        free += freeFor(mirror, streamsLeft);
    if (free == 0)
        return AllBusy;

    // Each free place is equally likely, so a mirror is chosen in proportion to what it can take.
    int r = int(nextRandom() % quint32(free));
    for (FTPSiteAccessData& mirror : mirrors) {
        r -= freeFor(mirror, streamsLeft);
        if (r < 0) {
            ++mirror.useCount;
            out = mirror;
            return Assigned;
        }
    }
    Q_UNREACHABLE();
    return NoMirror;
}

int Mirrors::capacity(const FTPSiteAccessData& mirror)
{
    return mirror.multiplexed ? mirror.maxUses * downloadsPerConnection : mirror.maxUses;
}

int Mirrors::streamCost(const FTPSiteAccessData& mirror)
{
    return mirror.multiplexed ? 1 : downloadsPerConnection;
}

int Mirrors::freeFor(const FTPSiteAccessData& mirror, int streamsLeft) const
{
    const int free = qMax(0, capacity(mirror) - mirror.useCount);
    return streamBudget > 0 ? qMin(free, qMax(0, streamsLeft) / streamCost(mirror)) : free;
}

void Mirrors::setStreams(int streams)
{
    streamBudget = streams * downloadsPerConnection;
}

void Mirrors::setMultiplexed(const QString& name, bool multiplexed)
{
    const int index = getMirrorIndex(name);
    if (index < 0 || mirrors.at(index).multiplexed == multiplexed)
        return;
    mirrors[index].multiplexed = multiplexed;
    if (multiplexed) {
        emit multiplexedMirrorFound();
        emit slotFreed(); // it can take more now
    }
}

void Mirrors::addReceived(const QString& name, qint64 bytes)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        mirrors[index].bytesReceived += bytes;
}

qint64 Mirrors::sharedBytes(const QString& name) const
{
    const int index = getMirrorIndex(name);
    return index >= 0 && mirrors.at(index).multiplexed ? mirrors.at(index).bytesReceived : -1;
}

void Mirrors::releaseMirror(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index >= 0)
        --mirrors[index].useCount;
    emit slotFreed();
}

void Mirrors::addMirrorError(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return;
    FTPSiteAccessData& mirror = mirrors[index];
    // A broken HTTP/2 connection fails all its streams at once: that is one failure.
    const qint64 now = clock.elapsed();
    if (mirror.multiplexed && mirror.lastErrorMs >= 0 && now - mirror.lastErrorMs < sharedFailureMs)
        return;
    mirror.lastErrorMs = now;
    if (++mirror.errorCount > mirror.retries) {
        emit message(tr("Mirror %1 failed too many times, removing").arg(mirror.name));
        mirrors.remove(index);
    }
}

void Mirrors::removeMirror(const QString& name)
{
    const int index = getMirrorIndex(name);
    if (index < 0)
        return;
    emit message(QStringLiteral("Mirror %1 dropped from this update").arg(name));
    mirrors.remove(index);
}

void Mirrors::calcUseStats(int& capacity, int& inUse) const
{
    capacity = 0;
    inUse = 0;
    for (const FTPSiteAccessData& mirror : mirrors) {
        capacity += Mirrors::capacity(mirror);
        inUse += mirror.useCount;
    }
}

int Mirrors::getMirrorIndex(const QString& name) const
{
    for (int i = 0; i < mirrors.size(); ++i) {
        if (mirrors.at(i).name == name)
            return i;
    }
    return -1;
}

void Mirrors::seedRandom(quint32 seed)
{
    generator.seed(seed);
}

void Mirrors::setRandomSourceForTests(std::function<quint32()> source)
{
    randomSourceForTests = std::move(source);
}

quint32 Mirrors::nextRandom()
{
    return randomSourceForTests ? randomSourceForTests() : generator.generate();
}
