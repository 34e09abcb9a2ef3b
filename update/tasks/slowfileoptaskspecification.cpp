#include "slowfileoptaskspecification.h"

SlowFileOpFunc::SlowFileOpFunc(const QString& sourcePath, const QString& targetPath)
    : sourcePath(sourcePath), targetPath(targetPath)
{
}

SlowFileOpSpecification::SlowFileOpSpecification(const QString& failMessage, RollbackDataList* rollbackList,
                                                 const QString& sourcePath, const QString& targetPath,
                                                 QObject* parent, qreal parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange), rollbackList(rollbackList), sourcePath(sourcePath),
      targetPath(targetPath), failMessage(failMessage)
{
}

void SlowFileOpSpecification::runDone(bool ok)
{
    // A result for a run that was reset or has ended meanwhile changes nothing, not even
    // the journal.
    if (state == Running) {
        if (ok && rollbackList)
            rollbackList->add(RollbackData(RollbackData::CreateFile, targetPath));
        if (!ok)
            emit message(failMessage);
    }
    ASyncTaskSpecification::runDone(ok);
}
