#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Downloads one package file into the temporary directory and checks its MD5. A copy
// that fails the check is blamed on its mirror: the mirror is dropped and the file is
// fetched again from another one.
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

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    void makeSubtasksAndStart();

    FileDownloadSpecification fileSpec;
    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    Configuration* configuration;          // not owned
    DownloadTaskSpecification* downloadTask = nullptr; // owned as a sub-task
    bool fetchWhole = false; // a continued copy failed its check: no more continuing
};
