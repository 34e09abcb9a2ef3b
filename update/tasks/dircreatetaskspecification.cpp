#include "dircreatetaskspecification.h"

#include <QDir>
#include <QFileInfo>

DirCreateTaskSpecification::DirCreateTaskSpecification(const QString& path, RollbackDataList* rollbackList,
                                                       QObject* parent, qreal parentProgressRange)
    : FastFileOpTaskSpecification(path, rollbackList, parent, parentProgressRange)
{
}

bool DirCreateTaskSpecification::doOp()
{
    return tryCreateDir(fileName);
}

bool DirCreateTaskSpecification::tryCreateDir(const QString& path)
{
    const QFileInfo info(path);
    if (info.exists()) {
        if (info.isDir())
            return true;
        emit message(QStringLiteral("Could not create dir '%1' because it already exists and is not a dir").arg(path));
        return false;
    }

    const QString parentPath = info.path();
    if (parentPath == QLatin1String(".") || QDir(path).isRoot()) {
        // Names the task's own path, also deep in the recursion.
        emit message(QStringLiteral("Could not create dir %1").arg(fileName));
        return false;
    }
    if (!QFileInfo::exists(parentPath) && !tryCreateDir(parentPath))
        return false;

    if (QDir(parentPath).mkdir(QDir(path).dirName())) {
        addRollbackOp(RollbackData(RollbackData::CreateDir, path));
        return true;
    }
    emit message(QStringLiteral("unable to create dir %1").arg(path));
    return false;
}
