#pragma once

#include "filepatch.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// The patches of one release, in its mirror tree's patch folder (see FilePatch::folder and
// IndexEntry), which updaters that know nothing of patches never ask for. A patch is
// published only when it is smaller than three quarters of what the updater would download
// instead (the packed file for a packed entry). Writing the index keeps the patches an
// earlier run published for files this release still has, so patches can be added to a
// release later.
class PatchPublisher
{
public:
    PatchPublisher(const QString& releaseDir, int level);

    // A patch from previousFile to file (whose MD5 is md5 and whose download is
    // downloadSize bytes), when they differ and the patch is worth it. False on a failure.
    bool add(const QString& previousFile, const QString& file, const QString& md5, qint64 downloadSize);
    // Writes the index: this run's patches and those of an earlier run that make a file
    // of releaseMd5s. False on a failure.
    bool writeIndex(const QSet<QString>& releaseMd5s);

    QString errorString() const { return error; }
    // One line per patch written.
    const QStringList& log() const { return lines; }

private:
    bool fail(const QString& text);
    QString patchPath(const FilePatch::IndexEntry& entry) const;

    QString patchDir;
    int level;
    QHash<QString, FilePatch::IndexEntry> entries; // by key
    QString error;
    QStringList lines;
};
