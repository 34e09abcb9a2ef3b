#pragma once

#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

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
};

// Turns a directory tree of one client version into the tree a mirror serves:
//   <version>/<clientType>.ini       every file with its MD5 and size (packed files in
//                                    the 5-field form), and a "delete" section
//   <version>/<clientType>.ini.sig   the signature of the product ini
//   <version>/<section>/<path>       the files, packed ones as <path>.gz
//   <version>/changelog_client.txt
class ReleaseBuilder
{
public:
    explicit ReleaseBuilder(const ReleaseOptions& options);

    // True when the release was written; otherwise errorString() says why.
    bool build();
    QString errorString() const { return error; }
    // One line per file written, for the publisher to read.
    const QStringList& log() const { return lines; }

private:
    bool fail(const QString& text);
    bool isPacked(const QString& relativePath) const;
    using Entry = QPair<QString, QString>; // product ini key and value
    bool addFile(const QString& relativePath, QList<Entry>* entries);
    bool writeProductIni(const QList<Entry>& entries, const QStringList& deletes);

    ReleaseOptions options;
    QString releaseDir;
    QString error;
    QStringList lines;
};

// The files of a tree as paths relative to it, sorted; symbolic links are refused.
QStringList treeFiles(const QString& dir, QString* error);
