#pragma once

#include "asynctaskspecification.h"
#include "filespecifications.h"

#include <vector>

class Configuration;
class QSettings;

// Compares the product description with the installation and the temporary directory,
// on the thread pool, into the lists of what to download, install and delete.
class MakeDownloadReplaceListFunc : public ASyncFunc
{
    Q_OBJECT

public:
    MakeDownloadReplaceListFunc(const Configuration* configuration, FileSpecifications* lists);
    bool run() override;

    static int getFileCount(QSettings& settings);

private:
    // One file entry of the product ini, and what the installation and the temporary
    // directory hold of it.
    struct Candidate
    {
        FileDownloadSpecification download;
        FileReplaceSpecification replace;
        bool installedCurrent = false; // the installed copy has the listed MD5
        bool downloaded = false;       // a verified download is in the temporary directory
        bool oldCopyLeft = false;      // current, and its "_old_" copy is still there
    };

    // Checks every candidate, several files at a time; reports progress from doneBefore
    // entries of total on.
    void checkCandidates(std::vector<Candidate>& candidates, int doneBefore, int total);

    const Configuration* configuration; // not owned; nobody changes it while this runs
    FileSpecifications* lists;          // not owned: the task's own lists
};

// Publishes the new lists into the target only when the whole product ini compiled;
// after a failure the target keeps what it held.
class MakeDownloadReplaceListTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    MakeDownloadReplaceListTaskSpecification(Configuration* configuration, FileSpecifications& target,
                                             QObject* parent, double progressRange);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool ok) override;

private:
    Configuration* configuration; // not owned
    FileSpecifications& target;   // not owned: the main plan's lists
    FileSpecifications compiled;
};
