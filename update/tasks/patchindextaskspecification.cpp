#include "patchindextaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "sessionentry.h"

#include <QFile>
#include <QHash>

#include <algorithm>

PatchIndexTaskSpecification::PatchIndexTaskSpecification(QList<FileDownloadSpecification>* downloadList,
                                                         QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                                         Configuration* configuration, QObject* parent,
                                                         qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), downloadList(downloadList),
      networkManager(networkManager), mirrors(mirrors), configuration(configuration)
{
}

void PatchIndexTaskSpecification::execute()
{
    const bool anyInstalled = std::any_of(downloadList->cbegin(), downloadList->cend(),
                                          [](const FileDownloadSpecification& file) {
                                              return !file.installedMd5.isEmpty();
                                          });
    for (const QString& line : clearSessionPath(configuration->tempDir, localIndex()))
        emit message(line);
    if (!anyInstalled) {
        finish();
        return;
    }
    download = new DownloadTaskSpecification(networkManager, mirrors,
                                             FilePatch::folder() + QLatin1Char('/') + FilePatch::indexName(),
                                             configuration->tempDir + QLatin1Char('/') + localIndex(), -1, this, 1.0);
    download->setSizeLimit(maxIndexBytes);
    download->setResumeAllowed(false);
    download->setMissingAllowed(true);
    addSubTask(download);
    state = Running;
    executeSubTasks();
}

void PatchIndexTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == Finished && !download->wasMissing())
        assignPatches(configuration->tempDir + QLatin1Char('/') + localIndex());
    ComposedTaskSpecification::subtasksDone();
}

void PatchIndexTaskSpecification::assignPatches(const QString& indexPath)
{
    QFile index(indexPath);
    if (!index.open(QIODevice::ReadOnly))
        return;
    QHash<QString, FilePatch::IndexEntry> patches; // by key
    FilePatch::IndexEntry entry;
    for (const QByteArray& text : index.read(maxIndexBytes).split('\n')) {
        if (FilePatch::IndexEntry::parse(text, &entry))
            patches.insert(entry.key(), entry);
    }
    int assigned = 0;
    for (FileDownloadSpecification& file : *downloadList) {
        const auto patch = patches.constFind(FilePatch::IndexEntry{file.resultMd5, file.installedMd5, 0, {}}.key());
        if (patch != patches.cend() && quint64(patch->size) < file.size) {
            file.patch = *patch;
            ++assigned;
        }
    }
    emit message(QStringLiteral("Patches for %1 of %2 files").arg(assigned).arg(downloadList->size()));
}

void PatchIndexTaskSpecification::reset()
{
    clearSubTasks();
    download = nullptr;
    TaskSpecification::reset();
}
