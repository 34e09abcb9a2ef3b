#include "downloadfiletaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "mirrors.h"
#include "sessionentry.h"

namespace {

constexpr qreal downloadShare = 0.8;
constexpr qreal checkShare = 0.2;

} // namespace

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec,
                                                             QNetworkAccessManager* networkManager,
                                                             Mirrors* mirrors, Configuration* configuration,
                                                             QObject* parent, qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), fileSpec(fileSpec), networkManager(networkManager),
      mirrors(mirrors), configuration(configuration)
{
}

void DownloadFileTaskSpecification::execute()
{
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::makeSubtasksAndStart()
{
    for (const QString& line : clearSessionPath(configuration->tempDir, fileSpec.relativePath))
        emit message(line);
    const QString localPath = configuration->tempDir + QLatin1Char('/') + fileSpec.relativePath;
    downloadTask = new DownloadTaskSpecification(networkManager, mirrors,
                                                 fileSpec.section + QLatin1Char('/') + fileSpec.relativePath,
                                                 localPath, qint64(qMin<quint64>(fileSpec.size, INT64_MAX)), this, downloadShare);
    downloadTask->setResumeAllowed(!fetchWhole);
    addSubTask(downloadTask);

    auto* check = new CheckSignatureTaskSpecification(localPath, fileSpec.md5, false, this, checkShare);
    DownloadTaskSpecification* download = downloadTask;
    check->setKnownMd5([download] { return download->downloadedMd5(); });
    connect(check, &CheckSignatureTaskSpecification::checkDone, this, &DownloadFileTaskSpecification::onSigCheckDone);
    addSubTask(check);

    state = Running;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    if (pass || endIfCancelRequested(check))
        return;
    if (downloadTask->wasResumed()) {
        // The bad bytes may be an earlier attempt's, from another mirror: the file is
        // fetched whole before its mirror is blamed.
        emit message(QStringLiteral("md5 sum for %1 failed after continuing it, fetching it whole")
                         .arg(fileSpec.relativePath));
        fetchWhole = true;
    } else {
        emit message(QStringLiteral("md5 sum for %1 failed, invalidating mirror and retrying").arg(fileSpec.relativePath));
        mirrors->removeMirror(downloadTask->usedMirror().name);
    }
    reset();
    makeSubtasksAndStart();
}

void DownloadFileTaskSpecification::reset()
{
    clearSubTasks();
    downloadTask = nullptr;
    TaskSpecification::reset();
}
