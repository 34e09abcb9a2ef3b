#pragma once

#include "composedtaskspecification.h"

#include <QList>
#include <QString>

// Deletes every file of a list, one after the other, never failing on a file that
// cannot be deleted; then removes the directories of the installation that the
// deletions left empty. Relative names are taken below the installation directory. The
// list is read when the task runs, not when it is built.
class FileDeleteListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    FileDeleteListTaskSpecification(QList<QString>* fileList, QObject* parent, qreal parentProgressRange);

public slots:
    void execute() override;
    void reset() override;

protected slots:
    void subtasksDone() override;

private:
    void removeEmptiedDirectories();
    void makeSubtasksAndStart();

    QList<QString>* fileList; // not owned
};
