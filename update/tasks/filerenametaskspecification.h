#pragma once

#include "fastfileoptaskspecification.h"

// Renames a file; fails if the new name exists. Journalled so that undo renames it back.
class FileRenameTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT

public:
    FileRenameTaskSpecification(const QString& oldPath, const QString& newPath, RollbackDataList* rollbackList,
                                QObject* parent, qreal parentProgressRange);

protected:
    bool doOp() override;

private:
    QString oldPath;
};
