#pragma once

#include "rollback.h"
#include "taskspecification.h"

// A quick file operation, done synchronously inside execute(): the task ends before
// execute() returns. Subclasses do the work in doOp() and journal what they changed.
class FastFileOpTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    FastFileOpTaskSpecification(const QString& fileName, RollbackDataList* rollbackList, QObject* parent,
                                qreal parentProgressRange);

public slots:
    void execute() override;

protected:
    // Performs the operation; on failure emits its own message and returns false.
    virtual bool doOp() = 0;
    void addRollbackOp(const RollbackData& entry);

    RollbackDataList* rollbackList; // not owned; null: nothing is recorded
    QString fileName;
};
