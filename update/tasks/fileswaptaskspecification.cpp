#include "fileswaptaskspecification.h"

#include <QFile>

#include <cerrno>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t executableMode = 0755;

} // namespace

FileSwapTaskSpecification::FileSwapTaskSpecification(const QString& stagedPath, const QString& destPath,
                                                     const QString& oldPath, bool executable,
                                                     RollbackDataList* rollbackList, QObject* parent,
                                                     qreal parentProgressRange)
    : FastFileOpTaskSpecification(destPath, rollbackList, parent, parentProgressRange), stagedPath(stagedPath),
      oldPath(oldPath), executable(executable)
{
}

bool FileSwapTaskSpecification::doOp()
{
    // Before the file takes its name, so that it is never there without its mode.
    if (executable)
        ::chmod(QFile::encodeName(stagedPath).constData(), executableMode);

    const RollbackData staged(RollbackData::CreateFile, stagedPath);
    if (oldPath.isEmpty()) {
        if (!renameStagedIntoPlace())
            return false;
        if (rollbackList)
            rollbackList->replace(staged, RollbackData(RollbackData::CreateFile, fileName));
        return true;
    }

    if (!keepInstalledCopy()) {
        reportRenameFailure(fileName, oldPath);
        return false;
    }
    if (!renameStagedIntoPlace()) {
        QFile::remove(oldPath); // the installed file is still in place
        return false;
    }
    if (rollbackList)
        rollbackList->replace(staged, RollbackData(RollbackData::Replace, oldPath, fileName));
    return true;
}

bool FileSwapTaskSpecification::keepInstalledCopy()
{
    const QByteArray installed = QFile::encodeName(fileName);
    if (::link(installed.constData(), QFile::encodeName(oldPath).constData()) == 0)
        return true;
    // File systems without hard links: a copy, while the installed file keeps its name.
    const bool noHardLinks = errno == EPERM || errno == EOPNOTSUPP || errno == EXDEV || errno == EMLINK;
    struct stat info{};
    return noHardLinks && ::lstat(installed.constData(), &info) == 0 && S_ISREG(info.st_mode) &&
           QFile::copy(fileName, oldPath);
}

bool FileSwapTaskSpecification::renameStagedIntoPlace()
{
    if (std::rename(QFile::encodeName(stagedPath).constData(), QFile::encodeName(fileName).constData()) == 0)
        return true;
    reportRenameFailure(stagedPath, fileName);
    return false;
}

void FileSwapTaskSpecification::reportRenameFailure(const QString& from, const QString& to)
{
    emit message(QStringLiteral("Could not rename '%1' to '%2'").arg(from, to));
}
