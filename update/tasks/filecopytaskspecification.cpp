#include "filecopytaskspecification.h"

#include <QFile>

#include <unistd.h>

bool FileCopyFunc::run()
{
    // The source is a download of this update, which removes it afterwards: on the same
    // file system a hard link gives the same file at no cost. Elsewhere the bytes are copied.
    if (::link(QFile::encodeName(sourcePath).constData(), QFile::encodeName(targetPath).constData()) == 0)
        return true;
    return QFile::copy(sourcePath, targetPath);
}

FileCopyTaskSpecification::FileCopyTaskSpecification(RollbackDataList* rollbackList, const QString& sourcePath,
                                                     const QString& targetPath, QObject* parent,
                                                     qreal parentProgressRange)
    : SlowFileOpSpecification(QStringLiteral("Could not copy '%1' to '%2'").arg(sourcePath, targetPath), rollbackList,
                              sourcePath, targetPath, parent, parentProgressRange)
{
}

ASyncFunc* FileCopyTaskSpecification::createFunction()
{
    return new FileCopyFunc(sourcePath, targetPath);
}
