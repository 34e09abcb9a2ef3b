#pragma once

#include "fastfileoptaskspecification.h"

// Creates a directory and its missing ancestors, outermost first, journalling each
// directory it actually created. An existing directory is left alone and not recorded.
class DirCreateTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT

public:
    DirCreateTaskSpecification(const QString& path, RollbackDataList* rollbackList, QObject* parent,
                               qreal parentProgressRange);

    bool tryCreateDir(const QString& path);

protected:
    bool doOp() override;
};
