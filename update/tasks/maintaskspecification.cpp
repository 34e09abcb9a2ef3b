#include "maintaskspecification.h"

#include "downloadfilelisttaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "inidownloadtaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "patchindextaskspecification.h"

MainTaskSpecification::MainTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                             Configuration* configuration, QObject* parent,
                                             qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), networkManager(networkManager), mirrors(mirrors),
      configuration(configuration)
{
}

void MainTaskSpecification::execute()
{
    emit message(QStringLiteral("Starting update process"));
    makeSubtasksAndStart();
}

void MainTaskSpecification::makeSubtasksAndStart()
{
    addSubTask(new IniDownloadTaskSpecification(networkManager, mirrors, configuration, this, 0.1));
    addSubTask(new MakeDownloadReplaceListTaskSpecification(configuration, fileSpecs, this, 0.05));
    addSubTask(new PatchIndexTaskSpecification(&fileSpecs.downloads, networkManager, mirrors, configuration, this, 0.0));
    addSubTask(new DownloadFileListTaskSpecification(&fileSpecs.downloads, networkManager, mirrors, configuration,
                                                     this, 0.4));
    addSubTask(new FileReplaceListTaskSpecification(&fileSpecs.replaces, &fileSpecs.deletes, configuration, this, 0.4));
    addSubTask(new FileDeleteListTaskSpecification(&fileSpecs.deletes, this, 0.05));
    state = Running;
    executeSubTasks();
}

void MainTaskSpecification::reset()
{
    clearSubTasks();
    fileSpecs.clear();
    TaskSpecification::reset();
}
