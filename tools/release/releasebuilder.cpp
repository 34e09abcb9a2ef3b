#include "releasebuilder.h"

#include "containedpath.h"
#include "patchpublisher.h"
#include "signing.h"
#include "tomcryptutil.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>
#include <QSettings>
#include <QTemporaryDir>

#include <zlib.h>

namespace {

constexpr qint64 copyChunk = 1 << 20;
// Longest file name (bytes) the file systems take; the updater puts "_new_" or "_old_"
// before a file's name while it installs it, and the mirror and the temporary directory
// add ".gz" to a packed one.
constexpr int maxNameBytes = 255;
constexpr int stagingPrefixBytes = 5;
const QString packedSuffix = QStringLiteral(".gz");

// "a/b/c" → "a", "a/b".
QStringList ancestorsOf(const QString& path)
{
    QStringList ancestors;
    for (int slash = path.indexOf(QLatin1Char('/')); slash > 0; slash = path.indexOf(QLatin1Char('/'), slash + 1))
        ancestors << path.left(slash);
    return ancestors;
}

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

bool ReleaseBuilder::verifyProductIni(const QString& iniPath, const QList<Entry>& entries,
                                      const QStringList& deletes)
{
    QSettings ini(iniPath, QSettings::IniFormat);
    QHash<QString, QString> written;
    for (const Entry& entry : entries)
        written.insert(entry.first, entry.second);
    const QSet<QString> writtenDeletes(deletes.cbegin(), deletes.cend());
    QHash<QString, QString> read;
    QSet<QString> readDeletes;
    for (const QString& section : ini.childGroups()) {
        ini.beginGroup(section);
        for (const QString& key : ini.allKeys()) {
            if (section == QLatin1String("delete"))
                readDeletes.insert(key);
            else if (section == options.section)
                read.insert(key, ini.value(key).toString());
        }
        ini.endGroup();
    }
    if (!ini.childGroups().contains(options.section))
        return fail(QStringLiteral("%1 cannot be the folder of the files").arg(options.section));
    for (const Entry& entry : entries) {
        const QString key = entry.first;
        const bool packed = key.endsWith(packedSuffix) && keyOf(key.chopped(packedSuffix.size())) == key;
        const QString path = packed ? key.chopped(packedSuffix.size()) : key;
        const QStringList fields = read.value(key).split(QLatin1String("::"));
        if (read.value(key) != entry.second || fields.size() != (packed ? 5 : 2) || (packed && fields.at(4) != path) ||
            !isContainedRelativePath(key))
            return fail(QStringLiteral("%1: the product ini cannot carry this name").arg(path));
    }
    for (auto it = read.cbegin(); it != read.cend(); ++it) {
        if (!written.contains(it.key()))
            return fail(QStringLiteral("%1: the product ini cannot carry the name of a file").arg(it.key()));
    }
    for (const QString& path : deletes) {
        if (!readDeletes.contains(path) || !isContainedRelativePath(path))
            return fail(QStringLiteral("%1: the product ini cannot carry this name in its delete section").arg(path));
    }
    if (readDeletes != writtenDeletes)
        return fail(QStringLiteral("the product ini cannot carry the names of some deleted files"));
    return true;
}

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

bool ReleaseBuilder::refuse(const QString& text)
{
    mistake = true;
    return fail(text);
}

bool ReleaseBuilder::checkPrevious(const QString& previous, const QStringList& files, QStringList* previousFiles)
{
    const QFileInfo info(previous);
    if (!info.exists())
        return refuse(QStringLiteral("--previous %1: no such folder").arg(previous));
    if (!info.isDir())
        return refuse(QStringLiteral("--previous %1 is not a folder").arg(previous));
    // The mirror's copy of a release is no tree of a client version: its files lie below
    // the section's folder, beside the product ini.
    if (QFileInfo::exists(QDir(previous).filePath(options.clientType + QLatin1String(".ini.sig"))))
        return refuse(QStringLiteral("--previous %1 is a published release (it holds %2.ini.sig); give the folder "
                                     "of that version's files as installed")
                          .arg(previous, options.clientType));
    QString problem;
    *previousFiles = treeFiles(previous, &problem);
    if (!problem.isEmpty())
        return refuse(problem);
    if (previousFiles->isEmpty())
        return refuse(QStringLiteral("--previous %1 holds no files").arg(previous));
    return checkShapeAgainst(previous, *previousFiles, files);
}

bool ReleaseBuilder::checkInputs(QStringList* files, QHash<QString, QStringList>* previousTrees)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9_.-]*$"));
    if (options.version <= 0)
        return refuse(QStringLiteral("the version must be a positive number"));
    if (!plainName.match(options.clientType).hasMatch())
        return refuse(QStringLiteral("%1 is no client type (letters, digits, _, - and ., not first)").arg(options.clientType));
    if (!QFileInfo(options.treeDir).isDir())
        return refuse(QStringLiteral("%1 is not a directory").arg(options.treeDir));
    QString problem;
    *files = treeFiles(options.treeDir, &problem);
    if (!problem.isEmpty())
        return refuse(problem);
    if (files->isEmpty())
        return refuse(QStringLiteral("%1 holds no files").arg(options.treeDir));
    if (!checkNames(*files))
        return false;
    for (const QString& previous : options.previousTreeDirs) {
        if (!checkPrevious(previous, *files, &(*previousTrees)[previous]))
            return false;
    }
    if (!options.changelogPath.isEmpty() && !QFileInfo(options.changelogPath).isFile())
        return refuse(QStringLiteral("the changelog %1 is no file").arg(options.changelogPath));
    try {
        crypt_init();
        signingKeyFingerprint(QFile::encodeName(options.privateKeyPath).toStdString()); // a private key, readable
    } catch (const crypt_exception& e) {
        return refuse(QString::fromLocal8Bit(e.what()));
    }
    // Every name must come back from the product ini as it goes in, before a file is written.
    QList<Entry> names;
    for (const QString& file : std::as_const(*files)) {
        const QString key = keyOf(file);
        names.append({key, key == file ? QStringLiteral("0::0") : QStringLiteral("0::0::0::0::") + file});
    }
    const QStringList deletes = deletedFiles(*files, *previousTrees);
    QTemporaryDir scratch;
    const QString trial = scratch.filePath(QStringLiteral("names.ini"));
    if (!scratch.isValid() || !writeIniText(trial, names, deletes))
        return fail(QStringLiteral("Could not write a trial product ini in %1").arg(QDir::tempPath()));
    if (!verifyProductIni(trial, names, deletes))
        return refuse(error);
    return true;
}

QStringList ReleaseBuilder::deletedFiles(const QStringList& files, const QHash<QString, QStringList>& previousTrees) const
{
    // Deleted are the files of any earlier release given that this one has not, so that
    // an installation of any of them ends up as this release.
    QStringList deletes;
    for (const QString& previous : options.previousTreeDirs) {
        for (const QString& old : previousTrees.value(previous)) {
            if (!files.contains(old) && !deletes.contains(old))
                deletes << old;
        }
    }
    deletes.sort();
    return deletes;
}

bool ReleaseBuilder::build()
{
    timer.start();
    QStringList files;
    QHash<QString, QStringList> previousTrees;
    if (!checkInputs(&files, &previousTrees))
        return false;

    QList<Entry> entries;
    for (const QString& file : files) {
        if (!addFile(file, &entries))
            return false;
    }
    if (!writeProductIni(entries, deletedFiles(files, previousTrees)) || !writePatches(files, previousTrees))
        return false;

    if (!options.changelogPath.isEmpty()) {
        const QString changelog = QDir(releaseDir).filePath(QStringLiteral("changelog_client.txt"));
        if (!prepareTarget(changelog) || !QFile::copy(options.changelogPath, changelog))
            return fail(QStringLiteral("Could not copy the changelog %1").arg(options.changelogPath));
        lines << changelog;
    }
    return true;
}

QString ReleaseBuilder::summary() const
{
    return QStringLiteral("release %1: %2 files, %3 bytes (%4 to download whole), %5 patches (%6 bytes), in %7 s")
        .arg(options.version)
        .arg(published.size())
        .arg(treeBytes)
        .arg(downloadBytes)
        .arg(patchesMade)
        .arg(patchBytes)
        .arg(double(timer.elapsed()) / 1000, 0, 'f', 1);
}

QString ReleaseBuilder::keyOf(const QString& relativePath) const
{
    return isPacked(relativePath) ? relativePath + packedSuffix : relativePath;
}

bool ReleaseBuilder::checkNames(const QStringList& files)
{
    const QString section = options.section;
    // The folder is a path on the mirror, and no "\\" in it: the updater reads that as a separator.
    if (!isContainedRelativePath(section) || section.contains(QLatin1Char('\\')) ||
        section == QLatin1String("delete") || section == QLatin1String("General"))
        return refuse(QStringLiteral("%1 cannot be the folder of the files").arg(section));

    const QStringList productIniNames{options.clientType + QLatin1String(".ini"),
                                      options.clientType + QLatin1String(".ini.sig")};
    QHash<QString, QString> fileOfKey;
    for (const QString& file : files) {
        const QString name = QFileInfo(file).fileName();
        if (name.startsWith(QLatin1String("_old_")) || name.startsWith(QLatin1String("_new_")))
            return refuse(QStringLiteral("%1: names beginning with _old_ or _new_ are the updater's own").arg(file));
        const QString key = keyOf(file);
        const int extra = key == file ? stagingPrefixBytes : stagingPrefixBytes + int(packedSuffix.size());
        for (const QString& component : file.split(QLatin1Char('/'))) {
            if (QFile::encodeName(component).size() + extra > maxNameBytes)
                return refuse(QStringLiteral("%1: the name %2 is longer than the %3 bytes the updater can install")
                                .arg(file, component, QString::number(maxNameBytes - extra)));
        }
        // The downloads and the product ini share the updater's temporary directory.
        if (productIniNames.contains(key))
            return refuse(QStringLiteral("%1 would be downloaded over the product ini").arg(file));
        if (fileOfKey.contains(key))
            return refuse(QStringLiteral("%1 and %2 would both be served as %3").arg(fileOfKey.value(key), file, key));
        fileOfKey.insert(key, file);
    }
    for (auto it = fileOfKey.cbegin(); it != fileOfKey.cend(); ++it) {
        for (const QString& ancestor : ancestorsOf(it.key())) {
            if (fileOfKey.contains(ancestor))
                return refuse(QStringLiteral("%1 would be served as %2, where %3 needs a folder")
                                .arg(fileOfKey.value(ancestor), ancestor, it.value()));
        }
    }
    return true;
}

// The updater replaces files and makes folders; it cannot turn one into the other.
bool ReleaseBuilder::checkShapeAgainst(const QString& previousDir, const QStringList& previousFiles,
                                       const QStringList& files)
{
    const QSet<QString> before(previousFiles.cbegin(), previousFiles.cend());
    const QSet<QString> now(files.cbegin(), files.cend());
    for (const QString& file : files) {
        for (const QString& folder : ancestorsOf(file)) {
            if (before.contains(folder))
                return refuse(QStringLiteral("%1 is a file in %2 and a folder now (it holds %3); the updater "
                                           "cannot install that").arg(folder, previousDir, file));
        }
    }
    for (const QString& old : previousFiles) {
        for (const QString& folder : ancestorsOf(old)) {
            if (now.contains(folder))
                return refuse(QStringLiteral("%1 is a folder in %2 (it holds %3) and a file now; the updater "
                                           "cannot install that").arg(folder, previousDir, old));
        }
    }
    return true;
}

// One product ini entry per file; the file is copied or packed into the mirror tree.
bool ReleaseBuilder::addFile(const QString& relativePath, QList<Entry>* entries)
{
    const QString source = QDir(options.treeDir).filePath(relativePath);
    const QString md5 = md5Of(source);
    if (md5.isEmpty())
        return fail(QStringLiteral("Could not read %1").arg(source));
    const QString size = QString::number(QFileInfo(source).size());

    const QString key = keyOf(relativePath);
    const bool packed = key != relativePath;
    const QString target = QDir(releaseDir).filePath(options.section + QLatin1Char('/') + key);
    if (!prepareTarget(target))
        return fail(QStringLiteral("Could not write %1").arg(target));
    if (!packed) {
        if (!QFile::copy(source, target))
            return fail(QStringLiteral("Could not copy %1 to %2").arg(source, target));
        entries->append({key, md5 + QLatin1String("::") + size});
        published.insert(relativePath, {md5, QFileInfo(source).size()});
        progress(QStringLiteral("hashed %1 (%2 bytes)").arg(relativePath, size));
    } else {
        if (!gzipFile(source, target))
            return fail(QStringLiteral("Could not pack %1 into %2").arg(source, target));
        entries->append({key, QStringList{md5Of(target), QString::number(QFileInfo(target).size()), md5, size,
                                          relativePath}
                                  .join(QLatin1String("::"))});
        published.insert(relativePath, {md5, QFileInfo(target).size()});
        progress(QStringLiteral("packed %1 (%2 to %3 bytes)").arg(relativePath, size).arg(QFileInfo(target).size()));
    }
    treeBytes += QFileInfo(source).size();
    downloadBytes += published.value(relativePath).downloadSize;
    lines << target;
    return true;
}

bool ReleaseBuilder::writePatches(const QStringList& files, const QHash<QString, QStringList>& previousTrees)
{
    PatchPublisher patches(releaseDir, options.patchLevel);
    QSet<QString> releaseMd5s;
    if (options.makePatches) {
        for (const QString& file : files) {
            const Published facts = published.value(file);
            releaseMd5s.insert(facts.md5);
            for (const QString& previous : options.previousTreeDirs) {
                if (previousTrees.value(previous).contains(file))
                    patches.add(QDir(previous).filePath(file), QDir(options.treeDir).filePath(file), facts.md5,
                                facts.downloadSize);
            }
        }
        if (!patches.make(progress))
            return fail(patches.errorString());
    }
    // Without patches, an earlier run's index and patches go too.
    if (!patches.writeIndex(releaseMd5s))
        return fail(patches.errorString());
    patchesMade = patches.made();
    patchBytes = patches.patchBytes();
    lines << patches.log();
    return true;
}

bool ReleaseBuilder::writeIniText(const QString& iniPath, const QList<Entry>& entries, const QStringList& deletes)
{
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
            return false;
    }
    // The release names itself before the first section, where the signature covers it and
    // the updaters' readers, which read sections only, pass it by: an updater refuses a
    // signed product ini of another version or client type (an older release replayed).
    QFile written(iniPath);
    QSaveFile named(iniPath);
    return written.open(QIODevice::ReadOnly) && named.open(QIODevice::WriteOnly) &&
           named.write("version=" + QByteArray::number(options.version) + "\ntype=" + options.clientType.toUtf8() +
                       "\n" + written.readAll()) >= 0 &&
           named.commit();
}

bool ReleaseBuilder::writeProductIni(const QList<Entry>& entries, const QStringList& deletes)
{
    const QString iniPath = QDir(releaseDir).filePath(options.clientType + QLatin1String(".ini"));
    if (!prepareTarget(iniPath) || !prepareTarget(iniPath + QLatin1String(".sig")) ||
        !writeIniText(iniPath, entries, deletes))
        return fail(QStringLiteral("Could not write %1").arg(iniPath));
    if (!verifyProductIni(iniPath, entries, deletes))
        return false;
    try {
        lines << iniPath << QString::fromStdString(signFile(QFile::encodeName(options.privateKeyPath).toStdString(),
                                                            QFile::encodeName(iniPath).toStdString()));
    } catch (const crypt_exception& e) {
        return fail(QString::fromLocal8Bit(e.what()));
    }
    return true;
}
