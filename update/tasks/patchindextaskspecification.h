#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Before the downloads: fetches the release's patch index (FilePatch::IndexEntry) once, and gives each download whose installed copy is the
// base of a patch that makes the file that patch, when it is smaller than the download.
// Without a download that has an installed copy, nothing is fetched; a mirror without an
// index is not charged, and the downloads stay whole.
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

    QList<FileDownloadSpecification>* downloadList; // not owned
    QNetworkAccessManager* networkManager;          // not owned
    Mirrors* mirrors;                               // not owned
    Configuration* configuration;                   // not owned
    DownloadTaskSpecification* download = nullptr;  // owned as a sub-task
};
