#include "patchapplytaskspecification.h"

#include "configuration.h"
#include "filepatch.h"
#include "patchindextaskspecification.h"

#include <QFile>

#include <cstdio>

PatchApplyFunc::PatchApplyFunc(const FileDownloadSpecification& file, const QString& appRoot, const QString& tempDir)
    : file(file), appRoot(appRoot), tempDir(tempDir)
{
}

bool PatchApplyFunc::run()
{
    const QString patch = tempDir + QLatin1Char('/') + PatchIndexTaskSpecification::localPatch(file);
    const QString result = tempDir + QLatin1Char('/') + file.patchedPath();
    // Made under a name of its own and renamed once checked: a stop half-way leaves nothing
    // that looks like a download.
    const QString partial = patch + QLatin1String(".result");
    QString md5;
    QString error;
    const FilePatch::Outcome outcome = FilePatch::apply(appRoot + QLatin1Char('/') + file.installedPath, patch,
                                                        partial, qint64(qMin<quint64>(file.resultSize, INT64_MAX)),
                                                        &md5, &error);
    if (outcome != FilePatch::Outcome::Applied) {
        emit message(error);
        if (outcome == FilePatch::Outcome::Refused)
            emit patchRefused();
    } else if (md5 != file.resultMd5) {
        emit message(QStringLiteral("The patch for %1 makes a file with MD5 %2, not %3").arg(file.relativePath, md5,
                                                                                            file.resultMd5));
        emit patchRefused();
    } else if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(result).constData()) != 0) {
        emit message(QStringLiteral("Could not rename %1 to %2").arg(partial, result));
    } else {
        emit message(QStringLiteral("%1 patched from the installed copy (%2 of %3 bytes)")
                         .arg(file.relativePath)
                         .arg(file.patch.size)
                         .arg(file.size));
        QFile::remove(patch);
        return true;
    }
    QFile::remove(partial);
    QFile::remove(patch);
    return false;
}

PatchApplyTaskSpecification::PatchApplyTaskSpecification(const FileDownloadSpecification& file, const QString& tempDir,
                                                         QObject* parent, qreal parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange), file(file), tempDir(tempDir)
{
}

ASyncFunc* PatchApplyTaskSpecification::createFunction()
{
    patchRefused = false;
    auto* function = new PatchApplyFunc(file, Configuration::getAppRootPath(), tempDir);
    // Queued, as the result is: it arrives first.
    connect(function, &PatchApplyFunc::patchRefused, this, [this] { patchRefused = true; });
    return function;
}

void PatchApplyTaskSpecification::runDone(bool applied)
{
    if (state != Running)
        return;
    emit applyDone(applied, patchRefused, this);
    if (state == Running)
        finish();
}
