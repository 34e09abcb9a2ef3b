#include "patchindextaskspecification.h"

#include "configuration.h"
#include "downloadtaskspecification.h"
#include "sessionentry.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QRegularExpression>

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
    download = new DownloadTaskSpecification(networkManager, mirrors, remoteFolder() + QLatin1String("/index"),
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
    static const QRegularExpression line(QStringLiteral("^([0-9a-f]{32}) ([0-9a-f]{32}) ([0-9]{1,18}) ([0-9a-f]{32})$"));
    QHash<QString, FilePatchSpecification> patches; // by "TARGET BASE"
    for (const QByteArray& text : index.read(maxIndexBytes).split('\n')) {
        const QRegularExpressionMatch entry = line.match(QString::fromLatin1(text.trimmed()));
        if (entry.hasMatch())
            patches.insert(entry.captured(1) + QLatin1Char(' ') + entry.captured(2),
                           {entry.captured(1) + QLatin1Char('-') + entry.captured(2) + QLatin1String(".zst"),
                            entry.captured(3).toULongLong(), entry.captured(4)});
    }
    int assigned = 0;
    for (FileDownloadSpecification& file : *downloadList) {
        const auto patch = patches.constFind(file.resultMd5 + QLatin1Char(' ') + file.installedMd5);
        if (patch != patches.cend() && patch->size < file.size) {
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
