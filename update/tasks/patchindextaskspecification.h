#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

#include <QHash>

class QFile;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Before the downloads: fetches the release's patch index (FilePatch::IndexEntry) once, and
// gives each download whose installed copy is the base of a patch that makes the file that
// patch, when it is smaller than the download. Without a download that has an installed
// copy, nothing is fetched. The index only saves work: whatever goes wrong with it (any
// status, a network error, more than maxIndexBytes) charges no mirror and means no patches.
// It is read as a stream, keeping only the lines a download needs; a patch listed twice
// with other figures is not trusted at all.
class PatchIndexTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    // An index larger than this is not read.
    static constexpr qint64 maxIndexBytes = 4 << 20;
    // Below the temporary directory: the index, and each file's patch under the file's own
    // path (two files may share a patch; each downloads its own copy).
    static QString localIndex() { return QStringLiteral(".patches/index"); }
    static QString localPatch(const FileDownloadSpecification& file)
    {
        return QLatin1String(".patches/") + file.relativePath + QLatin1String(".zst");
    }

    PatchIndexTaskSpecification(QList<FileDownloadSpecification>* downloadList, QNetworkAccessManager* networkManager,
                                Mirrors* mirrors, Configuration* configuration, QObject* parent,
                                qreal parentProgressRange);

public slots:
    void execute() override;
    void reset() override;

protected slots:
    void subtasksDone() override;

private:
    void assignPatches(const QString& indexPath);
    // The patches the index lists for the downloads (by key); those listed twice with other
    // figures come out empty.
    QHash<QString, FilePatch::IndexEntry> neededPatches(QFile& index) const;

    QList<FileDownloadSpecification>* downloadList; // not owned
    QNetworkAccessManager* networkManager;          // not owned
    Mirrors* mirrors;                               // not owned
    Configuration* configuration;                   // not owned
    DownloadTaskSpecification* download = nullptr;  // owned as a sub-task
};
