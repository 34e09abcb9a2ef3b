#pragma once

#include <QByteArray>
#include <QString>

// Patches from one version of a file to the next: a zstd frame of the new file compressed
// with the old file as its reference prefix (long-distance matching, a window that covers
// both), so that what the two share costs a few bytes. The publisher makes them; the
// updater applies them to the installed file and judges the result by its MD5.
namespace FilePatch {

// The largest base plus result a patch may span (1 GiB): the window of every patch.
constexpr qint64 maxSpan = qint64(1) << 30;
constexpr int defaultLevel = 19;
// The highest zstd level.
int maxLevel();

// Where a release's patches lie on its mirror, beside its files: the folder holds an index,
// one line per patch, and the patches, each named after what it makes and starts from.
inline QString folder()
{
    return QStringLiteral("patches");
}
inline QString indexName()
{
    return QStringLiteral("index");
}

// One line of an index: "TARGET BASE SIZE MD5", the MD5 of the file the patch makes (as
// the product ini gives it; unpacked for a packed entry), the MD5 of the file it starts
// from, and the patch's size and its own MD5.
struct IndexEntry
{
    QString target;
    QString base;
    qint64 size = 0;
    QString md5;

    // What identifies the patch: its target and its base.
    QString key() const { return target + QLatin1Char(' ') + base; }
    // The patch's name in the folder.
    QString fileName() const { return target + QLatin1Char('-') + base + QLatin1String(".zst"); }
    QByteArray line() const;
    // Reads a line as written by line(); false for anything else.
    static bool parse(const QByteArray& text, IndexEntry* entry);
};

// The patch from base to target, or an empty array when no patch can be made (error says
// why: too large a span, a level zstd does not know).
QByteArray make(const QByteArray& base, const QByteArray& target, int level, QString* error);

enum class Outcome {
    Applied,
    Refused,     // the patch does not make expectedSize bytes from this base
    LocalFailure // the files could not be read, or the result not written (a full disk)
};

// Applies the patch file to the base file, writing the result to resultPath (created anew,
// mode 0666 less the umask, as a download's, its blocks reserved before any byte is written, flushed). The result must have
// exactly expectedSize bytes: a patch that would write more or fewer is refused, and
// nothing beyond expectedSize is ever written or held in memory (the three files are
// mapped, not read). When applied, md5 receives the result's MD5 (hex); otherwise the
// result file is removed and error says why.
Outcome apply(const QString& basePath, const QString& patchPath, const QString& resultPath, qint64 expectedSize,
              QString* md5, QString* error);

} // namespace FilePatch
