#include "mirrors.h"

#include <QSettings>

namespace {

constexpr int defaultRetries = 2;
constexpr int alphaRetries = 4;
constexpr int httpSlots = 3;

} // namespace

Mirrors::Mirrors(QObject* parent) : QObject(parent) {}

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
    int capacity = 0;
    int inUse = 0;
    calcUseStats(capacity, inUse);
    if (inUse >= capacity)
        return AllBusy;

    // Each free slot is equally likely, so a mirror is chosen in proportion to its free slots.
    int r = int(nextRandom() % quint32(capacity - inUse));
    for (FTPSiteAccessData& mirror : mirrors) {
        r -= mirror.maxUses - mirror.useCount;
        if (r < 0) {
            ++mirror.useCount;
            out = mirror;
            return Assigned;
        }
    }
    return NoMirror;
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
        capacity += mirror.maxUses;
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
