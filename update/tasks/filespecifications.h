#pragma once

#include "containedpath.h"

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
