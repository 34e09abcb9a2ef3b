#include "patchpublisher.h"

#include "filepatch.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QThread>
#include <QThreadPool>

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

void PatchPublisher::add(const QString& previousFile, const QString& file, const QString& md5, qint64 downloadSize)
{
    jobs.append({previousFile, file, md5, downloadSize, {}, {}, {}});
}

void PatchPublisher::run(Job& job) const
{
    QByteArray base;
    QByteArray target;
    if (!readAll(job.previousFile, &base)) {
        job.error = QStringLiteral("Could not read %1").arg(job.previousFile);
        return;
    }
    job.entry = {job.md5, md5Of(base), 0, {}};
    if (job.entry.base == job.md5)
        return; // unchanged
    if (!readAll(job.file, &target)) {
        job.error = QStringLiteral("Could not read %1").arg(job.file);
        return;
    }
    // A fast attempt first: what it cannot make smaller than the download is new content
    // (random, compressed, encrypted) that no slower level helps much, and high levels take
    // a second per megabyte of such data.
    QString reason;
    const QByteArray probe = FilePatch::make(base, target, qMin(level, probeLevel), &reason);
    const QByteArray patch = probe.isEmpty() || probe.size() >= job.downloadSize || level <= probeLevel
                                 ? probe
                                 : FilePatch::make(base, target, level, &reason);
    if (patch.isEmpty())
        job.error = QStringLiteral("Could not make a patch from %1 to %2: %3").arg(job.previousFile, job.file, reason);
    else if (patch.size() * 4 < job.downloadSize * 3)
        job.patch = patch;
}

bool PatchPublisher::make(const std::function<void(const QString&)>& progress)
{
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    for (Job& job : jobs) {
        pool.start([this, &job, &progress] {
            run(job);
            if (!job.patch.isEmpty())
                progress(QStringLiteral("patched %1 from %2: %3 of %4 bytes (%5%)")
                             .arg(job.file, job.previousFile)
                             .arg(job.patch.size())
                             .arg(job.downloadSize)
                             .arg(100.0 * double(job.patch.size()) / double(job.downloadSize), 0, 'f', 1));
        });
    }
    pool.waitForDone();
    for (Job& job : jobs) {
        if (!job.error.isEmpty())
            return fail(job.error);
        if (job.patch.isEmpty() || entries.contains(job.entry.key()))
            continue;
        job.entry.size = job.patch.size();
        job.entry.md5 = md5Of(job.patch);
        const QString path = patchPath(job.entry);
        if (!QDir().mkpath(patchDir) || !writeAll(path, job.patch))
            return fail(QStringLiteral("Could not write %1").arg(path));
        entries.insert(job.entry.key(), job.entry);
        lines << QStringLiteral("%1 (from %2: %3 of %4 bytes)")
                     .arg(path, job.previousFile)
                     .arg(job.patch.size())
                     .arg(job.downloadSize);
    }
    jobs.clear();
    return true;
}

qint64 PatchPublisher::patchBytes() const
{
    qint64 total = 0;
    for (const FilePatch::IndexEntry& entry : entries)
        total += entry.size;
    return total;
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
        return !QFileInfo::exists(patchDir) || QDir(patchDir).removeRecursively() ||
               fail(QStringLiteral("Could not remove %1").arg(patchDir));
    // Patches the index does not list help no one.
    QSet<QString> listed{FilePatch::indexName()};
    for (const FilePatch::IndexEntry& listedEntry : std::as_const(entries))
        listed.insert(listedEntry.fileName());
    for (const QString& name : QDir(patchDir).entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        if (!listed.contains(name) && !QFile::remove(QDir(patchDir).filePath(name)))
            return fail(QStringLiteral("Could not remove %1").arg(QDir(patchDir).filePath(name)));
    }
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
