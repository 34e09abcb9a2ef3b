#pragma once

#include "containedpath.h"
#include "filepatch.h"

#include <QList>
#include <QString>

// One file of the product description to download: from section + "/" + relativePath
// on a mirror into the temporary directory.
struct FileDownloadSpecification
{
    QString section;
    QString relativePath;
    QString md5;
    quint64 size = 0;
    // What a patch starts from and must make: the installed copy (relative to the
    // installation; installedMd5 empty when there is none) and the file it becomes (the
    // unpacked file for a packed entry).
    QString installedPath{};
    QString installedMd5{};
    QString resultMd5{};
    quint64 resultSize = 0;
    bool packed = false;
    // A published patch from the installed copy (its target empty: none). Its MD5 comes
    // from the unsigned index and only guards the transfer: what it makes is judged by the
    // product ini.
    FilePatch::IndexEntry patch{};

    // Where a patch's result lies in the temporary directory: where the download would
    // lie, or beside the packed download.
    QString patchedPath() const { return packed ? relativePath + unpackedSuffix() : relativePath; }
    static QString unpackedSuffix() { return QStringLiteral(".unpacked"); }
};

// One file of the product description to install.
struct FileReplaceSpecification
{
    QString section;
    QString relativePath;
    QString unzippedMd5;
    quint64 unzippedSize = 0;
    QString unzippedPath; // empty: installed as downloaded; else unpacked to this path

    bool hasUnzip() const { return !unzippedPath.isEmpty(); }
    // The installed file's path relative to the installation directory.
    QString pureDestFilePath() const { return hasUnzip() ? unzippedPath : relativePath; }
    // The installed path with prefix put before its file name ("a/b" → "a/<prefix>b").
    QString destFileName(const QString& prefix) const;
    // The name the previously installed copy is set aside under during installation.
    QString oldDestFileName() const;
};

// The lists one update works through.
struct FileSpecifications
{
    QList<FileDownloadSpecification> downloads;
    QList<FileReplaceSpecification> replaces;
    QList<QString> deletes;

    void clear();
};
