#include "durability.h"

#include <QFile>

#include <fcntl.h>
#include <unistd.h>

namespace {

bool flush(const QString& path, int flags, int (*sync)(int))
{
    const int fd = ::open(QFile::encodeName(path).constData(), flags | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool flushed = sync(fd) == 0;
    ::close(fd);
    return flushed;
}

} // namespace

bool flushFileData(const QString& path)
{
    return flush(path, O_RDONLY, ::fdatasync);
}

bool flushDirectory(const QString& path)
{
    return flush(path, O_RDONLY | O_DIRECTORY, ::fsync);
}
