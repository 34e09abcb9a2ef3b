#pragma once

#include "fastfileoptaskspecification.h"

// Puts a staged file (copied or unpacked beside the destination and checked) in place of
// the installed one so that the installed name is never missing, not even for an
// instant: the installed file is kept under its set-aside name (a hard link, or a copy
// where the file system has none), then the staged file is renamed over it. A kill at
// any moment leaves the old or the new file under the name. The journal entry that
// recorded the staged file is replaced by one that undoes exactly this: for a file that
// was there, the set-aside copy is renamed back over the name (RollbackData::Replace);
// for a new file, the file is removed.
class FileSwapTaskSpecification : public FastFileOpTaskSpecification
{
    Q_OBJECT

public:
    // oldPath: where the installed file is kept; empty when nothing is installed under
    // destPath. executable: give the file mode 0755 before it takes the name.
    FileSwapTaskSpecification(const QString& stagedPath, const QString& destPath, const QString& oldPath,
                              bool executable, RollbackDataList* rollbackList, QObject* parent,
                              qreal parentProgressRange);

protected:
    bool doOp() override;

private:
    bool keepInstalledCopy();
    bool renameStagedIntoPlace();
    void reportRenameFailure(const QString& from, const QString& to);

    QString stagedPath;
    QString oldPath;
    bool executable;
};
