#include "fileunziptaskspecification.h"

#include <QFile>

#include <zlib.h>

#include <unistd.h>

bool FileUnzipFunc::run()
{
    if (unzipFile(targetPath, sourcePath))
        return true;
    QFile::remove(targetPath);
    return false;
}

bool FileUnzipFunc::unzipFile(const QString& destination, const QString& source)
{
    QFile output(destination);
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return false;
    gzFile input = gzopen(QFile::encodeName(source).constData(), "rb");
    if (!input)
        return false;
    gzrewind(input);

    char buffer[bufferSize];
    for (;;) {
        const int count = gzread(input, buffer, sizeof buffer);
        if (count == 0) {
            // zlib reports a stream that ends in the middle (a truncated file) only here.
            if (gzclose(input) != Z_OK)
                return false;
            // The last buffered bytes reach the file, and the file the disk, before it can
            // take an installed name (durability.h); a failure now is a failed unpack.
            return output.flush() && ::fdatasync(output.handle()) == 0;
        }
        // A read error, or a short write: the caller deletes the destination.
        if (count < 0 || output.write(buffer, count) != count) {
            gzclose(input);
            return false;
        }
    }
}

FileUnzipTaskSpecification::FileUnzipTaskSpecification(RollbackDataList* rollbackList, const QString& sourcePath,
                                                       const QString& targetPath, QObject* parent,
                                                       qreal parentProgressRange)
    : SlowFileOpSpecification(QStringLiteral("Could not unzip '%1' to '%2'").arg(sourcePath, targetPath), rollbackList,
                              sourcePath, targetPath, parent, parentProgressRange)
{
}

ASyncFunc* FileUnzipTaskSpecification::createFunction()
{
    return new FileUnzipFunc(sourcePath, targetPath);
}
