#include "filecopytaskspecification.h"

#include "durability.h"

#include <QFile>

#include <unistd.h>

bool FileCopyFunc::run()
{
    // The source is a download of this update, which removes it afterwards: on the same
    // file system a hard link gives the same file at no cost. Elsewhere the bytes are copied.
    // Either way the data reaches the disk before the file can take an installed name
    // (durability.h).
    const bool made = ::link(QFile::encodeName(sourcePath).constData(), QFile::encodeName(targetPath).constData()) == 0 ||
                      QFile::copy(sourcePath, targetPath);
    if (made && flushFileData(targetPath))
        return true;
    if (made)
        QFile::remove(targetPath);
    return false;
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
