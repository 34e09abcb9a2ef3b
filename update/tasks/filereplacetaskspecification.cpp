#include "filereplacetaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "filecopytaskspecification.h"
#include "filedeletetaskspecification.h"
#include "fileswaptaskspecification.h"
#include "fileunziptaskspecification.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr qreal staleCopyShare = 0.1;
constexpr qreal swapShare = 0.1;
constexpr qreal checkShare = 0.2;

} // namespace

const QStringList FileReplaceTaskSpecification::executableFiles = {
    QStringLiteral("vx5client_linux_x86"), QStringLiteral("vx5client_linux_amd64"),
    QStringLiteral("vx5client_runscript.sh"), QStringLiteral("update"),
    QStringLiteral("error_report"), QStringLiteral("package_inst")};
const QStringList FileReplaceTaskSpecification::executableSuffixes = {QStringLiteral("so"), QStringLiteral("so.4")};
const QString FileReplaceTaskSpecification::stagingPrefix = QStringLiteral("_new_");

FileReplaceTaskSpecification::FileReplaceTaskSpecification(FileReplaceSpecification& file, QList<QString>* deletes,
                                                           RollbackDataList* sharedJournal,
                                                           Configuration* configuration, QObject* parent,
                                                           double progressRange)
    : ComposedTaskSpecification(1, progressRange, parent), file(file), deletes(deletes), sharedJournal(sharedJournal),
      configuration(configuration)
{
}

bool FileReplaceTaskSpecification::isExecutableFileName(const QString& fileName)
{
    return executableFiles.contains(fileName) || executableSuffixes.contains(QFileInfo(fileName).completeSuffix());
}

void FileReplaceTaskSpecification::execute()
{
    emit message(QStringLiteral("add/replace %1").arg(file.relativePath));
    makeSubtasksAndStart();
}

void FileReplaceTaskSpecification::makeSubtasksAndStart()
{
    const QDir appRoot(Configuration::getAppRootPath());
    const QString source = QFileInfo(QDir(configuration->tempDir), file.relativePath).filePath();
    const QString dest = QFileInfo(appRoot, file.destFileName(QString())).filePath();
    const QString old = QFileInfo(appRoot, file.oldDestFileName()).filePath();
    const QString staged = QFileInfo(appRoot, file.destFileName(stagingPrefix)).filePath();

    qreal remaining = 1.0 - swapShare;
    movedAside = QFileInfo::exists(dest) || QFileInfo(dest).isSymLink(); // a dangling link is kept too
    if (movedAside && QFileInfo::exists(old)) {
        // Left over from an earlier update; not journalled, it is not restored.
        addSubTask(new FileDeleteTaskSpecification(true, old, this, staleCopyShare));
        remaining -= staleCopyShare;
    }
    if (QFileInfo::exists(staged)) // an interrupted installation's unfinished copy
        addSubTask(new FileDeleteTaskSpecification(true, staged, this, 0.0));

    // A packed file a patch made lies unpacked beside where its download would be.
    const QString patched = source + FileDownloadSpecification::unpackedSuffix();
    if (file.hasUnzip() && QFileInfo(patched).isFile()) {
        addSubTask(new FileCopyTaskSpecification(&fileJournal, patched, staged, this, remaining - checkShare));
        addSubTask(new CheckSignatureTaskSpecification(staged, file.unzippedMd5, true, this, checkShare));
    } else if (file.hasUnzip()) {
        addSubTask(new FileUnzipTaskSpecification(&fileJournal, source, staged, this, remaining - checkShare));
        addSubTask(new CheckSignatureTaskSpecification(staged, file.unzippedMd5, true, this, checkShare));
    } else {
        addSubTask(new FileCopyTaskSpecification(&fileJournal, source, staged, this, remaining));
    }
    addSubTask(new FileSwapTaskSpecification(staged, dest, movedAside ? old : QString(),
                                             isExecutableFileName(QFileInfo(dest).fileName()), &fileJournal, this,
                                             swapShare));
    state = Running;
    executeSubTasks();
}

void FileReplaceTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() == Finished) {
        sharedJournal->appendList(fileJournal);
        fileJournal.clear(); // the list task undoes this file from now on
        const QString fileName = QFileInfo(file.pureDestFilePath()).fileName();
        if (movedAside && !Configuration::isSpecialFileName(fileName))
            deletes->append(file.oldDestFileName());
    } else {
        fileJournal.rollback(this);
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceTaskSpecification::reset()
{
    clearSubTasks();
    fileJournal.rollback(this);
    movedAside = false;
    TaskSpecification::reset();
}
