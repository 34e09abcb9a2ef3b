#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"
#include "rollback.h"

#include <QStringList>

class Configuration;

// Installs one downloaded file: copies or unpacks it into a staged file beside its
// destination (checking an unpacked file's MD5), then swaps it in, keeping the installed
// copy under its "_old_" name. Steps run one at a time; a failing step undoes this
// file's steps at once. On success the file's journal moves to the shared journal of
// the whole installation and the set-aside copy is queued for deletion (not for the
// files the running updater uses, which the next start removes).
class FileReplaceTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    static const QStringList executableFiles;
    static const QStringList executableSuffixes;
    // The prefix of the staged file: the new content before it takes the file's name.
    static const QString stagingPrefix;

    FileReplaceTaskSpecification(FileReplaceSpecification& file, QList<QString>* deletes,
                                 RollbackDataList* sharedJournal, Configuration* configuration, QObject* parent,
                                 double progressRange);

    // Whether an installed file of this name gets mode 0755: a program of the client or a
    // library ("so", "so.4" after the first dot of the name).
    static bool isExecutableFileName(const QString& fileName);

public slots:
    void execute() override;
    void reset() override;

protected slots:
    void subtasksDone() override;

private:
    void makeSubtasksAndStart();

    FileReplaceSpecification file;
    QList<QString>* deletes;         // not owned: the main plan's list
    RollbackDataList* sharedJournal; // not owned: the list task's install journal
    RollbackDataList fileJournal;
    Configuration* configuration;    // not owned
    bool movedAside = false;
};
