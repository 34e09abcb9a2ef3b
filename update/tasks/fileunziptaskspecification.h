#pragma once

#include "slowfileoptaskspecification.h"

// Unpacks a gzip file on the thread pool (a file that is not gzip-compressed is copied
// as it is). A failed unpack leaves no destination behind.
class FileUnzipFunc : public SlowFileOpFunc
{
    Q_OBJECT

public:
    static constexpr int bufferSize = 16384;

    using SlowFileOpFunc::SlowFileOpFunc;
    bool run() override;
    // Note the order: destination first.
    static bool unzipFile(const QString& destination, const QString& source);
};

class FileUnzipTaskSpecification : public SlowFileOpSpecification
{
    Q_OBJECT

public:
    FileUnzipTaskSpecification(RollbackDataList* rollbackList, const QString& sourcePath, const QString& targetPath,
                               QObject* parent, qreal parentProgressRange);

protected:
    ASyncFunc* createFunction() override;
};
