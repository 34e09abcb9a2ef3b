#include "filedeletelisttaskspecification.h"

#include "configuration.h"
#include "filedeletetaskspecification.h"

#include <QDir>
#include <QFileInfo>

FileDeleteListTaskSpecification::FileDeleteListTaskSpecification(QList<QString>* fileList, QObject* parent,
                                                                 qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), fileList(fileList)
{
}

void FileDeleteListTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting deleting files"));
    makeSubtasksAndStart();
}

void FileDeleteListTaskSpecification::makeSubtasksAndStart()
{
    const QString root = Configuration::getAppRootPath();
    const qreal range = 1.0 / fileList->size();
    for (const QString& entry : std::as_const(*fileList))
        addSubTask(new FileDeleteTaskSpecification(false, QFileInfo(QDir(root), entry).filePath(), this, range));
    state = Running;
    executeSubTasks();
}

void FileDeleteListTaskSpecification::subtasksDone()
{
    removeEmptiedDirectories();
    ComposedTaskSpecification::subtasksDone();
}

// A release that drops the last file of a folder drops the folder too. Only folders of
// deleted files, and only when empty (rmdir), up to the installation directory.
void FileDeleteListTaskSpecification::removeEmptiedDirectories()
{
    const QDir root(Configuration::getAppRootPath());
    for (const QString& entry : std::as_const(*fileList)) {
        if (QFileInfo(entry).isAbsolute() || QFileInfo::exists(root.filePath(entry)))
            continue;
        for (QString dir = QFileInfo(entry).path(); dir != QLatin1String(".") && root.rmdir(dir);)
            dir = QFileInfo(dir).path();
    }
}

void FileDeleteListTaskSpecification::reset()
{
    clearSubTasks();
    TaskSpecification::reset();
}
