#pragma once

#include "filepatch.h"

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// What the publisher's release tool makes a release from.
struct ReleaseOptions
{
    QString treeDir;         // the client version's files, as installed
    QString mirrorDir;       // the release goes to mirrorDir/<version>/
    int version = 0;
    QString privateKeyPath;  // signs the product ini
    QString clientType = QStringLiteral("client_linux_amd64");
    QString section = QStringLiteral("files"); // folder of the files on the mirror
    QStringList packPatterns;  // wildcards on file names or relative paths: served gzip-packed
    QStringList previousTreeDirs; // files they have and the new tree has not are deleted on update
    QString changelogPath;     // becomes changelog_client.txt
    bool makePatches = true;   // patches from the previous trees' files (see PatchPublisher)
    int patchLevel = FilePatch::defaultLevel; // zstd level of the patches
};

// Turns a directory tree of one client version into the tree a mirror serves (and refuses
// a tree that the updater could not install: names too long for its staging copies, names
// the product ini cannot carry, two files served under one name, a file that became a
// folder or a folder that became a file since a previous release):
//   <version>/<clientType>.ini       every file with its MD5 and size (packed files in
//                                    the 5-field form), and a "delete" section
//   <version>/<clientType>.ini.sig   the signature of the product ini
//   <version>/<section>/<path>       the files, packed ones as <path>.gz
//   <version>/changelog_client.txt
//   <version>/patches/               patches from the previous trees' files (PatchPublisher)
//
// Every input is checked before anything is written: a mistake (a tree or --previous folder
// that is missing, not a folder, or a published release rather than a client version's
// files, names the updater could not install, a key that is no private key, a missing
// changelog) writes nothing.
class ReleaseBuilder
{
public:
    explicit ReleaseBuilder(const ReleaseOptions& options);

    // True when the release was written; otherwise errorString() says why, and
    // inputMistake() whether it was a mistake in the inputs (nothing written then).
    bool build();
    QString errorString() const { return error; }
    bool inputMistake() const { return mistake; }
    // One line per file written, for the publisher to read.
    const QStringList& log() const { return lines; }
    // Gets a line per file as it is hashed and copied, packed or patched (may be called
    // from several threads at once).
    void setProgress(std::function<void(const QString&)> report) { progress = std::move(report); }
    // Files, bytes, patches and time of the release written.
    QString summary() const;

private:
    using Entry = QPair<QString, QString>; // product ini key and value
    bool fail(const QString& text);
    bool refuse(const QString& text); // an input mistake
    bool checkInputs(QStringList* files, QHash<QString, QStringList>* previousTrees);
    bool checkPrevious(const QString& previous, const QStringList& files, QStringList* previousFiles);
    QStringList deletedFiles(const QStringList& files, const QHash<QString, QStringList>& previousTrees) const;
    // Writes the product ini's text (the names, then the sections) to path.
    bool writeIniText(const QString& path, const QList<Entry>& entries, const QStringList& deletes);
    bool isPacked(const QString& relativePath) const;
    // The product ini key of a file: its path, with ".gz" when it is served packed.
    QString keyOf(const QString& relativePath) const;
    bool checkNames(const QStringList& files);
    bool checkShapeAgainst(const QString& previousDir, const QStringList& previousFiles, const QStringList& files);
    bool addFile(const QString& relativePath, QList<Entry>* entries);
    bool writePatches(const QStringList& files, const QHash<QString, QStringList>& previousTrees);
    bool writeProductIni(const QList<Entry>& entries, const QStringList& deletes);
    // Reads the written product ini back as the updater reads it: every entry must come
    // back as written, packed files with their own path in field 5.
    bool verifyProductIni(const QString& iniPath, const QList<Entry>& entries, const QStringList& deletes);

    ReleaseOptions options;
    QString releaseDir;
    QString error;
    bool mistake = false;
    QStringList lines;
    std::function<void(const QString&)> progress = [](const QString&) {};
    QElapsedTimer timer;
    qint64 treeBytes = 0;
    qint64 downloadBytes = 0;
    int patchesMade = 0;
    qint64 patchBytes = 0;
    struct Published
    {
        QString md5;           // of the file itself
        qint64 downloadSize;   // what the updater downloads for it (the packed file, if packed)
    };
    QHash<QString, Published> published; // by relative path
};

// The files of a tree as paths relative to it, sorted; symbolic links are refused.
QStringList treeFiles(const QString& dir, QString* error);
