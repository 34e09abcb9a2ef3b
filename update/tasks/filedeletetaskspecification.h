#pragma once

#include "fastfileoptaskspecification.h"

// Deletes a file. Only a strict deletion can fail; deletions are never journalled.
class FileDeleteTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT

public:
    FileDeleteTaskSpecification(bool strict, const QString& path, QObject* parent, qreal parentProgressRange);

protected:
    bool doOp() override;

private:
    bool strict;
};
