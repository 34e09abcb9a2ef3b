#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <zlib.h>

// Writes content as a real gzip stream (one member) to path.
inline bool writeGzip(const QString& path, const QByteArray& content)
{
    gzFile out = gzopen(QFile::encodeName(path).constData(), "wb");
    if (!out)
        return false;
    const bool written = content.isEmpty() || gzwrite(out, content.constData(), unsigned(content.size())) == content.size();
    return gzclose(out) == Z_OK && written;
}

inline bool writeFile(const QString& path, const QByteArray& content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(content) == content.size();
}

inline QByteArray readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Text that compresses, but not to nothing: several 16 KiB buffers' worth.
inline QByteArray sampleContent(int lines = 8000)
{
    QByteArray content;
    for (int i = 0; i < lines; ++i)
        content += "line " + QByteArray::number(i * 7919 % 100003) + " of the sample package file\n";
    return content;
}
