#include "filepatch.h"

#include <QCryptographicHash>
#include <QFile>
#include <QRegularExpression>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zstd.h>

namespace {

constexpr int smallestWindowLog = 10; // zstd's own minimum

// The window that reaches from the end of the result back to the start of the base.
int windowLogFor(qint64 span)
{
    int log = smallestWindowLog;
    while ((qint64(1) << log) < span)
        ++log;
    return log;
}

QString systemError(const QString& what, const QString& path)
{
    return QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
}

// A whole file mapped into memory (nothing for an empty file); unmapped and closed however
// the caller leaves.
class MappedFile
{
public:
    MappedFile() = default;
    MappedFile(const MappedFile&) = delete;
    MappedFile& operator=(const MappedFile&) = delete;
    ~MappedFile()
    {
        if (bytes)
            ::munmap(bytes, size_t(length));
        if (fd >= 0)
            ::close(fd);
    }

    // Maps a regular file for reading; a FIFO or device is refused without waiting on it.
    bool mapForReading(const QString& path, QString* error)
    {
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        struct stat info{};
        if (fd < 0 || ::fstat(fd, &info) != 0)
            return fail(systemError(QStringLiteral("Cannot open"), path), error);
        if (!S_ISREG(info.st_mode))
            return fail(QStringLiteral("%1 is not a regular file").arg(path), error);
        return map(info.st_size, PROT_READ, path, error);
    }

    // Creates the file anew with its size's blocks reserved (a full disk fails here, not as
    // a fault when a mapped page is written) and maps it for writing.
    bool createForWriting(const QString& path, qint64 size, QString* error)
    {
        const QByteArray name = QFile::encodeName(path);
        ::unlink(name.constData());
        // As any new file (the umask applies): the mode a download gets.
        fd = ::open(name.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd < 0)
            return fail(systemError(QStringLiteral("Cannot create"), path), error);
        if (size > 0) {
            const int code = ::posix_fallocate(fd, 0, size);
            if (code != 0) {
                errno = code;
                return fail(systemError(QStringLiteral("Cannot write"), path), error);
            }
        }
        return map(size, PROT_READ | PROT_WRITE, path, error);
    }

    bool flush(const QString& path, QString* error)
    {
        if ((bytes && ::msync(bytes, size_t(length), MS_SYNC) != 0) || ::fdatasync(fd) != 0)
            return fail(systemError(QStringLiteral("Cannot write"), path), error);
        return true;
    }

    char* data() const { return static_cast<char*>(bytes); }
    qint64 size() const { return length; }

private:
    bool map(qint64 size, int protection, const QString& path, QString* error)
    {
        length = size;
        if (size == 0)
            return true;
        void* mapped = ::mmap(nullptr, size_t(size), protection, MAP_SHARED, fd, 0);
        if (mapped == MAP_FAILED)
            return fail(systemError(QStringLiteral("Cannot map"), path), error);
        bytes = mapped;
        return true;
    }

    static bool fail(const QString& text, QString* error)
    {
        *error = text;
        return false;
    }

    int fd = -1;
    void* bytes = nullptr;
    qint64 length = 0;
};

QString zstdError(size_t code)
{
    return QString::fromLatin1(ZSTD_getErrorName(code));
}

} // namespace

namespace FilePatch {

int maxLevel()
{
    return ZSTD_maxCLevel();
}

QByteArray IndexEntry::line() const
{
    return QStringLiteral("%1 %2 %3 %4").arg(target, base).arg(size).arg(md5).toLatin1();
}

bool IndexEntry::parse(const QByteArray& text, IndexEntry* entry)
{
    static const QRegularExpression form(QStringLiteral("^([0-9a-f]{32}) ([0-9a-f]{32}) ([0-9]{1,18}) ([0-9a-f]{32})$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(text.trimmed()));
    if (!match.hasMatch())
        return false;
    *entry = {match.captured(1), match.captured(2), match.captured(3).toLongLong(), match.captured(4)};
    return true;
}

QByteArray make(const QByteArray& base, const QByteArray& target, int level, QString* error)
{
    const qint64 span = qint64(base.size()) + target.size();
    if (span > maxSpan) {
        *error = QStringLiteral("the file and its earlier version together exceed the %1 bytes a patch may span")
                     .arg(maxSpan);
        return {};
    }
    if (level < 1 || level > maxLevel()) {
        *error = QStringLiteral("the patch level must be 1 to %1").arg(maxLevel());
        return {};
    }
    ZSTD_CCtx* context = ZSTD_createCCtx();
    QByteArray patch(qsizetype(ZSTD_compressBound(size_t(target.size()))), Qt::Uninitialized);
    size_t code = ZSTD_CCtx_setParameter(context, ZSTD_c_compressionLevel, level);
    for (const auto& [parameter, value] : {std::pair{ZSTD_c_enableLongDistanceMatching, 1},
                                          std::pair{ZSTD_c_windowLog, windowLogFor(span)},
                                          std::pair{ZSTD_c_checksumFlag, 1}}) {
        if (!ZSTD_isError(code))
            code = ZSTD_CCtx_setParameter(context, parameter, value);
    }
    if (!ZSTD_isError(code))
        code = ZSTD_CCtx_refPrefix(context, base.constData(), size_t(base.size()));
    if (!ZSTD_isError(code))
        code = ZSTD_compress2(context, patch.data(), size_t(patch.size()), target.constData(), size_t(target.size()));
    ZSTD_freeCCtx(context);
    if (ZSTD_isError(code)) {
        *error = zstdError(code);
        return {};
    }
    patch.resize(qsizetype(code));
    return patch;
}

Outcome apply(const QString& basePath, const QString& patchPath, const QString& resultPath, qint64 expectedSize,
              QString* md5, QString* error)
{
    MappedFile base;
    MappedFile patch;
    if (!base.mapForReading(basePath, error) || !patch.mapForReading(patchPath, error))
        return Outcome::LocalFailure;
    if (expectedSize < 0 || base.size() + expectedSize > maxSpan) {
        *error = QStringLiteral("%1 is too large to be patched").arg(resultPath);
        return Outcome::LocalFailure;
    }
    Outcome outcome = Outcome::LocalFailure;
    MappedFile result;
    if (result.createForWriting(resultPath, expectedSize, error)) {
        outcome = Outcome::Refused;
        // Decoded in one pass straight into the result's pages: the decoder keeps no window of
        // its own, and the result's size bounds what it writes.
        ZSTD_DCtx* context = ZSTD_createDCtx();
        size_t code = ZSTD_DCtx_setParameter(context, ZSTD_d_windowLogMax, windowLogFor(base.size() + expectedSize));
        if (!ZSTD_isError(code))
            code = ZSTD_DCtx_refPrefix(context, base.data(), size_t(base.size()));
        if (!ZSTD_isError(code))
            code = ZSTD_decompressDCtx(context, result.data(), size_t(expectedSize), patch.data(),
                                       size_t(patch.size()));
        ZSTD_freeDCtx(context);
        if (ZSTD_isError(code)) {
            *error = QStringLiteral("The patch %1 does not apply: %2").arg(patchPath, zstdError(code));
        } else if (qint64(code) != expectedSize) {
            *error = QStringLiteral("The patch %1 makes %2 bytes, not %3").arg(patchPath).arg(code).arg(expectedSize);
        } else if (!result.flush(resultPath, error)) {
            outcome = Outcome::LocalFailure;
        } else {
            *md5 = QString::fromLatin1(
                QCryptographicHash::hash(QByteArrayView(result.data(), expectedSize), QCryptographicHash::Md5)
                    .toHex());
            outcome = Outcome::Applied;
        }
    }
    if (outcome != Outcome::Applied)
        ::unlink(QFile::encodeName(resultPath).constData());
    return outcome;
}

} // namespace FilePatch
