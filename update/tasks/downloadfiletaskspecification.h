#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class CheckSignatureTaskSpecification;
class PatchApplyTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// The patches of one update that went wrong: after maxFailures, the files still to come are
// fetched whole, so that a mirror with a lying index or bad patches wastes little.
class PatchFailures
{
public:
    static constexpr int maxFailures = 3;
    bool givenUp() const { return count >= maxFailures; }
    // Counts one; true when this one made patches given up.
    bool add() { return ++count == maxFailures; }

private:
    int count = 0;
};

// Downloads one package file into the temporary directory and checks its MD5. A copy
// that fails the check is blamed on its mirror: the mirror is dropped and the file is
// fetched again from another one. A file with a patch (see PatchIndexTaskSpecification) is
// made from the installed copy instead: the patch is downloaded and applied, and the
// result kept only when it is the file the product ini gives. A patch only saves work:
// whatever goes wrong with it (it cannot be fetched, fails its MD5, does not apply, makes
// another file, the installed copy changed) charges no mirror and fetches the file whole.
// A file tries its patch once.
class DownloadFileTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec, QNetworkAccessManager* networkManager,
                                  Mirrors* mirrors, Configuration* configuration, PatchFailures* patchFailures,
                                  QObject* parent, qreal parentProgressRange);

public slots:
    void execute() override;
    void reset() override;

public:
    // The bytes this file costs: its patch's, or the whole download's.
    quint64 bytesToFetch() const { return usesPatch() ? quint64(fileSpec.patch.size) : fileSpec.size; }

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchApplied(bool applied, PatchApplyTaskSpecification* apply);

private:
    void makeSubtasksAndStart();
    void makePatchSubtasks();
    bool usesPatch() const { return !fileSpec.patch.target.isEmpty() && !patchDropped; }
    // Fetches the file whole from now on.
    void dropPatch();

    FileDownloadSpecification fileSpec;
    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    Configuration* configuration;          // not owned
    PatchFailures* patchFailures;          // not owned: the update's
    DownloadTaskSpecification* downloadTask = nullptr; // owned as a sub-task
    bool fetchWhole = false; // a continued copy failed its check: no more continuing
    bool patchDropped = false;
};
