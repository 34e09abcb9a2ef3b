#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class CheckSignatureTaskSpecification;
class PatchApplyTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Downloads one package file into the temporary directory and checks its MD5. A copy
// that fails the check is blamed on its mirror: the mirror is dropped and the file is
// fetched again from another one. A file with a patch (see PatchIndexTaskSpecification) is
// made from the installed copy instead: the patch is downloaded and applied; a mirror
// without it is not charged, a patch that fails its check, does not apply or makes
// another file than the product ini gives charges its mirror as a corrupt download does,
// and each of these fetches the file whole.
class DownloadFileTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    DownloadFileTaskSpecification(const FileDownloadSpecification& fileSpec, QNetworkAccessManager* networkManager,
                                  Mirrors* mirrors, Configuration* configuration, QObject* parent,
                                  qreal parentProgressRange);

public slots:
    void execute() override;
    void reset() override;

public:
    // The bytes this file costs: its patch's, or the whole download's.
    quint64 bytesToFetch() const { return usesPatch() ? quint64(fileSpec.patch.size) : fileSpec.size; }

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchCheckDone(bool pass, CheckSignatureTaskSpecification* check);
    void onPatchApplied(bool applied, bool badPatch, PatchApplyTaskSpecification* apply);

private:
    void makeSubtasksAndStart();
    void makePatchSubtasks();
    bool usesPatch() const { return !fileSpec.patch.target.isEmpty() && !patchDropped; }
    // Fetches the file whole from now on; charged: the patch's mirror is dropped.
    void dropPatch(bool charged);

    FileDownloadSpecification fileSpec;
    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    Configuration* configuration;          // not owned
    DownloadTaskSpecification* downloadTask = nullptr; // owned as a sub-task
    bool fetchWhole = false; // a continued copy failed its check: no more continuing
    bool patchDropped = false;
};
