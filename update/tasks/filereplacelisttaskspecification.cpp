#include "filereplacelisttaskspecification.h"

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
    }
    ComposedTaskSpecification::subtasksDone();
}

void FileReplaceListTaskSpecification::reset()
{
    clearSubTasks();
    installJournal.rollback(this);
    TaskSpecification::reset();
}
