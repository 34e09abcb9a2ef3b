#include "fastfileoptaskspecification.h"

FastFileOpTaskSpecification::FastFileOpTaskSpecification(const QString& fileName, RollbackDataList* rollbackList,
                                                         QObject* parent, qreal parentProgressRange)
    : TaskSpecification(parent, parentProgressRange), rollbackList(rollbackList), fileName(fileName)
{
}

void FastFileOpTaskSpecification::execute()
{
    state = Running;
    if (doOp())
        finish();
    else
        errorCancel();
}

void FastFileOpTaskSpecification::addRollbackOp(const RollbackData& entry)
{
    if (rollbackList)
        rollbackList->add(entry);
}
