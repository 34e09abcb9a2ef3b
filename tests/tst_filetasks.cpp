#include "configuration.h"
#include "dircreatetaskspecification.h"
#include "filecopytaskspecification.h"
#include "filedeletelisttaskspecification.h"
#include "filedeletetaskspecification.h"
#include "filereplacelisttaskspecification.h"
#include "filerenametaskspecification.h"
#include "fileunziptaskspecification.h"
#include "rollback.h"
#include "support/gzipfile.h"

#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Stands in for the task that plays a journal back: collects its warnings.
class Reporter : public QObject
{
    Q_OBJECT
signals:
    void message(QString message);
};

// Runs a task to its end (thread-pool tasks end through the event loop).
TaskState runToEnd(TaskSpecification& task)
{
    task.execute();
    if (!QTest::qWaitFor([&task] { return task.getState() != Running; }, 10000))
        return Running;
    return task.getState();
}

QStringList messages(const QSignalSpy& spy)
{
    QStringList texts;
    for (const QList<QVariant>& arguments : spy)
        texts << arguments.at(0).toString();
    return texts;
}

using Journal = QList<RollbackData>;

} // namespace

class FileTasksTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void rollbackUndoesNewestFirst();
    void failedUndoDoesNotStopTheWalk();
    void rollbackOfNonEmptyCreatedDir();
    void emptyJournal();

    void copy();
    void copyNeverOverwrites();
    void unpack_data();
    void unpack();
    void rename();
    void renameOntoExistingName();
    void deleteFile_data();
    void deleteFile();
    void dirCreate_data();
    void dirCreate();
    void deleteListReadsItsListWhenItRuns();
    void emptyDeleteListFinishesAtOnce();
    void finishedInstallationIsNeverUndone();
    void linkedFileIsReplacedNotItsTarget();

private:
    QString path(const QString& name) const { return dir->filePath(name); }
    std::unique_ptr<QTemporaryDir> dir;
};

void FileTasksTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

// Undoing after the set-aside copies are gone would delete the new files and restore
// nothing: a finished installation keeps no journal.
void FileTasksTest::finishedInstallationIsNeverUndone()
{
    QVERIFY(QDir(dir->path()).mkpath("temp") && QDir(dir->path()).mkpath("install"));
    Configuration::setAppRootPathForTests(path("install"));
    Configuration configuration;
    configuration.tempDir = path("temp");
    QVERIFY(writeFile(path("temp/a.bin"), "new"));
    QVERIFY(writeFile(path("install/a.bin"), "old"));
    QVERIFY(writeFile(path("temp/b.bin"), "added"));
    QList<FileReplaceSpecification> replaces{{"files", "a.bin", QString(), 0, QString()},
                                             {"files", "b.bin", QString(), 0, QString()}};
    QList<QString> deletes;
    FileReplaceListTaskSpecification installation(&replaces, &deletes, &configuration, nullptr, 1.0);

    QCOMPARE(runToEnd(installation), Finished);
    QCOMPARE(deletes, QStringList{"_old_a.bin"});
    QVERIFY(QFile::remove(path("install/_old_a.bin")));
    installation.reset();
    Configuration::setAppRootPathForTests(QString());
    QCOMPARE(readAll(path("install/a.bin")), QByteArray("new"));
    QCOMPARE(readAll(path("install/b.bin")), QByteArray("added"));
}

// An installed file that is a symbolic link: the link gives way to the new file and is
// set aside as it is; what it points to is neither written nor deleted.
void FileTasksTest::linkedFileIsReplacedNotItsTarget()
{
    QVERIFY(QDir(dir->path()).mkpath("temp") && QDir(dir->path()).mkpath("install"));
    Configuration::setAppRootPathForTests(path("install"));
    Configuration configuration;
    configuration.tempDir = path("temp");
    QVERIFY(writeFile(path("temp/a.bin"), "new"));
    QVERIFY(writeFile(path("outside.bin"), "outside"));
    QVERIFY(QFile::link(path("outside.bin"), path("install/a.bin")));
    QList<FileReplaceSpecification> replaces{{"files", "a.bin", QString(), 0, QString()}};
    QList<QString> deletes;
    FileReplaceListTaskSpecification installation(&replaces, &deletes, &configuration, nullptr, 1.0);
    QCOMPARE(runToEnd(installation), Finished);
    FileDeleteListTaskSpecification deletion(&deletes, nullptr, 1.0);
    QCOMPARE(runToEnd(deletion), Finished);
    Configuration::setAppRootPathForTests(QString());

    QVERIFY(!QFileInfo(path("install/a.bin")).isSymLink());
    QCOMPARE(readAll(path("install/a.bin")), QByteArray("new"));
    QCOMPARE(readAll(path("outside.bin")), QByteArray("outside"));
    QVERIFY(!QFileInfo(path("install/_old_a.bin")).isSymLink());
}

void FileTasksTest::rollbackUndoesNewestFirst()
{
    // Forward: created d, created d/f, renamed x to x_old.
    QVERIFY(QDir(dir->path()).mkdir("d"));
    QVERIFY(writeFile(path("d/f"), "new"));
    QVERIFY(writeFile(path("x_old"), "old x"));
    RollbackDataList journal;
    journal.add(RollbackData(RollbackData::CreateDir, path("d")));
    journal.add(RollbackData(RollbackData::CreateFile, path("d/f")));
    journal.add(RollbackData(RollbackData::Rename, path("x"), path("x_old")));

    Reporter reporter;
    QSignalSpy warnings(&reporter, &Reporter::message);
    QVERIFY(journal.rollback(&reporter));
    QVERIFY(warnings.isEmpty());
    QVERIFY(journal.entries().isEmpty());
    QCOMPARE(readAll(path("x")), QByteArray("old x"));
    QVERIFY(!QFileInfo::exists(path("x_old")));
    QVERIFY(!QFileInfo::exists(path("d")));
}

void FileTasksTest::failedUndoDoesNotStopTheWalk()
{
    QVERIFY(QDir(dir->path()).mkdir("d"));
    QVERIFY(writeFile(path("d/f"), "new"));
    QVERIFY(writeFile(path("x_old"), "old x"));
    QVERIFY(writeFile(path("x"), "x is back")); // the rename back cannot happen
    RollbackDataList journal;
    journal.add(RollbackData(RollbackData::CreateDir, path("d")));
    journal.add(RollbackData(RollbackData::CreateFile, path("d/f")));
    journal.add(RollbackData(RollbackData::Rename, path("x"), path("x_old")));

    Reporter reporter;
    QSignalSpy warnings(&reporter, &Reporter::message);
    QVERIFY(!journal.rollback(&reporter));
    QCOMPARE(messages(warnings),
             QStringList{QStringLiteral("warning: rollback rename %1 to %2 failed").arg(path("x"), path("x_old"))});
    QVERIFY(!QFileInfo::exists(path("d")));
    QCOMPARE(readAll(path("x")), QByteArray("x is back"));
    QVERIFY(journal.entries().isEmpty());
}

void FileTasksTest::rollbackOfNonEmptyCreatedDir()
{
    QVERIFY(QDir(dir->path()).mkdir("d"));
    QVERIFY(writeFile(path("d/someone_elses"), "kept"));
    RollbackDataList journal;
    journal.add(RollbackData(RollbackData::CreateDir, path("d")));
    journal.add(RollbackData(RollbackData::CreateFile, path("gone_already")));

    Reporter reporter;
    QSignalSpy warnings(&reporter, &Reporter::message);
    QVERIFY(!journal.rollback(&reporter));
    QCOMPARE(messages(warnings),
             QStringList({QStringLiteral("warning: rollback create file %1 failed").arg(path("gone_already")),
                          QStringLiteral("warning: rollback create dir %1 failed").arg(path("d"))}));
    QCOMPARE(readAll(path("d/someone_elses")), QByteArray("kept"));
}

void FileTasksTest::emptyJournal()
{
    RollbackDataList journal;
    Reporter reporter;
    QSignalSpy warnings(&reporter, &Reporter::message);
    QVERIFY(journal.rollback(&reporter));
    QVERIFY(warnings.isEmpty());
}

void FileTasksTest::copy()
{
    QVERIFY(writeFile(path("source"), sampleContent()));
    RollbackDataList journal;
    FileCopyTaskSpecification task(&journal, path("source"), path("target"), nullptr, 1.0);
    QCOMPARE(runToEnd(task), Finished);
    QCOMPARE(readAll(path("target")), sampleContent());
    QCOMPARE(journal.entries(), Journal{RollbackData(RollbackData::CreateFile, path("target"))});

    FileCopyTaskSpecification withoutJournal(nullptr, path("source"), path("target2"), nullptr, 1.0);
    QCOMPARE(runToEnd(withoutJournal), Finished);
}

void FileTasksTest::copyNeverOverwrites()
{
    QVERIFY(writeFile(path("source"), "new"));
    QVERIFY(writeFile(path("target"), "installed"));
    RollbackDataList journal;
    FileCopyTaskSpecification task(&journal, path("source"), path("target"), nullptr, 1.0);
    QSignalSpy log(&task, &TaskSpecification::message);
    QSignalSpy errors(&task, &TaskSpecification::error);
    QCOMPARE(runToEnd(task), ErrorCanceled);
    QCOMPARE(messages(log), QStringList{QStringLiteral("Could not copy '%1' to '%2'").arg(path("source"), path("target"))});
    QVERIFY(errors.isEmpty());
    QCOMPARE(readAll(path("target")), QByteArray("installed"));
    QVERIFY(journal.entries().isEmpty());
}

// Each row: how the source is made, what was at the destination before, and the outcome.
void FileTasksTest::unpack_data()
{
    QTest::addColumn<QString>("source");
    QTest::addColumn<QByteArray>("existingTarget");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("gzip") << "gzip" << QByteArray() << true << sampleContent();
    QTest::newRow("existing destination is truncated")
        << "gzip" << QByteArray(sampleContent(20000)) << true << sampleContent();
    QTest::newRow("empty gzip member") << "empty gzip" << QByteArray() << true << QByteArray();
    QTest::newRow("plain file is copied") << "plain" << QByteArray() << true << sampleContent();
    QTest::newRow("corrupt half-way") << "corrupt" << QByteArray() << false << QByteArray();
    QTest::newRow("truncated") << "truncated" << QByteArray() << false << QByteArray();
    QTest::newRow("missing source") << "missing" << QByteArray("earlier") << false << QByteArray();
}

void FileTasksTest::unpack()
{
    QFETCH(QString, source);
    QFETCH(QByteArray, existingTarget);
    QFETCH(bool, ok);
    QFETCH(QByteArray, expected);

    const QString sourcePath = path("package.gz");
    if (source == QLatin1String("plain")) {
        QVERIFY(writeFile(sourcePath, sampleContent()));
    } else if (source != QLatin1String("missing")) {
        QVERIFY(writeGzip(sourcePath, source == QLatin1String("empty gzip") ? QByteArray() : sampleContent()));
        QByteArray packed = readAll(sourcePath);
        if (source == QLatin1String("corrupt")) {
            for (int i = packed.size() / 2; i < packed.size() / 2 + 64; ++i)
                packed[i] = char(packed[i] ^ 0x5a);
        } else if (source == QLatin1String("truncated")) {
            packed.truncate(packed.size() / 2);
        }
        QVERIFY(writeFile(sourcePath, packed));
    }
    const QString target = path("unpacked");
    if (!existingTarget.isNull())
        QVERIFY(writeFile(target, existingTarget));

    RollbackDataList journal;
    FileUnzipTaskSpecification task(&journal, sourcePath, target, nullptr, 1.0);
    QSignalSpy log(&task, &TaskSpecification::message);
    QCOMPARE(runToEnd(task), ok ? Finished : ErrorCanceled);
    if (ok) {
        QCOMPARE(readAll(target), expected);
        QCOMPARE(journal.entries(), Journal{RollbackData(RollbackData::CreateFile, target)});
        QVERIFY(log.isEmpty());
    } else {
        QVERIFY2(!QFileInfo::exists(target), "a failed unpack leaves no destination");
        QVERIFY(journal.entries().isEmpty());
        QCOMPARE(messages(log), QStringList{QStringLiteral("Could not unzip '%1' to '%2'").arg(sourcePath, target)});
    }
}

void FileTasksTest::rename()
{
    QVERIFY(writeFile(path("old"), "content"));
    RollbackDataList journal;
    FileRenameTaskSpecification task(path("old"), path("new"), &journal, nullptr, 1.0);
    task.execute(); // synchronous: ended before execute() returns
    QCOMPARE(task.getState(), Finished);
    QCOMPARE(readAll(path("new")), QByteArray("content"));
    QCOMPARE(journal.entries(), Journal{RollbackData(RollbackData::Rename, path("old"), path("new"))});
}

void FileTasksTest::renameOntoExistingName()
{
    QVERIFY(writeFile(path("old"), "content"));
    QVERIFY(writeFile(path("new"), "in the way"));
    RollbackDataList journal;
    FileRenameTaskSpecification task(path("old"), path("new"), &journal, nullptr, 1.0);
    QSignalSpy log(&task, &TaskSpecification::message);
    QSignalSpy errors(&task, &TaskSpecification::error);
    task.execute();
    QCOMPARE(task.getState(), ErrorCanceled);
    QCOMPARE(messages(log), QStringList{QStringLiteral("Could not rename '%1' to '%2'").arg(path("old"), path("new"))});
    QVERIFY(errors.isEmpty());
    QVERIFY(journal.entries().isEmpty());
}

void FileTasksTest::deleteFile_data()
{
    QTest::addColumn<bool>("strict");
    QTest::addColumn<bool>("exists");
    QTest::addColumn<int>("end");
    QTest::addColumn<bool>("logged");

    QTest::newRow("strict, existing") << true << true << int(Finished) << false;
    QTest::newRow("strict, missing") << true << false << int(ErrorCanceled) << true;
    QTest::newRow("not strict, existing") << false << true << int(Finished) << false;
    QTest::newRow("not strict, missing") << false << false << int(Finished) << false;
}

void FileTasksTest::deleteFile()
{
    QFETCH(bool, strict);
    QFETCH(bool, exists);
    QFETCH(int, end);
    QFETCH(bool, logged);

    if (exists)
        QVERIFY(writeFile(path("victim"), "x"));
    FileDeleteTaskSpecification task(strict, path("victim"), nullptr, 1.0);
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();
    QCOMPARE(int(task.getState()), end);
    QVERIFY(!QFileInfo::exists(path("victim")));
    QCOMPARE(messages(log), logged ? QStringList{QStringLiteral("Could not delete '%1'").arg(path("victim"))}
                                   : QStringList());
}

// Each row: what exists beforehand ("dir:" or "file:" paths), the path to create (a
// relative path without "/" is used as it is), the journal expected and the message.
void FileTasksTest::dirCreate_data()
{
    QTest::addColumn<QStringList>("existing");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QStringList>("journalled");
    QTest::addColumn<QString>("message");

    QTest::newRow("already there") << QStringList{"dir:a"} << "a" << QStringList() << "";
    QTest::newRow("missing ancestors outermost first")
        << QStringList{"dir:a"} << "a/b/c" << QStringList{"a/b", "a/b/c"} << "";
    QTest::newRow("a file in the way") << QStringList{"file:a"} << "a"
                                       << QStringList() << "Could not create dir '%1' because it already exists and is not a dir";
    QTest::newRow("parent is a file") << QStringList{"file:a"} << "a/b" << QStringList() << "unable to create dir %1";
    QTest::newRow("bare relative name") << QStringList() << "#nodirpart" << QStringList()
                                        << "Could not create dir nodirpart";
}

void FileTasksTest::dirCreate()
{
    QFETCH(QStringList, existing);
    QFETCH(QString, target);
    QFETCH(QStringList, journalled);
    QFETCH(QString, message);

    for (const QString& item : existing) {
        if (item.startsWith("dir:"))
            QVERIFY(QDir(dir->path()).mkpath(item.mid(4)));
        else
            QVERIFY(writeFile(path(item.mid(5)), "file"));
    }
    const QString fullTarget = target.startsWith('#') ? target.mid(1) : path(target);
    RollbackDataList journal;
    DirCreateTaskSpecification task(fullTarget, &journal, nullptr, 1.0);
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();

    Journal expected;
    for (const QString& created : journalled)
        expected << RollbackData(RollbackData::CreateDir, path(created));
    QCOMPARE(journal.entries(), expected);
    QCOMPARE(task.getState(), message.isEmpty() ? Finished : ErrorCanceled);
    QCOMPARE(messages(log), message.isEmpty() ? QStringList() : QStringList{message.arg(fullTarget)});
    if (message.isEmpty())
        QVERIFY(QFileInfo(fullTarget).isDir());
}

void FileTasksTest::deleteListReadsItsListWhenItRuns()
{
    Configuration::setAppRootPathForTests(dir->path());
    QVERIFY(QDir(dir->path()).mkdir("sub"));
    QVERIFY(writeFile(path("sub/relative"), "x"));
    QVERIFY(writeFile(path("late"), "x"));
    QTemporaryDir elsewhere;
    const QString absolute = elsewhere.filePath("absolute");
    QVERIFY(writeFile(absolute, "x"));

    QList<QString> names{QStringLiteral("sub/relative"), QStringLiteral("missing")};
    FileDeleteListTaskSpecification task(&names, nullptr, 1.0);
    names << absolute << QStringLiteral("late"); // added after the task was built
    QSignalSpy log(&task, &TaskSpecification::message);
    QCOMPARE(runToEnd(task), Finished);
    Configuration::setAppRootPathForTests(QString());

    QCOMPARE(messages(log), QStringList{QStringLiteral("Starting deleting files")});
    QVERIFY(!QFileInfo::exists(path("sub/relative")));
    QVERIFY(!QFileInfo::exists(path("late")));
    QVERIFY(!QFileInfo::exists(absolute));
    QVERIFY(qFuzzyCompare(task.getProgress(), 1.0));
}

void FileTasksTest::emptyDeleteListFinishesAtOnce()
{
    QList<QString> names;
    FileDeleteListTaskSpecification task(&names, nullptr, 0.05);
    task.execute();
    QCOMPARE(task.getState(), Finished);
    QVERIFY(qFuzzyCompare(task.getProgress(), 0.05));
}

QTEST_GUILESS_MAIN(FileTasksTest)
#include "tst_filetasks.moc"
