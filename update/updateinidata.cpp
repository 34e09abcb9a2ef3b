#include "updateinidata.h"

#include "configuration.h"
#include "durability.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <unistd.h>

namespace {

const QString group = QStringLiteral("current");
const QString installedGroup = QStringLiteral("installed");

} // namespace

QString InstalledRelease::channelName(UpdateChannel channel)
{
    switch (channel) {
    case Beta: return QStringLiteral("beta");
    case Alpha: return QStringLiteral("alpha");
    case Stable: break;
    }
    return QStringLiteral("stable");
}

bool InstalledRelease::isNewerThan(int otherVersion, const QString& otherType, UpdateChannel otherChannel) const
{
    return otherVersion < version && otherType == type && channelName(otherChannel) == channel;
}

QString UpdateIniData::filename()
{
    return QFileInfo(QDir(Configuration::getAppRootPath()), QStringLiteral("update.ini")).filePath();
}

bool UpdateIniData::get(int* version, QString* type, QString* dir)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(group);
    bool ok = false;
    const int recordedVersion = settings.value(QStringLiteral("version")).toString().toInt(&ok);
    const QString recordedType = settings.value(QStringLiteral("type")).toString();
    const QString recordedDir = settings.value(QStringLiteral("dir")).toString();
    if (!ok || recordedType.isEmpty() || recordedDir.isEmpty() || !QFileInfo(recordedDir).isDir())
        return false;
    if (version)
        *version = recordedVersion;
    if (type)
        *type = recordedType;
    if (dir)
        *dir = recordedDir;
    return true;
}

bool UpdateIniData::modify(int version, const QString& dir, const QString& type)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(group);
    settings.setValue(QStringLiteral("version"), version);
    settings.setValue(QStringLiteral("dir"), dir);
    settings.setValue(QStringLiteral("type"), type);
    return writeDurably(settings);
}

void UpdateIniData::cleanup()
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.remove(group);
    writeDurably(settings);
}

bool UpdateIniData::complete(const InstalledRelease& release)
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.remove(group);
    settings.beginGroup(installedGroup);
    settings.setValue(QStringLiteral("version"), release.version);
    settings.setValue(QStringLiteral("type"), release.type);
    settings.setValue(QStringLiteral("channel"), release.channel);
    settings.setValue(QStringLiteral("namesSigned"), release.namesSigned);
    settings.endGroup();
    return writeDurably(settings);
}

std::optional<InstalledRelease> UpdateIniData::installed()
{
    QSettings settings(filename(), QSettings::IniFormat);
    settings.beginGroup(installedGroup);
    InstalledRelease release;
    bool ok = false;
    release.version = settings.value(QStringLiteral("version")).toString().toInt(&ok);
    release.type = settings.value(QStringLiteral("type")).toString();
    release.channel = settings.value(QStringLiteral("channel")).toString();
    release.namesSigned = settings.value(QStringLiteral("namesSigned")).toString() == QLatin1String("true");
    if (!ok || release.type.isEmpty() || release.channel.isEmpty())
        return std::nullopt;
    return release;
}

// Step 4 of durability.h: the settings writer flushes its new file before it renames it
// over update.ini; the rename reaches the disk with the directory.
bool UpdateIniData::writeDurably(QSettings& settings)
{
    settings.sync();
    return settings.status() == QSettings::NoError && flushDirectory(QFileInfo(filename()).path());
}

QString UpdateIniData::sessionDirectoryProblem(const QString& dir)
{
    // Made as voxmere_temp_ and a random suffix; earlier updaters used a number.
    static const QRegularExpression sessionName(QStringLiteral("^voxmere_temp_[0-9A-Za-z]+$"));
    const QFileInfo info(dir);
    if (info.isSymLink())
        return QStringLiteral("it is a symbolic link");
    if (!info.isAbsolute() || !info.isDir())
        return QStringLiteral("it is not a directory");
    if (!sessionName.match(info.fileName()).hasMatch())
        return QStringLiteral("it is not named voxmere_temp_ and a suffix of letters and digits");
    // Only a directory this updater could have made: one directly in its temporary folder.
    const QString tempFolder = QFileInfo(QDir::tempPath()).canonicalFilePath();
    if (tempFolder.isEmpty() || QFileInfo(info.absolutePath()).canonicalFilePath() != tempFolder)
        return QStringLiteral("it is not in the temporary folder %1").arg(QDir::tempPath());
    if (info.ownerId() != ::getuid())
        return QStringLiteral("it belongs to another user");
    return QString();
}
