#include "downloadfiletaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "mirrors.h"
#include "patchapplytaskspecification.h"
#include "patchindextaskspecification.h"
#include "sessionentry.h"

namespace {

constexpr qreal downloadShare = 0.8;
constexpr qreal checkShare = 0.2;
// A patch's: download, check (checkShare) and application.
constexpr qreal patchDownloadShare = 0.6;
constexpr qreal applyShare = 0.2;

} // namespace

DownloadFileTaskSpecification::DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec,
                                                             QNetworkAccessManager* networkManager,
                                                             Mirrors* mirrors, Configuration* configuration,
                                                             PatchFailures* patchFailures, QObject* parent,
                                                             qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), fileSpec(fileSpec), networkManager(networkManager),
      mirrors(mirrors), configuration(configuration), patchFailures(patchFailures)
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
    patchDropped = patchDropped || patchFailures->givenUp();
    if (usesPatch()) {
        makePatchSubtasks();
        return;
    }
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

void DownloadFileTaskSpecification::makePatchSubtasks()
{
    const QString local = PatchIndexTaskSpecification::localPatch(fileSpec);
    for (const QString& line : clearSessionPath(configuration->tempDir, local))
        emit message(line);
    const QString localPath = configuration->tempDir + QLatin1Char('/') + local;
    downloadTask = new DownloadTaskSpecification(networkManager, mirrors,
                                                 FilePatch::folder() + QLatin1Char('/') + fileSpec.patch.fileName(),
                                                 localPath, fileSpec.patch.size, this, patchDownloadShare);
    downloadTask->setOptional(true);
    addSubTask(downloadTask);

    auto* check = new CheckSignatureTaskSpecification(localPath, fileSpec.patch.md5, false, this, checkShare);
    DownloadTaskSpecification* download = downloadTask;
    // A patch that could not be fetched fails at once, without looking for the file.
    check->setKnownMd5([download] { return download->unavailable() ? QStringLiteral("none") : download->downloadedMd5(); });
    connect(check, &CheckSignatureTaskSpecification::checkDone, this, &DownloadFileTaskSpecification::onPatchCheckDone);
    addSubTask(check);

    auto* apply = new PatchApplyTaskSpecification(fileSpec, configuration->tempDir, this, applyShare);
    connect(apply, &PatchApplyTaskSpecification::applyDone, this, &DownloadFileTaskSpecification::onPatchApplied);
    addSubTask(apply);

    state = Running;
    executeSubTasks();
}

void DownloadFileTaskSpecification::onPatchCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    if (pass || endIfCancelRequested(check))
        return;
    if (!downloadTask->unavailable())
        emit message(QStringLiteral("The patch for %1 is not the one the index lists").arg(fileSpec.relativePath));
    dropPatch();
}

void DownloadFileTaskSpecification::onPatchApplied(bool applied, PatchApplyTaskSpecification* apply)
{
    if (applied || endIfCancelRequested(apply))
        return;
    dropPatch();
}

void DownloadFileTaskSpecification::dropPatch()
{
    emit message(QStringLiteral("%1 is fetched whole").arg(fileSpec.relativePath));
    if (patchFailures->add())
        emit message(QStringLiteral("%1 patches failed: the rest of the update fetches whole files")
                         .arg(PatchFailures::maxFailures));
    patchDropped = true;
    reset();
    makeSubtasksAndStart();
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
