#pragma once

#include "asynctaskspecification.h"
#include "filespecifications.h"

// Applies a downloaded patch to the installed copy of a file, on the thread pool, and
// keeps the result only when its MD5 is the one the product ini gives: under the name the
// whole download would have (or beside it, unpacked, for a packed entry), so that the
// installation takes it as it takes a download. The patch works on a private copy of the
// installed file: one changed after the lists were made yields another file, which is not
// kept, and none can be cut under the decoder's mapping.
class PatchApplyFunc : public ASyncFunc
{
    Q_OBJECT

public:
    PatchApplyFunc(const FileDownloadSpecification& file, const QString& appRoot, const QString& tempDir);
    bool run() override;

private:
    FileDownloadSpecification file;
    QString appRoot;
    QString tempDir;
};

class PatchApplyTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    PatchApplyTaskSpecification(const FileDownloadSpecification& file, const QString& tempDir, QObject* parent,
                                qreal parentProgressRange);

signals:
    // Emitted before the task settles (it always finishes): a slot may reset and restart the
    // task's parent, to fetch the file whole.
    void applyDone(bool applied, PatchApplyTaskSpecification* task);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool applied) override;

private:
    FileDownloadSpecification file;
    QString tempDir;
};
