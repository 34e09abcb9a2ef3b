#include "patchapplytaskspecification.h"

#include "configuration.h"
#include "filepatch.h"
#include "patchindextaskspecification.h"

#include "sessionentry.h"

#include <QFile>

#include <cstdio>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Copies the installed file to copyPath: what the patch starts from is then this private
// copy, which nothing else changes or cuts under the decoder's mapping.
bool copyInstalledFile(const QString& installedPath, const QString& copyPath, QString* error)
{
    constexpr qint64 pieceSize = 1 << 20;
    const int source = ::open(QFile::encodeName(installedPath).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat info{};
    if (source < 0 || ::fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        *error = QStringLiteral("Cannot read the installed copy %1").arg(installedPath);
        if (source >= 0)
            ::close(source);
        return false;
    }
    const int copy = openSessionFile(copyPath, false);
    QByteArray piece(pieceSize, Qt::Uninitialized);
    bool ok = copy >= 0;
    QString refusal = copy < 0 ? QString::fromLocal8Bit(std::strerror(errno)) : QString();
    while (ok) {
        const ssize_t got = ::read(source, piece.data(), std::size_t(pieceSize));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = got == 0;
            if (!ok)
                refusal = QString::fromLocal8Bit(std::strerror(errno));
            break;
        }
        ok = writeAllTo(copy, piece.constData(), got, &refusal);
    }
    ::close(source);
    if (copy >= 0 && ::close(copy) != 0 && ok) {
        ok = false;
        refusal = QString::fromLocal8Bit(std::strerror(errno));
    }
    if (!ok)
        *error = QStringLiteral("Could not copy the installed %1 to %2: %3").arg(installedPath, copyPath, refusal);
    return ok;
}

} // namespace

PatchApplyFunc::PatchApplyFunc(const FileDownloadSpecification& file, const QString& appRoot, const QString& tempDir)
    : file(file), appRoot(appRoot), tempDir(tempDir)
{
}

bool PatchApplyFunc::run()
{
    const QString patch = tempDir + QLatin1Char('/') + PatchIndexTaskSpecification::localPatch(file);
    const QString result = tempDir + QLatin1Char('/') + file.patchedPath();
    // Made under names of their own, and the result renamed once checked: a stop half-way
    // leaves nothing that looks like a download.
    const QString base = patch + QLatin1String(".base");
    const QString partial = patch + QLatin1String(".result");
    QString md5;
    QString error;
    bool applied = false;
    if (!copyInstalledFile(appRoot + QLatin1Char('/') + file.installedPath, base, &error)) {
        emit message(error);
    } else if (FilePatch::apply(base, patch, partial, qint64(qMin<quint64>(file.resultSize, INT64_MAX)), &md5, &error) !=
               FilePatch::Outcome::Applied) {
        emit message(error);
    } else if (md5 != file.resultMd5) {
        emit message(QStringLiteral("The patch for %1 makes a file with MD5 %2, not %3").arg(file.relativePath, md5,
                                                                                            file.resultMd5));
    } else if (std::rename(QFile::encodeName(partial).constData(), QFile::encodeName(result).constData()) != 0) {
        emit message(QStringLiteral("Could not rename %1 to %2").arg(partial, result));
    } else {
        emit message(QStringLiteral("%1 patched from the installed copy (%2 of %3 bytes)")
                         .arg(file.relativePath)
                         .arg(file.patch.size)
                         .arg(file.size));
        applied = true;
    }
    for (const QString& leftover : {base, partial, patch})
        QFile::remove(leftover);
    return applied;
}

PatchApplyTaskSpecification::PatchApplyTaskSpecification(const FileDownloadSpecification& file, const QString& tempDir,
                                                         QObject* parent, qreal parentProgressRange)
    : ASyncTaskSpecification(parent, parentProgressRange), file(file), tempDir(tempDir)
{
}

ASyncFunc* PatchApplyTaskSpecification::createFunction()
{
    return new PatchApplyFunc(file, Configuration::getAppRootPath(), tempDir);
}

void PatchApplyTaskSpecification::runDone(bool applied)
{
    if (state != Running)
        return;
    emit applyDone(applied, this);
    if (state == Running)
        finish();
}
