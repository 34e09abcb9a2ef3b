#include "sessionentry.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QString kindOf(mode_t mode)
{
    if (S_ISLNK(mode))
        return QStringLiteral("symbolic link");
    if (S_ISFIFO(mode))
        return QStringLiteral("FIFO");
    if (S_ISDIR(mode))
        return QStringLiteral("folder");
    if (S_ISSOCK(mode))
        return QStringLiteral("socket");
    if (S_ISREG(mode))
        return QStringLiteral("file");
    return QStringLiteral("device");
}

} // namespace

QStringList clearSessionPath(const QString& root, const QString& relativePath)
{
    QStringList lines;
    const QStringList parts = relativePath.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString path = root;
    for (qsizetype n = 0; n < parts.size(); ++n) {
        path += QLatin1Char('/') + parts.at(n);
        const QByteArray encoded = QFile::encodeName(path);
        const bool last = n == parts.size() - 1;
        struct stat info {};
        if (::lstat(encoded.constData(), &info) == 0) {
            if (last ? S_ISREG(info.st_mode) : S_ISDIR(info.st_mode))
                continue;
            // A real folder goes with what it holds; links in it are removed, not followed.
            const bool removed = S_ISDIR(info.st_mode) ? QDir(path).removeRecursively() : ::unlink(encoded.constData()) == 0;
            lines << QStringLiteral("%1 %2 in the update's temporary folder, where %3 goes")
                         .arg(removed ? QStringLiteral("Removed the") : QStringLiteral("Could not remove the"),
                              kindOf(info.st_mode) + QLatin1Char(' ') + path,
                              last ? QStringLiteral("a downloaded file") : QStringLiteral("a folder"));
        }
        // A missing folder is made; a failure shows when the file is opened.
        if (!last)
            ::mkdir(encoded.constData(), S_IRWXU);
    }
    return lines;
}

int openSessionFile(const QString& path, bool append)
{
    const int fd = ::open(QFile::encodeName(path).constData(),
                          O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (append ? O_APPEND : O_TRUNC),
                          0666); // as any new file: a hard link of it may become an installed file
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

bool writeAllTo(int fd, const char* data, qint64 size, QString* refusal)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, std::size_t(size));
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0) {
            *refusal = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : EIO));
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}
