#include "makedownloadreplacelisttaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "sessionentry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QSettings>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {

const QString deleteSection = QStringLiteral("delete");

// The MD5 of a file, empty when there is none (messages of this in-place check are dropped).
QString md5Of(const QString& path)
{
    return QFileInfo::exists(path) ? CheckSigFunc(path, QString()).fileMd5() : QString();
}

bool isVerified(const QString& path, const QString& md5)
{
    const QString digest = md5Of(path);
    return !digest.isEmpty() && digest.compare(md5, Qt::CaseInsensitive) == 0;
}

} // namespace

MakeDownloadReplaceListFunc::MakeDownloadReplaceListFunc(const Configuration* configuration,
                                                         FileSpecifications* lists)
    : configuration(configuration), lists(lists)
{
}

int MakeDownloadReplaceListFunc::getFileCount(QSettings& settings)
{
    int count = 0;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        settings.beginGroup(section);
        count += int(settings.allKeys().size());
        settings.endGroup();
    }
    return count;
}

bool MakeDownloadReplaceListFunc::run()
{
    lists->clear();
    const QString iniPath = configuration->tempDir + QLatin1Char('/') + configuration->clientType +
                            QLatin1String(".ini");
    emit message(QStringLiteral("Compiling download and replace list"));

    QSettings settings(iniPath, QSettings::IniFormat);
    const int total = getFileCount(settings);
    if (total == 0) {
        emit message(QStringLiteral("No files in product ini"));
        return false;
    }

    const QString appRoot = Configuration::getAppRootPath() + QLatin1Char('/');
    const auto invalidLine = [this](const QString& section) {
        emit message(QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section));
        return false;
    };
    std::vector<Candidate> candidates;
    int deleteEntries = 0;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        // The section is a path on the mirror, the keys and field 5 paths below the
        // temporary and installation directories: none may lead out of them.
        if (!isContainedRelativePath(section))
            return invalidLine(section);
        settings.beginGroup(section);
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys) {
            if (!isContainedRelativePath(key))
                return invalidLine(section);
            if (section == deleteSection) {
                emit progress(qreal(++deleteEntries) / total);
                const QString link = linkedFolderOnTheWay(appRoot, key);
                if (!link.isEmpty())
                    emit message(QStringLiteral("Not deleting %1: it lies below the symbolic link %2").arg(key, link));
                else if (QFileInfo::exists(appRoot + key) || QFileInfo(appRoot + key).isSymLink())
                    lists->deletes.append(key);
                continue;
            }

            const QStringList parts = settings.value(key).toString().split(QStringLiteral("::"));
            if (parts.size() != 2 && parts.size() != 5)
                return invalidLine(section);
            if (parts.size() == 5 && !parts.at(4).isEmpty() && !isContainedRelativePath(parts.at(4)))
                return invalidLine(section);
            Candidate candidate{{section, key, parts.at(0), parts.at(1).toULongLong()},
                                {section, key, QString(), 0, QString()}};
            if (parts.size() == 5) {
                candidate.replace.unzippedMd5 = parts.at(2);
                candidate.replace.unzippedSize = parts.at(3).toULongLong();
                candidate.replace.unzippedPath = parts.at(4);
            }
            FileDownloadSpecification& download = candidate.download;
            download.packed = candidate.replace.hasUnzip();
            download.installedPath = candidate.replace.pureDestFilePath();
            download.resultMd5 = (download.packed ? candidate.replace.unzippedMd5 : download.md5).toLower();
            download.resultSize = download.packed ? candidate.replace.unzippedSize : download.size;
            candidates.push_back(candidate);
        }
        settings.endGroup();
    }

    // Nothing is written through a folder that is a symbolic link: it could point anywhere.
    for (const Candidate& candidate : candidates) {
        const QString link = linkedFolderOnTheWay(appRoot, candidate.replace.pureDestFilePath());
        if (!link.isEmpty()) {
            emit message(QStringLiteral("%1 lies below the symbolic link %2: the updater does not write through links")
                             .arg(candidate.replace.pureDestFilePath(), link));
            return false;
        }
    }

    // A file the description installs is never deleted by the same description, whatever
    // its "delete" section says (the updater itself, say).
    QSet<QString> installedPaths;
    for (const Candidate& candidate : candidates)
        installedPaths.insert(QDir::cleanPath(candidate.replace.pureDestFilePath()));
    lists->deletes.removeIf([&installedPaths](const QString& path) {
        return installedPaths.contains(QDir::cleanPath(path));
    });

    checkCandidates(candidates, deleteEntries, total);
    for (const Candidate& candidate : candidates) {
        if (candidate.installedCurrent) {
            // Set aside by an installation that was stopped before its deletions: it goes now.
            if (candidate.oldCopyLeft)
                lists->deletes.append(candidate.replace.oldDestFileName());
            continue;
        }
        lists->replaces.append(candidate.replace);
        // A verified download left by an earlier, unfinished update is not fetched again.
        if (!candidate.downloaded)
            lists->downloads.append(candidate.download);
    }
    return true;
}

void MakeDownloadReplaceListFunc::checkCandidates(std::vector<Candidate>& candidates, int doneBefore, int total)
{
    const QString appRoot = Configuration::getAppRootPath() + QLatin1Char('/');
    const QString tempRoot = configuration->tempDir + QLatin1Char('/');
    // A download an earlier run left is reused only as a regular file of the session folder.
    for (const Candidate& candidate : candidates) {
        QStringList lines = clearSessionPath(configuration->tempDir, candidate.replace.relativePath);
        if (candidate.download.packed) // and a patch's unpacked result beside it
            lines += clearSessionPath(configuration->tempDir, candidate.download.patchedPath());
        for (const QString& line : std::as_const(lines))
            emit message(line);
    }
    std::atomic<std::size_t> next{0};
    std::atomic<int> checked{0};
    // Only the calling thread reports, so that the progress never goes back.
    const auto work = [&](bool reporting) {
        for (std::size_t index; (index = next++) < candidates.size();) {
            Candidate& candidate = candidates[index];
            const FileReplaceSpecification& replace = candidate.replace;
            FileDownloadSpecification& download = candidate.download;
            // The installed copy's MD5 also finds a patch that starts from it.
            download.installedMd5 = md5Of(appRoot + replace.destFileName(QString()));
            candidate.installedCurrent = download.installedMd5 == download.resultMd5;
            // A patch's unpacked result is installed in place of the packed download: one
            // that is not this file's (another release's session) goes.
            const QString unpacked = tempRoot + download.patchedPath();
            const bool patched = download.packed && !candidate.installedCurrent &&
                                 isVerified(unpacked, download.resultMd5);
            if (download.packed && !patched)
                QFile::remove(unpacked);
            candidate.downloaded = !candidate.installedCurrent &&
                                   (patched || isVerified(tempRoot + replace.relativePath, download.md5));
            // The copies of the updater's own files go at its next start instead.
            candidate.oldCopyLeft = candidate.installedCurrent &&
                                    !Configuration::isSpecialFileName(QFileInfo(replace.pureDestFilePath()).fileName()) &&
                                    QFileInfo::exists(appRoot + replace.oldDestFileName());
            const int done = ++checked;
            if (reporting)
                emit progress(qreal(doneBefore + done) / total);
        }
    };
    // Every check reads a whole file, and one core hashes slower than a disk reads.
    const std::size_t threads = std::min(candidates.size(), std::size_t(std::max(1, QThread::idealThreadCount())));
    std::vector<std::thread> helpers;
    for (std::size_t n = 1; n < threads; ++n)
        helpers.emplace_back(work, false);
    work(true);
    for (std::thread& helper : helpers)
        helper.join();
    emit progress(qreal(doneBefore + checked) / total);
}

MakeDownloadReplaceListTaskSpecification::MakeDownloadReplaceListTaskSpecification(Configuration* configuration,
                                                                                   FileSpecifications& target,
                                                                                   QObject* parent,
                                                                                   double progressRange)
    : ASyncTaskSpecification(parent, progressRange), configuration(configuration), target(target)
{
}

ASyncFunc* MakeDownloadReplaceListTaskSpecification::createFunction()
{
    return new MakeDownloadReplaceListFunc(configuration, &compiled);
}

void MakeDownloadReplaceListTaskSpecification::runDone(bool ok)
{
    if (ok && state == Running) {
        target.downloads = compiled.downloads;
        target.replaces = compiled.replaces;
        target.deletes = compiled.deletes;
    }
    ASyncTaskSpecification::runDone(ok);
}
