#include "downloadfilelisttaskspecification.h"

#include "configuration.h"
#include "downloadfiletaskspecification.h"
#include "mirrors.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

DownloadFileListTaskSpecification::DownloadFileListTaskSpecification(QList<FileDownloadSpecification>* downloadList,
                                                                     QNetworkAccessManager* networkManager,
                                                                     Mirrors* mirrors, Configuration* configuration,
                                                                     QObject* parent, qreal parentProgressRange)
    : ComposedTaskSpecification(configuration->downloadConcurrency, parentProgressRange, parent),
      downloadList(downloadList), networkManager(networkManager), mirrors(mirrors), configuration(configuration)
{
    // The registry keeps the downloads to the streams the user allows (a download on a
    // connection of its own takes one). Once a mirror carries streams over HTTP/2, as many
    // files run as such connections could carry; until then, no more than could download.
    mirrors->setStreams(configuration->downloadConcurrency);
    connect(mirrors, &Mirrors::multiplexedMirrorFound, this, [this] {
        raiseMaxParallel(this->configuration->downloadConcurrency * Mirrors::downloadsPerConnection);
    });
}

void DownloadFileListTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileListTaskSpecification::makeSubtasksAndStart()
{
    if (downloadList->isEmpty()) {
        emit message(QStringLiteral("No downloads needed"));
        finish();
        return;
    }
    if (!makeSubDirs())
        return;
    emit message(QStringLiteral("Downloading files"));
    const qreal share = 1.0 / downloadList->size();
    for (const FileDownloadSpecification& fileSpec : std::as_const(*downloadList))
        addSubTask(new DownloadFileTaskSpecification(fileSpec, networkManager, mirrors, configuration, &patchFailures,
                                                     this, share));
    state = Running;
    executeSubTasks();
}

bool DownloadFileListTaskSpecification::makeSubDirs()
{
    QSet<QString> made{QStringLiteral(".")};
    const QDir tempDir(configuration->tempDir);
    for (const FileDownloadSpecification& fileSpec : std::as_const(*downloadList)) {
        const QString directory = QFileInfo(fileSpec.relativePath).path();
        if (made.contains(directory))
            continue;
        if (!tempDir.mkpath(directory)) {
            emit message(QStringLiteral("Could not create dir %1")
                             .arg(tempDir.canonicalPath() + QLatin1Char('/') + directory));
            errorCancel();
            return false;
        }
        made.insert(directory);
    }
    return true;
}

void DownloadFileListTaskSpecification::reset()
{
    clearSubTasks();
    patchFailures = PatchFailures();
    TaskSpecification::reset();
}

void DownloadFileListTaskSpecification::timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed,
                                                 bool& downloading)
{
    ComposedTaskSpecification::timeTick(downloadDone, downloadTotal, speed, downloading);
    // Every listed file counts from the start, a patched one with its patch's size (the
    // whole file's once its patch was dropped).
    downloadTotal = 0;
    for (const TaskSpecification* file : subTasks())
        downloadTotal += static_cast<const DownloadFileTaskSpecification*>(file)->bytesToFetch();
}
