#include "filereplacelisttaskspecification.h"

#include "durability.h"

#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filereplacetaskspecification.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

namespace {

constexpr qreal subdirShare = 0.1;

} // namespace

FileReplaceListTaskSpecification::FileReplaceListTaskSpecification(QList<FileReplaceSpecification>* replaces,
                                                                   QList<QString>* deletes,
                                                                   Configuration* configuration, QObject* parent,
                                                                   double progressRange)
    : ComposedTaskSpecification(2, progressRange, parent), replaces(replaces), deletes(deletes),
      configuration(configuration)
{
}

void FileReplaceListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting file updates"));
    makeSubtasksAndStart();
}

void FileReplaceListTaskSpecification::makeSubtasksAndStart()
{
    makeFileReplaceTasks(makeSubdirTasks() > 0);
    state = Running;
    executeSubTasks();
}

int FileReplaceListTaskSpecification::makeSubdirTasks()
{
    const QDir appRoot(Configuration::getAppRootPath());
    QSet<QString> seen;
    QStringList missing;
    for (const FileReplaceSpecification& file : std::as_const(*replaces)) {
        const QString directory = QFileInfo(QFileInfo(appRoot, file.destFileName(QString())).filePath()).path();
        if (seen.contains(directory))
            continue;
        seen.insert(directory);
        if (!QFileInfo::exists(directory))
            missing.append(directory);
    }
    missing.sort();
    for (const QString& directory : std::as_const(missing))
        addSubTask(new DirCreateTaskSpecification(directory, &installJournal, this, subdirShare / missing.size()));
    return int(missing.size());
}

void FileReplaceListTaskSpecification::makeFileReplaceTasks(bool withSubdirTasks)
{
    const qreal share = (withSubdirTasks ? 1.0 - subdirShare : 1.0) / replaces->size();
    for (FileReplaceSpecification& file : *replaces)
        addSubTask(new FileReplaceTaskSpecification(file, deletes, &installJournal, configuration, this, share));
}

void FileReplaceListTaskSpecification::subtasksDone()
{
    if (getStateFromSubTasks() != Finished) {
        emit message(QStringLiteral("rolling back file updates"));
        installJournal.rollback(this);
    } else {
        // Undoing a finished installation would delete new files with nothing to restore
        // once the set-aside copies are gone.
        installJournal.clear();
        flushChangedDirectories();
    }
    ComposedTaskSpecification::subtasksDone();
}

// Step 3 of durability.h: the new names reach the disk before the deletions that follow.
// The directory of every installed file and its ancestors (new ones among them) up to the
// installation directory.
void FileReplaceListTaskSpecification::flushChangedDirectories()
{
    const QDir appRoot(Configuration::getAppRootPath());
    QSet<QString> directories;
    for (const FileReplaceSpecification& file : std::as_const(*replaces)) {
        for (QString directory = QFileInfo(file.destFileName(QString())).path(); !directories.contains(directory);
             directory = QFileInfo(directory).path()) {
            directories.insert(directory);
            if (directory == QLatin1String("."))
                break;
        }
    }
    for (const QString& directory : std::as_const(directories)) {
        if (!flushDirectory(appRoot.filePath(directory)))
            emit message(QStringLiteral("warning: could not flush the directory %1 to the disk")
                             .arg(appRoot.filePath(directory)));
    }
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    installJournal.rollback(this);
    TaskSpecification::reset();
}
