#include "filerenametaskspecification.h"

#include <QFile>

FileRenameTaskSpecification::FileRenameTaskSpecification(const QString& oldPath, const QString& newPath,
                                                         RollbackDataList* rollbackList, QObject* parent,
                                                         qreal parentProgressRange)
    : FastFileOpTaskSpecification(newPath, rollbackList, parent, parentProgressRange), oldPath(oldPath)
{
}

bool FileRenameTaskSpecification::doOp()
{
    if (QFile::rename(oldPath, fileName)) {
        addRollbackOp(RollbackData(RollbackData::Rename, oldPath, fileName));
        return true;
    }
    emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(oldPath, fileName));
    return false;
}
