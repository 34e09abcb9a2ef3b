#pragma once

#include "composedtaskspecification.h"
#include "downloadfiletaskspecification.h"
#include "filespecifications.h"

class Configuration;
class Mirrors;
class QNetworkAccessManager;

// Downloads and checks every file of the download list, several at a time ("streams").
// The list is read when the task runs, so it may be filled after construction.
class DownloadFileListTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    DownloadFileListTaskSpecification(QList<FileDownloadSpecification>* downloadList,
                                      QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                      Configuration* configuration, QObject* parent, qreal parentProgressRange);

    bool makeSubDirs();

public slots:
    void execute() override;
    void reset() override;
    // As the composite's, but the total counts every listed file from the start.
    void timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading) override;

private:
    void makeSubtasksAndStart();

    QList<FileDownloadSpecification>* downloadList; // not owned
    QNetworkAccessManager* networkManager;          // not owned
    Mirrors* mirrors;                               // not owned
    Configuration* configuration;                   // not owned
    PatchFailures patchFailures;                    // of this update's downloads
};
