#include "makedownloadreplacelisttaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"

#include <QFileInfo>
#include <QSettings>

namespace {

const QString deleteSection = QStringLiteral("delete");

// True when the file exists and matches (messages of this in-place check are dropped).
bool isVerified(const QString& path, const QString& md5)
{
    return QFileInfo::exists(path) && CheckSigFunc(path, md5).run();
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
    const QString tempRoot = configuration->tempDir + QLatin1Char('/');
    const auto invalidLine = [this](const QString& section) {
        emit message(QStringLiteral("Warning: product ini contains invalid line in section %1").arg(section));
        return false;
    };
    int done = 0;
    const QStringList sections = settings.childGroups();
    for (const QString& section : sections) {
        // The section is a path on the mirror, the keys and field 5 paths below the
        // temporary and installation directories: none may lead out of them.
        if (!isContainedRelativePath(section))
            return invalidLine(section);
        settings.beginGroup(section);
        const QStringList keys = settings.allKeys();
        for (const QString& key : keys) {
            emit progress(qreal(++done) / total);
            if (!isContainedRelativePath(key))
                return invalidLine(section);
            if (section == deleteSection) {
                if (QFileInfo::exists(appRoot + key))
                    lists->deletes.append(key);
                continue;
            }

            const QStringList parts = settings.value(key).toString().split(QStringLiteral("::"));
            if (parts.size() != 2 && parts.size() != 5)
                return invalidLine(section);
            if (parts.size() == 5 && !parts.at(4).isEmpty() && !isContainedRelativePath(parts.at(4)))
                return invalidLine(section);
            const FileDownloadSpecification download{section, key, parts.at(0), parts.at(1).toULongLong()};
            FileReplaceSpecification replace{section, key, QString(), 0, QString()};
            if (parts.size() == 5) {
                replace.unzippedMd5 = parts.at(2);
                replace.unzippedSize = parts.at(3).toULongLong();
                replace.unzippedPath = parts.at(4);
            }

            const QString installedMd5 = replace.hasUnzip() ? replace.unzippedMd5 : download.md5;
            if (isVerified(appRoot + replace.destFileName(QString()), installedMd5))
                continue; // up to date
            lists->replaces.append(replace);
            // A verified download left by an earlier, unfinished update is not fetched again.
            if (!isVerified(tempRoot + key, download.md5))
                lists->downloads.append(download);
        }
        settings.endGroup();
    }
    return true;
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
