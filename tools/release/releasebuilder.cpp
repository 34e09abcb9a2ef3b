#include "releasebuilder.h"

#include "signing.h"
#include "tomcryptutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <zlib.h>

namespace {

constexpr qint64 copyChunk = 1 << 20;

QString md5Of(const QString& path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Md5);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

bool gzipFile(const QString& source, const QString& target)
{
    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return false;
    gzFile output = gzopen(QFile::encodeName(target).constData(), "wb9");
    if (!output)
        return false;
    QByteArray chunk(copyChunk, Qt::Uninitialized);
    bool ok = true;
    for (qint64 count; ok && (count = input.read(chunk.data(), chunk.size())) > 0;)
        ok = gzwrite(output, chunk.constData(), unsigned(count)) == count;
    return gzclose(output) == Z_OK && ok && !input.error();
}

// A file of the release's own mirror tree; its directory is made first.
bool prepareTarget(const QString& path)
{
    return QDir().mkpath(QFileInfo(path).path()) && (!QFileInfo::exists(path) || QFile::remove(path));
}

} // namespace

QStringList treeFiles(const QString& dir, QString* error)
{
    QStringList files;
    const QDir root(QFileInfo(dir).absoluteFilePath());
    QDirIterator it(root.path(), QDir::Files | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink()) {
            *error = QStringLiteral("%1 is a symbolic link; a release holds files only").arg(info.filePath());
            return {};
        }
        files << root.relativeFilePath(info.filePath());
    }
    files.sort();
    return files;
}

ReleaseBuilder::ReleaseBuilder(const ReleaseOptions& options)
    : options(options), releaseDir(QDir(options.mirrorDir).filePath(QString::number(options.version)))
{
}

bool ReleaseBuilder::fail(const QString& text)
{
    error = text;
    return false;
}

bool ReleaseBuilder::isPacked(const QString& relativePath) const
{
    for (const QString& pattern : options.packPatterns) {
        const QRegularExpression wildcard(QRegularExpression::wildcardToRegularExpression(
            pattern, QRegularExpression::UnanchoredWildcardConversion));
        const QRegularExpression anchored(QRegularExpression::anchoredPattern(wildcard.pattern()));
        if (anchored.match(relativePath).hasMatch() || anchored.match(QFileInfo(relativePath).fileName()).hasMatch())
            return true;
    }
    return false;
}

bool ReleaseBuilder::build()
{
    if (options.version <= 0)
        return fail(QStringLiteral("the version must be a positive number"));
    if (!QFileInfo(options.treeDir).isDir())
        return fail(QStringLiteral("%1 is not a directory").arg(options.treeDir));
    QString problem;
    const QStringList files = treeFiles(options.treeDir, &problem);
    if (!problem.isEmpty())
        return fail(problem);
    if (files.isEmpty())
        return fail(QStringLiteral("%1 holds no files").arg(options.treeDir));

    QList<Entry> entries;
    for (const QString& file : files) {
        if (!addFile(file, &entries))
            return false;
    }
    // Deleted are the files of any earlier release given that this one has not, so that
    // an installation of any of them ends up as this release.
    QStringList deletes;
    for (const QString& previous : options.previousTreeDirs) {
        for (const QString& old : treeFiles(previous, &problem)) {
            if (!files.contains(old) && !deletes.contains(old))
                deletes << old;
        }
        if (!problem.isEmpty())
            return fail(problem);
    }
    deletes.sort();
    if (!writeProductIni(entries, deletes))
        return false;

    if (!options.changelogPath.isEmpty()) {
        const QString changelog = QDir(releaseDir).filePath(QStringLiteral("changelog_client.txt"));
        if (!prepareTarget(changelog) || !QFile::copy(options.changelogPath, changelog))
            return fail(QStringLiteral("Could not copy the changelog %1").arg(options.changelogPath));
        lines << changelog;
    }
    return true;
}

// One product ini entry per file; the file is copied or packed into the mirror tree.
bool ReleaseBuilder::addFile(const QString& relativePath, QList<Entry>* entries)
{
    const QString source = QDir(options.treeDir).filePath(relativePath);
    const QFileInfo name(relativePath);
    if (name.fileName().startsWith(QLatin1String("_old_")) || name.fileName().startsWith(QLatin1String("_new_")))
        return fail(QStringLiteral("%1: names beginning with _old_ or _new_ are the updater's own").arg(relativePath));
    const QString md5 = md5Of(source);
    if (md5.isEmpty())
        return fail(QStringLiteral("Could not read %1").arg(source));
    const QString size = QString::number(QFileInfo(source).size());

    const bool packed = isPacked(relativePath);
    const QString key = packed ? relativePath + QLatin1String(".gz") : relativePath;
    const QString target = QDir(releaseDir).filePath(options.section + QLatin1Char('/') + key);
    if (!prepareTarget(target))
        return fail(QStringLiteral("Could not write %1").arg(target));
    if (!packed) {
        if (!QFile::copy(source, target))
            return fail(QStringLiteral("Could not copy %1 to %2").arg(source, target));
        entries->append({key, md5 + QLatin1String("::") + size});
    } else {
        if (!gzipFile(source, target))
            return fail(QStringLiteral("Could not pack %1 into %2").arg(source, target));
        entries->append({key, QStringList{md5Of(target), QString::number(QFileInfo(target).size()), md5, size,
                                          relativePath}
                                  .join(QLatin1String("::"))});
    }
    lines << target;
    return true;
}

bool ReleaseBuilder::writeProductIni(const QList<Entry>& entries, const QStringList& deletes)
{
    const QString iniPath = QDir(releaseDir).filePath(options.clientType + QLatin1String(".ini"));
    if (!prepareTarget(iniPath) || !prepareTarget(iniPath + QLatin1String(".sig")))
        return fail(QStringLiteral("Could not write %1").arg(iniPath));
    {
        // The settings writer escapes keys as the updater's reader expects them.
        QSettings ini(iniPath, QSettings::IniFormat);
        ini.beginGroup(options.section);
        for (const Entry& entry : entries)
            ini.setValue(entry.first, entry.second);
        ini.endGroup();
        ini.beginGroup(QStringLiteral("delete"));
        for (const QString& path : deletes)
            ini.setValue(path, QString());
        ini.endGroup();
        ini.sync();
        if (ini.status() != QSettings::NoError)
            return fail(QStringLiteral("Could not write %1").arg(iniPath));
    }
    try {
        crypt_init();
        lines << iniPath << QString::fromStdString(signFile(QFile::encodeName(options.privateKeyPath).toStdString(),
                                                            QFile::encodeName(iniPath).toStdString()));
    } catch (const crypt_exception& e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
    return true;
}
