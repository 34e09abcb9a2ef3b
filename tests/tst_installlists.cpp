#include "configuration.h"
#include "filespecifications.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "support/gzipfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QString md5Of(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

QString entry(const QByteArray& content)
{
    return md5Of(content).toUpper() + "::" + QString::number(content.size());
}

QStringList names(const QList<FileDownloadSpecification>& list)
{
    QStringList result;
    for (const FileDownloadSpecification& file : list)
        result << file.relativePath;
    return result;
}

QStringList names(const QList<FileReplaceSpecification>& list)
{
    QStringList result;
    for (const FileReplaceSpecification& file : list)
        result << file.relativePath;
    return result;
}

} // namespace

class InstallListsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void compilesTheLists();
    void invalidLineLeavesTargetUntouched_data();
    void invalidLineLeavesTargetUntouched();
    void onlyDeleteEntriesIsValid();
    void leftoverOldCopiesOfCurrentFilesGo();
    void installedFilesAreNotDeleted();
    void nothingPassesThroughLinkedFolders();
    void destFileName_data();
    void destFileName();

private:
    // Runs the compilation into target; returns the end state.
    TaskState compile(FileSpecifications& target, QStringList* log = nullptr);
    void writeProductIni(const QByteArray& text);
    QString installed(const QString& relative) const { return appRoot->filePath(relative); }

    std::unique_ptr<QTemporaryDir> appRoot;
    std::unique_ptr<QTemporaryDir> temp;
    Configuration configuration;
};

void InstallListsTest::init()
{
    appRoot = std::make_unique<QTemporaryDir>();
    temp = std::make_unique<QTemporaryDir>();
    QVERIFY(appRoot->isValid() && temp->isValid());
    Configuration::setAppRootPathForTests(appRoot->path());
    configuration.tempDir = temp->path();
    configuration.clientType = QStringLiteral("client_linux_amd64");
}

void InstallListsTest::cleanup()
{
    Configuration::setAppRootPathForTests(QString());
}

void InstallListsTest::writeProductIni(const QByteArray& text)
{
    QVERIFY(writeFile(temp->filePath("client_linux_amd64.ini"), text));
}

TaskState InstallListsTest::compile(FileSpecifications& target, QStringList* log)
{
    MakeDownloadReplaceListTaskSpecification task(&configuration, target, nullptr, 0.05);
    if (log)
        connect(&task, &TaskSpecification::message, this, [log](const QString& text) { *log << text; });
    task.execute();
    if (!QTest::qWaitFor([&task] { return task.getState() != Running; }, 10000))
        return Running;
    return task.getState();
}

void InstallListsTest::compilesTheLists()
{
    const QByteArray current = "current contents";
    const QByteArray changedOld = "old contents";
    const QByteArray changedNew = "new contents";
    const QByteArray cachedNew = "cached new contents";
    const QByteArray unpacked = "unpacked library";
    const QByteArray packed = "gzip bytes of the library";

    QVERIFY(QDir(appRoot->path()).mkpath("plugins"));
    QVERIFY(writeFile(installed("current.bin"), current));
    QVERIFY(writeFile(installed("changed.bin"), changedOld));
    QVERIFY(writeFile(installed("cached.bin"), "stale"));
    QVERIFY(writeFile(installed("plugins/libx.so"), unpacked)); // unpacked copy is current
    QVERIFY(writeFile(installed("obsolete.txt"), "old"));
    QVERIFY(writeFile(temp->filePath("cached.bin"), cachedNew)); // verified earlier download
    QVERIFY(writeFile(temp->filePath("changed.bin"), "broken earlier download"));

    writeProductIni("[client]\n"
                    "current.bin=" + entry(current).toUtf8() + "\n"
                    "changed.bin=" + entry(changedNew).toUtf8() + "\n"
                    "cached.bin=" + entry(cachedNew).toUtf8() + "\n"
                    "missing.bin=" + entry("brand new").toUtf8() + "\n"
                    "[libs]\n"
                    "plugins/libx.so.gz=" + entry(packed).toUtf8() + "::" + entry(unpacked).toUtf8() +
                    "::plugins/libx.so\n"
                    "plugins/liby.so.gz=" + entry(packed).toUtf8() + "::" + entry("new y").toUtf8() +
                    "::plugins/liby.so\n"
                    "[delete]\n"
                    "obsolete.txt=\n"
                    "never-installed.txt=\n");

    FileSpecifications target;
    QStringList log;
    QCOMPARE(compile(target, &log), Finished);
    QCOMPARE(log, QStringList{"Compiling download and replace list"});
    QCOMPARE(names(target.replaces),
             QStringList({"cached.bin", "changed.bin", "missing.bin", "plugins/liby.so.gz"}));
    QCOMPARE(names(target.downloads), QStringList({"changed.bin", "missing.bin", "plugins/liby.so.gz"}));
    QCOMPARE(target.deletes, QStringList{"obsolete.txt"});

    const FileReplaceSpecification& packedEntry = target.replaces.at(3);
    QCOMPARE(packedEntry.section, QStringLiteral("libs"));
    QVERIFY(packedEntry.hasUnzip());
    QCOMPARE(packedEntry.unzippedPath, QStringLiteral("plugins/liby.so"));
    QCOMPARE(packedEntry.unzippedMd5, md5Of("new y").toUpper());
    QCOMPARE(packedEntry.unzippedSize, quint64(5));
    const FileDownloadSpecification& packedDownload = target.downloads.at(2);
    QCOMPARE(packedDownload.md5, md5Of(packed).toUpper());
    QCOMPARE(packedDownload.size, quint64(packed.size()));
    QCOMPARE(packedDownload.section, QStringLiteral("libs"));
}

void InstallListsTest::invalidLineLeavesTargetUntouched_data()
{
    QTest::addColumn<QByteArray>("ini");
    QTest::addColumn<QString>("message");

    const QByteArray valid = "good.bin=" + entry("good").toUtf8() + "\n";
    QTest::newRow("three fields") << QByteArray("[client]\n" + valid + "bad.bin=a::1::b\n")
                                  << "Warning: product ini contains invalid line in section client";
    QTest::newRow("four fields") << QByteArray("[other]\nbad.bin=a::1::b::2\n[client]\n" + valid)
                                 << "Warning: product ini contains invalid line in section other";
    QTest::newRow("one field") << QByteArray("[client]\nbad.bin=abc\n")
                               << "Warning: product ini contains invalid line in section client";
    // Paths that would lead out of the installation or temporary directory, or the
    // version's folder on the mirror, as the settings reader decodes them.
    const QString inClient = QStringLiteral("Warning: product ini contains invalid line in section client");
    for (const char* key : {"../victim.txt", "a/../../../x", "..%2F..%2Fx", "..\\..\\x"})
        QTest::newRow(qPrintable(QStringLiteral("key %1").arg(key)))
            << QByteArray("[client]\n" + valid + key + "=" + entry("x").toUtf8() + "\n") << inClient;
    QTest::newRow("field 5 leaving") << QByteArray("[client]\nx.gz=" + entry("p").toUtf8() + "::" +
                                                   entry("x").toUtf8() + "::../../x\n" + valid)
                                     << inClient;
    QTest::newRow("delete entry leaving") << QByteArray("[delete]\n../victim.txt=\n[client]\n" + valid)
                                          << "Warning: product ini contains invalid line in section delete";
    QTest::newRow("section ..") << QByteArray("[..]\n" + valid)
                                << "Warning: product ini contains invalid line in section ..";
    QTest::newRow("empty ini") << QByteArray() << "No files in product ini";
    QTest::newRow("missing ini") << QByteArray() << "No files in product ini";
    QTest::newRow("keys outside sections only") << QByteArray("loose=1\n") << "No files in product ini";
}

void InstallListsTest::invalidLineLeavesTargetUntouched()
{
    QFETCH(QByteArray, ini);
    QFETCH(QString, message);

    if (QByteArray(QTest::currentDataTag()) != "missing ini")
        writeProductIni(ini);
    FileSpecifications target;
    target.downloads << FileDownloadSpecification{"earlier", "kept.bin", "00", 1};
    target.deletes << QStringLiteral("kept.txt");
    QStringList log;
    QCOMPARE(compile(target, &log), ErrorCanceled);
    QCOMPARE(log.last(), message);
    QCOMPARE(names(target.downloads), QStringList{"kept.bin"});
    QCOMPARE(target.deletes, QStringList{"kept.txt"});
    QVERIFY(target.replaces.isEmpty());
}

void InstallListsTest::onlyDeleteEntriesIsValid()
{
    QVERIFY(writeFile(installed("old.txt"), "x"));
    writeProductIni("[delete]\nold.txt=\n");
    FileSpecifications target;
    target.downloads << FileDownloadSpecification{"earlier", "replaced.bin", "00", 1};
    QCOMPARE(compile(target), Finished);
    QVERIFY(target.downloads.isEmpty());
    QVERIFY(target.replaces.isEmpty());
    QCOMPARE(target.deletes, QStringList{"old.txt"});
}

// An installation stopped after setting files aside and before deleting the copies:
// the files are current now, and their "_old_" copies go with this update's deletions
// (the updater's own at its next start).
void InstallListsTest::leftoverOldCopiesOfCurrentFilesGo()
{
    QVERIFY(QDir(appRoot->path()).mkpath("plugins"));
    for (const char* name : {"plugins/libx.so", "update"}) {
        QVERIFY(writeFile(installed(name), "new"));
        QVERIFY(writeFile(installed(QString(name).replace("libx", "_old_libx").replace("update", "_old_update")), "old"));
    }
    writeProductIni("[client]\nplugins/libx.so=" + entry("new").toUtf8() + "\nupdate=" + entry("new").toUtf8() + "\n");
    FileSpecifications target;
    QCOMPARE(compile(target), Finished);
    QVERIFY(target.replaces.isEmpty());
    QCOMPARE(target.deletes, QStringList{"plugins/_old_libx.so"});
}

// A description that lists a file to install and to delete keeps it installed.
void InstallListsTest::installedFilesAreNotDeleted()
{
    QVERIFY(writeFile(installed("update"), "old updater"));
    QVERIFY(writeFile(installed("gone.txt"), "obsolete"));
    writeProductIni("[delete]\nupdate=\n./update=\ngone.txt=\n[client]\nupdate=" + entry("new updater").toUtf8() + "\n");
    FileSpecifications target;
    QCOMPARE(compile(target), Finished);
    QCOMPARE(names(target.replaces), QStringList{"update"});
    QCOMPARE(target.deletes, QStringList{"gone.txt"});
}

// A folder of the installation replaced by a link to a folder elsewhere: installing into
// it fails before anything is fetched; deleting in it is left out.
void InstallListsTest::nothingPassesThroughLinkedFolders()
{
    QTemporaryDir outside;
    QVERIFY(writeFile(outside.filePath("ring.wav"), "outside"));
    QVERIFY(QFile::link(outside.path(), installed("sounds")));
    QVERIFY(writeFile(installed("gone.txt"), "obsolete"));

    writeProductIni("[delete]\nsounds/ring.wav=\ngone.txt=\n[client]\nreadme=" + entry("new").toUtf8() + "\n");
    FileSpecifications target;
    QStringList log;
    QCOMPARE(compile(target, &log), Finished);
    QCOMPARE(target.deletes, QStringList{"gone.txt"});
    QVERIFY2(log.contains("Not deleting sounds/ring.wav: it lies below the symbolic link sounds"), qPrintable(log.join('\n')));

    writeProductIni("[client]\nreadme=" + entry("new").toUtf8() + "\nsounds/deeper/ring.wav=" + entry("new").toUtf8() +
                    "\n");
    log.clear();
    QCOMPARE(compile(target, &log), ErrorCanceled);
    QCOMPARE(log.last(), QStringLiteral("sounds/deeper/ring.wav lies below the symbolic link sounds: the updater does not "
                                        "write through links"));
    QCOMPARE(readAll(outside.filePath("ring.wav")), QByteArray("outside"));
}

void InstallListsTest::destFileName_data()
{
    QTest::addColumn<QString>("relativePath");
    QTest::addColumn<QString>("unzippedPath");
    QTest::addColumn<QString>("plain");
    QTest::addColumn<QString>("old");

    QTest::newRow("in a folder") << "plugins/libx.so" << "" << "plugins/libx.so" << "plugins/_old_libx.so";
    QTest::newRow("top level") << "libx.so" << "" << "libx.so" << "_old_libx.so";
    QTest::newRow("packed") << "pack/libx.so.gz" << "lib/libx.so" << "lib/libx.so" << "lib/_old_libx.so";
}

void InstallListsTest::destFileName()
{
    QFETCH(QString, relativePath);
    QFETCH(QString, unzippedPath);
    QFETCH(QString, plain);
    QFETCH(QString, old);
    const FileReplaceSpecification file{"s", relativePath, QString(), 0, unzippedPath};
    QCOMPARE(file.destFileName(QString()), plain);
    QCOMPARE(file.pureDestFilePath(), plain);
    QCOMPARE(file.oldDestFileName(), old);
}

QTEST_GUILESS_MAIN(InstallListsTest)
#include "tst_installlists.moc"
