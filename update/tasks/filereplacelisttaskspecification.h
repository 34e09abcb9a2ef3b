#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"
#include "rollback.h"

class Configuration;

// Installs every downloaded file: first the missing directories, then one file task per
// file, two at a time. If anything fails or the user cancels, everything this task
// changed is undone. A finished installation is never undone: its journal is dropped.
class FileReplaceListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    FileReplaceListTaskSpecification(QList<FileReplaceSpecification>* replaces, QList<QString>* deletes,
                                     Configuration* configuration, QObject* parent, double progressRange);

public slots:
    void execute() override;
    void reset() override;

protected slots:
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();
    int makeSubdirTasks();
    void makeFileReplaceTasks(bool withSubdirTasks);
    void flushChangedDirectories();

    QList<FileReplaceSpecification>* replaces; // not owned: the main plan's list
    QList<QString>* deletes;                   // not owned: the main plan's list
    RollbackDataList installJournal;
    Configuration* configuration;              // not owned
};
