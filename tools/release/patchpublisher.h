#pragma once

#include "filepatch.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// The patches of one release, in its mirror tree's patch folder (see FilePatch::folder and
// IndexEntry), which updaters that know nothing of patches never ask for. A patch is
// published only when it is smaller than three quarters of what the updater would download
// instead (the packed file for a packed entry). Writing the index keeps the patches an
// earlier run published for files this release still has, so patches can be added to a
// release later; patch files the index no longer lists go.
class PatchPublisher
{
public:
    PatchPublisher(const QString& releaseDir, int level);

    // A patch to try: from previousFile to file (whose MD5 is md5 and whose download is
    // downloadSize bytes), made when they differ and published when it is worth it.
    void add(const QString& previousFile, const QString& file, const QString& md5, qint64 downloadSize);
    // Makes the patches added, several at a time (one per core), and writes those worth it;
    // progress gets a line per patch. False on a failure.
    bool make(const std::function<void(const QString&)>& progress);
    // Writes the index: the patches made and those of an earlier run that make a file of
    // releaseMd5s; removes the patch files it does not list (the whole folder when it lists
    // none). False on a failure.
    bool writeIndex(const QSet<QString>& releaseMd5s);

    QString errorString() const { return error; }
    // One line per patch written.
    const QStringList& log() const { return lines; }
    // What the patches made cost and save, in bytes.
    int made() const { return int(entries.size()); }
    qint64 patchBytes() const;

private:
    struct Job
    {
        QString previousFile;
        QString file;
        QString md5;
        qint64 downloadSize;
        // Filled by the job:
        FilePatch::IndexEntry entry;
        QByteArray patch; // empty: none worth publishing
        QString error;
    };
    void run(Job& job) const;
    bool fail(const QString& text);
    QString patchPath(const FilePatch::IndexEntry& entry) const;

    QString patchDir;
    int level;
    QList<Job> jobs;
    QHash<QString, FilePatch::IndexEntry> entries; // by key
    QString error;
    QStringList lines;
};
