#include "rollback.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>

#include <cstdio>

RollbackData::RollbackData(Operation operation, const QString& from, const QString& to)
    : path(to), oldPath(from), operation(operation)
{
}

RollbackData::RollbackData(Operation operation, const QString& path) : path(path), operation(operation) {}

void RollbackData::message(QObject* reporter, const QString& text)
{
    if (reporter)
        QMetaObject::invokeMethod(reporter, "message", Qt::AutoConnection, Q_ARG(QString, text));
}

bool RollbackData::rollback(QObject* reporter) const
{
    switch (operation) {
    case Rename:
        if (QFile::rename(path, oldPath))
            return true;
        message(reporter, QStringLiteral("warning: rollback rename %1 to %2 failed").arg(oldPath, path));
        return false;
    case Replace:
        // rename() replaces the newer file atomically; a plain QFile::rename would refuse.
        if (std::rename(QFile::encodeName(oldPath).constData(), QFile::encodeName(path).constData()) == 0)
            return true;
        message(reporter, QStringLiteral("warning: rollback rename %1 to %2 failed").arg(path, oldPath));
        return false;
    case CreateFile:
        if (QFile::remove(path))
            return true;
        message(reporter, QStringLiteral("warning: rollback create file %1 failed").arg(path));
        return false;
    case CreateDir: {
        // rmdir: only an empty directory goes.
        const QFileInfo info(path);
        if (info.dir().rmdir(info.fileName()))
            return true;
        message(reporter, QStringLiteral("warning: rollback create dir %1 failed").arg(path));
        return false;
    }
    }
    qFatal("Should not reach here");
}

void RollbackDataList::add(const RollbackData& entry)
{
    list.append(entry);
}

void RollbackDataList::appendList(const RollbackDataList& other)
{
    list.append(other.list);
}

bool RollbackDataList::replace(const RollbackData& entry, const RollbackData& replacement)
{
    const qsizetype index = list.lastIndexOf(entry);
    if (index < 0)
        return false;
    list[index] = replacement;
    return true;
}

void RollbackDataList::clear()
{
    list.clear();
}

bool RollbackDataList::rollback(QObject* reporter)
{
    bool result = true;
    while (!list.isEmpty()) {
        const RollbackData entry = list.takeLast();
        if (!entry.rollback(reporter))
            result = false;
    }
    return result;
}
