#pragma once

#include "composedtaskspecification.h"
#include "filespecifications.h"

class Configuration;
class Mirrors;
class QNetworkAccessManager;

// The root of one update: product ini, lists, downloads, installation, deletions, one
// after the other; the first step that does not finish stops the plan.
class MainTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    MainTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors, Configuration* configuration,
                          QObject* parent, qreal parentProgressRange);

    const FileSpecifications& lists() const { return fileSpecs; }

public slots:
    void execute() override;
    void reset() override;

private:
    void makeSubtasksAndStart();

    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    Configuration* configuration;          // not owned
    FileSpecifications fileSpecs; // filled by the lists step, read by the later steps when they run
};
