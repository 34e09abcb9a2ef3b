#include "patchpublisher.h"

#include "filepatch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

namespace {

const QString indexName = QStringLiteral("index");
constexpr int probeLevel = 3;

bool readAll(const QString& path, QByteArray* content)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *content = file.readAll();
    return !file.error();
}

QString md5Of(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

bool writeAll(const QString& path, const QByteArray& content)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size() && file.commit();
}

} // namespace

PatchPublisher::PatchPublisher(const QString& releaseDir, int level)
    : patchDir(QDir(releaseDir).filePath(QStringLiteral("patches"))), level(level)
{
}

bool PatchPublisher::fail(const QString& text)
{
    error = text;
    return false;
}

QString PatchPublisher::patchPath(const QString& target, const QString& base) const
{
    return QDir(patchDir).filePath(QStringLiteral("%1-%2.zst").arg(target, base));
}

bool PatchPublisher::add(const QString& previousFile, const QString& file, const QString& md5, qint64 downloadSize)
{
    QByteArray base;
    QByteArray target;
    if (!readAll(previousFile, &base))
        return fail(QStringLiteral("Could not read %1").arg(previousFile));
    const QString baseMd5 = md5Of(base);
    const QString key = md5 + QLatin1Char(' ') + baseMd5;
    if (baseMd5 == md5 || entries.contains(key))
        return true;
    if (!readAll(file, &target))
        return fail(QStringLiteral("Could not read %1").arg(file));
    // A fast attempt first: what it cannot make smaller than the download is new content
    // (random, compressed, encrypted) that no slower level helps much, and high levels take
    // a second per megabyte of such data.
    QString reason;
    const QByteArray probe = FilePatch::make(base, target, qMin(level, probeLevel), &reason);
    const QByteArray patch = probe.isEmpty() || probe.size() >= downloadSize || level <= probeLevel
                                 ? probe
                                 : FilePatch::make(base, target, level, &reason);
    if (patch.isEmpty())
        return fail(QStringLiteral("Could not make a patch from %1 to %2: %3").arg(previousFile, file, reason));
    if (patch.size() * 4 >= downloadSize * 3)
        return true;
    const QString path = patchPath(md5, baseMd5);
    if (!QDir().mkpath(patchDir) || !writeAll(path, patch))
        return fail(QStringLiteral("Could not write %1").arg(path));
    entries.insert(key, QString::number(patch.size()) + QLatin1Char(' ') + md5Of(patch));
    lines << QStringLiteral("%1 (from %2: %3 of %4 bytes)").arg(path, previousFile).arg(patch.size()).arg(downloadSize);
    return true;
}

bool PatchPublisher::writeIndex(const QSet<QString>& releaseMd5s)
{
    const QString indexPath = QDir(patchDir).filePath(indexName);
    // An earlier run's patches stay published while they make a file of this release and
    // lie where the index says, as the index gives them.
    QByteArray earlier;
    readAll(indexPath, &earlier);
    static const QRegularExpression line(QStringLiteral("^([0-9a-f]{32}) ([0-9a-f]{32}) ([0-9]+ [0-9a-f]{32})$"));
    for (const QByteArray& text : earlier.split('\n')) {
        const QRegularExpressionMatch entry = line.match(QString::fromLatin1(text));
        if (!entry.hasMatch() || !releaseMd5s.contains(entry.captured(1)))
            continue;
        const QString key = entry.captured(1) + QLatin1Char(' ') + entry.captured(2);
        QByteArray patch;
        if (!entries.contains(key) && readAll(patchPath(entry.captured(1), entry.captured(2)), &patch) &&
            QString::number(patch.size()) + QLatin1Char(' ') + md5Of(patch) == entry.captured(3))
            entries.insert(key, entry.captured(3));
    }
    if (entries.isEmpty())
        return !QFileInfo::exists(indexPath) || QFile::remove(indexPath) ||
               fail(QStringLiteral("Could not remove %1").arg(indexPath));
    QStringList keys = entries.keys();
    keys.sort();
    QByteArray index;
    for (const QString& key : keys)
        index += (key + QLatin1Char(' ') + entries.value(key)).toLatin1() + '\n';
    if (!writeAll(indexPath, index))
        return fail(QStringLiteral("Could not write %1").arg(indexPath));
    lines << indexPath;
    return true;
}
