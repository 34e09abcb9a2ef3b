#pragma once

#include <QList>
#include <QString>

class QObject;

// One change the installation made to the file system, and how to undo it.
class RollbackData
{
public:
    enum Operation {
        Rename = 0,     // oldPath was renamed to path; undo renames it back
        CreateFile = 1, // a file was created at path; undo removes it
        CreateDir = 2,  // a directory was created at path; undo removes it if empty
        Replace = 3     // a new file took path's place in one step, the file that was there
                        // kept at oldPath; undo puts it back in one step, so path is never missing
    };

    RollbackData(Operation operation, const QString& from, const QString& to);
    RollbackData(Operation operation, const QString& path);

    // Undoes this change; false (with a warning through reporter) if that failed.
    bool rollback(QObject* reporter) const;
    // Emits reporter's message(QString) signal; a null reporter stays silent.
    static void message(QObject* reporter, const QString& text);

    bool operator==(const RollbackData& other) const
    {
        return path == other.path && oldPath == other.oldPath && operation == other.operation;
    }

    QString path;
    QString oldPath;
    Operation operation;
};

// The rollback journal: changes in the order they were made, undone newest first.
class RollbackDataList
{
public:
    void add(const RollbackData& entry);
    void appendList(const RollbackDataList& other);
    // Puts replacement in place of the newest entry equal to entry; false if there is none.
    bool replace(const RollbackData& entry, const RollbackData& replacement);
    void clear();
    // Undoes and removes every entry, newest first, going on past failures; true if all
    // undos succeeded. The journal is empty afterwards.
    bool rollback(QObject* reporter);

    const QList<RollbackData>& entries() const { return list; }

private:
    QList<RollbackData> list;
};
