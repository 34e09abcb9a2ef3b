// The real update program, as the client and users start it: a copy in a scratch
// installation (with a space in its path), run offscreen.
#include "mirrorserver.h"
#include "standinupdateserver.h"
#include "support/gzipfile.h"
#include "updatescene.h"
#include "updateserver.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

class UpdateProgramTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void runs_data();
    void runs();
    void secondStartHandsOver();
    void logIsKeptOnDisk();

private:
    void start(QProcess& process, const QStringList& arguments);
    QString program() const { return QDir(scene->installDir()).filePath("update"); }

    std::unique_ptr<UpdateScene> scene;
    std::unique_ptr<MirrorServer> server;
    std::unique_ptr<BackgroundUpdateServer> updateServer;
};

void UpdateProgramTest::init()
{
    scene = std::make_unique<UpdateScene>();
    server = std::make_unique<MirrorServer>();
    QVERIFY(scene->isValid() && server->listen());
    scene->serve(*server);
    QString error;
    QVERIFY2(scene->publish(100, olderClient(), &error), qPrintable(error));
    QVERIFY2(scene->publish(101, newerClient(), &error), qPrintable(error));
    QVERIFY(scene->install(olderClient(), server->baseUrl() + "/m1"));
    QVERIFY(QFile::remove(program()) && QFile::copy(VX5_UPDATER, program()));
    StandInUpdateReplies replies;
    replies.channels = "101#3.1.0,101#3.1.0,101#3.1.0";
    updateServer = std::make_unique<BackgroundUpdateServer>(replies);
}

void UpdateProgramTest::cleanup()
{
    updateServer.reset();
    server.reset();
    scene.reset();
}

void UpdateProgramTest::start(QProcess& process, const QStringList& arguments)
{
    scene->startUpdater(process, arguments, updateServer->address());
}

// Each row: how the installation is prepared, the arguments, the exit code, and a text
// the program's output holds.
void UpdateProgramTest::runs_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");

    QTest::newRow("automatic update") << "" << QStringList{"--nouser", "client_linux_amd64", "101", "3.1.0", "news"}
                                      << 0 << "";
    QTest::newRow("bad version: 1") << "" << QStringList{"client_linux_amd64", "12ab"} << 1
                                    << "Invalid version nr (12ab)";
    QTest::newRow("no mirror list: 2") << "no mirrors" << QStringList{"--nouser", "client_linux_amd64", "101"} << 2
                                       << "mirrors.ini is missing, cannot proceed.";
    QTest::newRow("installation not writable: 2") << "read-only" << QStringList{"--nouser", "client_linux_amd64", "101"}
                                                  << 2 << "cannot be changed by this user";
    QTest::newRow("no version server, no screen: 1") << "no server" << QStringList() << 1
                                                    << "Failed to query latest client version from update server.";
    QTest::newRow("failed update, no screen: 3") << "no mirror" << QStringList{"--nouser", "client_linux_amd64", "101"}
                                                 << 3 << "There are no (more) known working mirrors available";
    QTest::newRow("leftovers of the last update") << "leftovers" << QStringList{"client_linux_amd64", "x"} << 1 << "";
    QTest::newRow("--help, without a version server") << "no server" << QStringList{"--help"} << 0 << "usage: update";
    QTest::newRow("-h") << "no server" << QStringList{"-h"} << 0 << "update TYPE VERSION";
    // An earlier update recorded release 102: the server's offer of 101 does not take the
    // installation back, but a person (or the client) naming 101 does.
    QTest::newRow("the server offers an older version: 4")
        << "recorded 102 stable" << QStringList{"--nouser"} << 4
        << "The update server offers version 101, older than the installed version 102: nothing is installed.";
    QTest::newRow("the same on another channel") << "recorded 102 beta" << QStringList{"--nouser"} << 0 << "";
    QTest::newRow("an older version named")
        << "recorded 102 stable" << QStringList{"--nouser", "client_linux_amd64", "101"} << 0
        << "Installing version 101, older than the installed version 102, as asked";
}

void UpdateProgramTest::runs()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, says);

    const QDir install(scene->installDir());
    if (setup == "no mirrors")
        QVERIFY(QFile::remove(install.filePath("mirrors.ini")));
    if (setup == "leftovers") {
        QVERIFY(install.mkpath("imageformats") && install.mkpath("accessible"));
        for (const char* name : {"_old_libQtGui.so.4", "imageformats/_old_libqjpeg.so",
                                 "accessible/_old_libqtaccessiblewidgets.so", "_old_readme.txt",
                                 "imageformats/_old_libvx5extra.so"})
            QVERIFY(writeFile(install.filePath(name), "left over"));
    }
    const TreeSnapshot before = scene->installed();
    QProcess process;
    if (setup == "no mirror")
        QVERIFY(writeFile(install.filePath("mirrors.ini"), "[mirrors]\nsize=0\n"));
    if (setup.startsWith("recorded")) {
        const QStringList record = setup.split(' ');
        QSettings settings(install.filePath("update.ini"), QSettings::IniFormat);
        settings.setValue("installed/version", record.at(1));
        settings.setValue("installed/type", "client_linux_amd64");
        settings.setValue("installed/channel", record.at(2));
    }
    if (setup == "read-only")
        scene->startUpdaterWithoutWriteAccess(process, arguments, updateServer->address());
    else if (setup == "no server")
        scene->startUpdater(process, arguments, "127.0.0.1:9:9");
    else
        start(process, arguments);
    // Not waitForFinished: the mirror in this process must go on serving meanwhile.
    const bool ended = QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 60000);
    const QString output = QString::fromLocal8Bit(process.readAll()) +
                           QString::fromUtf8(readAll(scene->stateDir() + "/voxmere/update.log"));
    QVERIFY2(ended, qPrintable(output));
    QVERIFY2(process.exitCode() == exitCode,
             qPrintable(QStringLiteral("exit %1, expected %2: %3").arg(process.exitCode()).arg(exitCode).arg(output)));
    QVERIFY2(output.contains(says), qPrintable(output));
    if (setup == "read-only") // nothing downloaded, no session folder left behind
        QCOMPARE(QDir(scene->tempDir()).entryList({"voxmere_temp_*"}, QDir::AllEntries | QDir::Hidden), QStringList());
    if (setup == "leftovers") {
        // Only the copies of the files the updater runs with go; names outside the list stay.
        QVERIFY(!QFileInfo::exists(install.filePath("_old_libQtGui.so.4")));
        QVERIFY(!QFileInfo::exists(install.filePath("imageformats/_old_libqjpeg.so")));
        QVERIFY(!QFileInfo::exists(install.filePath("accessible/_old_libqtaccessiblewidgets.so")));
        QVERIFY(QFileInfo::exists(install.filePath("_old_readme.txt")));
        QVERIFY(QFileInfo::exists(install.filePath("imageformats/_old_libvx5extra.so")));
    }
    if (setup.startsWith("recorded") && exitCode != 0)
        QCOMPARE(scene->installed(), before);
    if ((setup.isEmpty() || setup.startsWith("recorded")) && exitCode == 0) {
        TreeSnapshot installed = scene->installed();
        QVERIFY(installed.remove("_old_update") == 1 && installed.remove("client-started") == 1);
        QCOMPARE(installed, UpdateScene::expected(newerClient()));
    }
}

// The Details log stays on disk after the run: a failed run's reasons in update.log (the
// failure message says where), kept as update.log.1 by the next run; a state folder that
// cannot be used costs the update nothing.
void UpdateProgramTest::logIsKeptOnDisk()
{
    const QDir install(scene->installDir());
    const QByteArray mirrors = readAll(install.filePath("mirrors.ini"));
    const QString log = scene->stateDir() + "/voxmere/update.log";
    const auto runUpdater = [this]() {
        QProcess process;
        start(process, {"--nouser", "client_linux_amd64", "101"});
        (void)QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 60000);
        return std::pair{process.exitCode(), QString::fromLocal8Bit(process.readAll())};
    };

    QVERIFY(writeFile(install.filePath("mirrors.ini"), "[mirrors]\nsize=0\n"));
    const auto [failedCode, failedOutput] = runUpdater();
    QCOMPARE(failedCode, 3);
    QVERIFY2(failedOutput.contains("The log is kept in " + log), qPrintable(failedOutput));
    const QByteArray failedLog = readAll(log);
    QVERIFY2(QRegularExpression("(^|\n)\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d There are no \\(more\\) known working mirrors available")
                 .match(QString::fromUtf8(failedLog)).hasMatch(),
             failedLog.constData());

    QVERIFY(writeFile(install.filePath("mirrors.ini"), mirrors));
    QCOMPARE(runUpdater().first, 0);
    QCOMPARE(readAll(log + ".1"), failedLog);
    QVERIFY(!readAll(log).contains("known working mirrors"));

    // The state folder is a file: the log cannot be kept, the run still does its work.
    QVERIFY(QDir(scene->stateDir()).removeRecursively() && writeFile(scene->stateDir(), "not a folder"));
    QCOMPARE(runUpdater().first, 0);
}

void UpdateProgramTest::secondStartHandsOver()
{
    QProcess first;
    start(first, {"client_linux_amd64", "101"}); // waits for the user to push the button
    // Its guard's socket appears in the runtime directory, which only this test uses.
    const QDir runtime(QFileInfo(scene->tempDir()).dir().filePath("runtime"));
    QTRY_VERIFY_WITH_TIMEOUT(!runtime.entryList(QDir::System | QDir::Files).isEmpty(), 20000);

    const QString leftover = QDir(scene->installDir()).filePath("_old_libQtCore.so.4");
    QVERIFY(writeFile(leftover, "the first updater may need this"));
    QProcess second;
    start(second, {"client_linux_amd64", "101"});
    QVERIFY(second.waitForFinished(20000));
    QCOMPARE(second.exitCode(), 0);
    // The check runs before the leftovers are removed.
    QVERIFY(QFileInfo::exists(leftover));
    QCOMPARE(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished();
}

QTEST_GUILESS_MAIN(UpdateProgramTest)
#include "tst_updateprogram.moc"
