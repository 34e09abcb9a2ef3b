#pragma once

#include "asynctaskspecification.h"
#include "rollback.h"

// The body of a slow file operation: reads sourcePath, writes targetPath.
class SlowFileOpFunc : public ASyncFunc
{
    Q_OBJECT

public:
    SlowFileOpFunc(const QString& sourcePath, const QString& targetPath);

protected:
    QString sourcePath;
    QString targetPath;
};

// A slow file operation on the thread pool that creates targetPath. On success the new
// file is journalled (undo removes it); on failure failMessage goes to the detail log.
class SlowFileOpSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    SlowFileOpSpecification(const QString& failMessage, RollbackDataList* rollbackList, const QString& sourcePath,
                            const QString& targetPath, QObject* parent, qreal parentProgressRange);

protected:
    void runDone(bool ok) override;

    RollbackDataList* rollbackList; // not owned; null: nothing is recorded
    QString sourcePath;
    QString targetPath;
    QString failMessage;
};
