#include "patchpublisher.h"

#include "filepatch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

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
    : patchDir(QDir(releaseDir).filePath(FilePatch::folder())), level(level)
{
}

bool PatchPublisher::fail(const QString& text)
{
    error = text;
    return false;
}

QString PatchPublisher::patchPath(const FilePatch::IndexEntry& entry) const
{
    return QDir(patchDir).filePath(entry.fileName());
}

bool PatchPublisher::add(const QString& previousFile, const QString& file, const QString& md5, qint64 downloadSize)
{
    QByteArray base;
    QByteArray target;
    if (!readAll(previousFile, &base))
        return fail(QStringLiteral("Could not read %1").arg(previousFile));
    FilePatch::IndexEntry entry{md5, md5Of(base), 0, {}};
    if (entry.base == md5 || entries.contains(entry.key()))
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
    entry.size = patch.size();
    entry.md5 = md5Of(patch);
    const QString path = patchPath(entry);
    if (!QDir().mkpath(patchDir) || !writeAll(path, patch))
        return fail(QStringLiteral("Could not write %1").arg(path));
    entries.insert(entry.key(), entry);
    lines << QStringLiteral("%1 (from %2: %3 of %4 bytes)").arg(path, previousFile).arg(patch.size()).arg(downloadSize);
    return true;
}

bool PatchPublisher::writeIndex(const QSet<QString>& releaseMd5s)
{
    const QString indexPath = QDir(patchDir).filePath(FilePatch::indexName());
    // An earlier run's patches stay published while they make a file of this release and
    // lie where the index says, as the index gives them.
    QByteArray earlier;
    readAll(indexPath, &earlier);
    FilePatch::IndexEntry entry;
    for (const QByteArray& text : earlier.split('\n')) {
        QByteArray patch;
        if (FilePatch::IndexEntry::parse(text, &entry) && releaseMd5s.contains(entry.target) &&
            !entries.contains(entry.key()) && readAll(patchPath(entry), &patch) && patch.size() == entry.size &&
            md5Of(patch) == entry.md5)
            entries.insert(entry.key(), entry);
    }
    if (entries.isEmpty())
        return !QFileInfo::exists(indexPath) || QFile::remove(indexPath) ||
               fail(QStringLiteral("Could not remove %1").arg(indexPath));
    QStringList keys = entries.keys();
    keys.sort();
    QByteArray index;
    for (const QString& key : keys)
        index += entries.value(key).line() + '\n';
    if (!writeAll(indexPath, index))
        return fail(QStringLiteral("Could not write %1").arg(indexPath));
    lines << indexPath;
    return true;
}
