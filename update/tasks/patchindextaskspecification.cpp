#include "patchindextaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "sessionentry.h"

#include <QFile>
#include <QSet>

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
    download->setOptional(true);
    addSubTask(download);
    state = Running;
    executeSubTasks();
}

void PatchIndexTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == Finished && !download->unavailable())
        assignPatches(configuration->tempDir + QLatin1Char('/') + localIndex());
    ComposedTaskSpecification::subtasksDone();
}

QHash<QString, FilePatch::IndexEntry> PatchIndexTaskSpecification::neededPatches(QFile& index) const
{
    QHash<QString, FilePatch::IndexEntry> patches; // by key
    for (const FileDownloadSpecification& file : std::as_const(*downloadList)) {
        if (!file.installedMd5.isEmpty())
            patches.insert(FilePatch::IndexEntry{file.resultMd5, file.installedMd5, 0, {}}.key(), {});
    }
    QSet<QString> listed;
    // A line longer than any index line is read in pieces, none of which parses.
    char line[256];
    FilePatch::IndexEntry entry;
    while (index.readLine(line, sizeof line) > 0) {
        if (!FilePatch::IndexEntry::parse(QByteArray::fromRawData(line, qsizetype(qstrlen(line))), &entry))
            continue;
        const auto patch = patches.find(entry.key());
        if (patch == patches.end())
            continue;
        if (!listed.contains(entry.key()))
            *patch = entry;
        else if (patch->size != entry.size || patch->md5 != entry.md5)
            *patch = {}; // two patches for one file: trusting either could waste the download
        listed.insert(entry.key());
    }
    return patches;
}

void PatchIndexTaskSpecification::assignPatches(const QString& indexPath)
{
    QFile index(indexPath);
    if (!index.open(QIODevice::ReadOnly))
        return;
    const QHash<QString, FilePatch::IndexEntry> patches = neededPatches(index);
    int assigned = 0;
    for (FileDownloadSpecification& file : *downloadList) {
        const auto patch = patches.constFind(FilePatch::IndexEntry{file.resultMd5, file.installedMd5, 0, {}}.key());
        if (patch != patches.cend() && !patch->target.isEmpty() && patch->size > 0 && quint64(patch->size) < file.size) {
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
