#include "inidownloadtaskspecification.h"

#include "sessionentry.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"

#include <QFileInfo>

namespace {

constexpr qreal downloadShare = 0.3333;

} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                                           Configuration* configuration, QObject* parent,
                                                           qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), networkManager(networkManager), mirrors(mirrors),
      configuration(configuration)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString name = configuration->clientType + QLatin1String(".ini");
    const QString local = configuration->tempDir + QLatin1Char('/') + name;
    qreal checkShare = 1.0;
    for (const QString& suffix : {QString(), QStringLiteral(".sig")}) {
        for (const QString& line : clearSessionPath(configuration->tempDir, name + suffix))
            emit message(line);
        // The first try uses what an interrupted run left; a retry fetches afresh.
        if (attempts == 0 && QFileInfo::exists(local + suffix))
            continue;
        auto* download = new DownloadTaskSpecification(networkManager, mirrors, name + suffix, local + suffix, -1,
                                                       this, downloadShare);
        download->setSizeLimit(suffix.isEmpty() ? maxProductIniBytes : CheckSigFunc::maxSignatureBytes);
        addSubTask(download);
        checkShare -= downloadShare;
    }
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkShare);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this, &IniDownloadTaskSpecification::onSigCheckDone);
    addSubTask(check);
    state = Running;
    executeSubTasks();
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    if (pass || endIfCancelRequested(check))
        return;
    if (++attempts > maxAttempts) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        endFromSubTaskReport(check, ErrorCanceled); // the check alone would finish
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    const int failed = attempts;
    reset();
    attempts = failed;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    attempts = 0;
    TaskSpecification::reset();
}
