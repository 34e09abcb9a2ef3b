#pragma once

#include "slowfileoptaskspecification.h"

// Copies a file on the thread pool (a hard link where source and destination share a
// file system); never overwrites an existing destination.
class FileCopyFunc : public SlowFileOpFunc
{
    Q_OBJECT

public:
    using SlowFileOpFunc::SlowFileOpFunc;
    bool run() override;
};

class FileCopyTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT

public:
    FileCopyTaskSpecification(RollbackDataList* rollbackList, const QString& sourcePath, const QString& targetPath,
                              QObject* parent, qreal parentProgressRange);

protected:
    ASyncFunc* createFunction() override;
};
