#include "configuration.h"
#include "standinupdateserver.h"
#include "updateserver.h"

#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

using Settings = QMap<QString, QVariant>;

class ConfigurationTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void commandLine_data();
    void commandLine();
    void serverWithoutVersion_data();
    void serverWithoutVersion();
    void abortingTheVersionQueryFails();
    void proxyAndStreams_data();
    void proxyAndStreams();
    void tempDirSkipsExistingCandidates();
    void tempDirIsPrivateWhateverTheUmask();
    void tempDirReportsFailure();
    void initalizeStartKeepsPreviousDir();
    void specialFileNames_data();
    void specialFileNames();

private:
    void writeSettings(const Settings& values);
    void useTempRoot(const QString& path);

    QTemporaryDir root;
    std::unique_ptr<QTemporaryDir> tempHolder; // a fresh temporary folder for each test
    QString tempPath;
};

void ConfigurationTest::init()
{
    tempHolder = std::make_unique<QTemporaryDir>();
    QVERIFY(root.isValid() && tempHolder->isValid());
    tempPath = tempHolder->path();
    Configuration::setAppRootPathForTests(root.path());
    QFile::remove(Configuration::settingsFilePath());
    useTempRoot(tempPath);
}

void ConfigurationTest::cleanup()
{
    Configuration::setAppRootPathForTests(QString());
    qunsetenv(UpdateServer::overrideVariable);
    qunsetenv("TMPDIR");
}

void ConfigurationTest::writeSettings(const Settings& values)
{
    QSettings settings(Configuration::settingsFilePath(), QSettings::IniFormat);
    for (auto it = values.cbegin(); it != values.cend(); ++it)
        settings.setValue(it.key(), it.value());
}

void ConfigurationTest::useTempRoot(const QString& path)
{
    qputenv("TMPDIR", QFile::encodeName(path));
}

// Each row: update.ini's [Channel] settings, the arguments after the program, and what
// the configuration holds afterwards. The stand-in server answers versions 100 (Stable),
// 101 (Beta) and "abc" (Alpha) with the news "server news".
void ConfigurationTest::commandLine_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QString>("clientType");
    QTest::addColumn<int>("clientVersion");
    QTest::addColumn<QString>("versionName");
    QTest::addColumn<QString>("news");
    QTest::addColumn<int>("startMode");
    QTest::addColumn<QString>("fatalError");
    QTest::addColumn<int>("serverQueries");

    const QString type = QStringLiteral("client_linux_amd64");
    const Settings stable;
    const Settings beta{{"Channel/beta", true}};
    const Settings alpha57{{"Channel/alpha", "http://alpha.example/"}, {"Channel/alphaRevno", 57}};
    const Settings alphaNoRevno{{"Channel/alpha", "http://alpha.example/"}};

    QTest::newRow("no arguments asks the server") << stable << QStringList() << true << type << 100 << "1.0"
                                                  << "server news" << 0 << "" << 1;
    QTest::newRow("beta channel") << beta << QStringList() << true << type << 101 << "1.1" << "server news" << 0 << ""
                                  << 1;
    QTest::newRow("--nouser alone") << stable << QStringList{"--nouser"} << true << type << 100 << "1.0"
                                    << "server news" << 1 << "" << 1;
    QTest::newRow("--nouser with lone type ignores it")
        << stable << QStringList{"--nouser", "client_other"} << true << type << 100 << "1.0" << "server news" << 1 << ""
        << 1;
    QTest::newRow("--nouser full form, # label")
        << stable << QStringList{"--nouser", type, "1234", "#", "the news"} << true << type << 1234 << ""
        << "the news" << 1 << "" << 0;
    QTest::newRow("--nouser with label, extra arguments ignored")
        << stable << QStringList{"--nouser", "client_x", "77", "7.7", "n", "extra"} << true << "client_x" << 77 << "7.7"
        << "n" << 1 << "" << 0;
    QTest::newRow("--nouser with a bad version") << stable << QStringList{"--nouser", type, "12ab"} << false << type
                                                 << 0 << "" << "" << 0 << "Invalid version nr (12ab)" << 0;
    QTest::newRow("manual form") << stable << QStringList{type, "1234"} << true << type << 1234 << "" << "" << 0 << ""
                                 << 0;
    QTest::newRow("manual form with letters") << stable << QStringList{type, "12ab"} << false << type << 0 << "" << ""
                                              << 0 << "Invalid version nr (12ab)" << 0;
    QTest::newRow("manual form, alpha revno wins over letters")
        << alpha57 << QStringList{type, "12ab"} << true << type << 57 << "" << "" << 0 << "" << 0;
    QTest::newRow("alpha revno wins over --nouser version")
        << alpha57 << QStringList{"--nouser", type, "1234"} << true << type << 57 << "" << "" << 1 << "" << 0;
    QTest::newRow("three arguments, not --nouser, are ignored")
        << stable << QStringList{"a", "b", "c"} << true << type << 100 << "1.0" << "server news" << 0 << "" << 1;
    QTest::newRow("one argument is ignored") << stable << QStringList{"client_x"} << true << type << 100 << "1.0"
                                             << "server news" << 0 << "" << 1;
    const Settings alphaHuge{{"Channel/alpha", "http://alpha.example/"}, {"Channel/alphaRevno", "99999999999999"}};
    QTest::newRow("alpha revno out of range") << alphaHuge << QStringList{type, "1234"} << false << "" << 0 << ""
                                              << "" << 0 << "Invalid version nr (99999999999999)" << 0;
    QTest::newRow("version out of range") << stable << QStringList{type, "99999999999999"} << false << type << 0
                                          << "" << "" << 0 << "Invalid version nr (99999999999999)" << 0;
    QTest::newRow("version zero") << stable << QStringList{"--nouser", type, "0"} << false << type << 0 << "" << ""
                                  << 0 << "Invalid version nr (0)" << 0;
    QTest::newRow("a type leading outside") << stable << QStringList{"--nouser", "../../x/settings", "200", "#", "n"}
                                            << false << "" << 0 << "" << "" << 0
                                            << "Invalid client type (../../x/settings)" << 0;
    QTest::newRow("a hidden type") << stable << QStringList{".ini", "200"} << false << "" << 0 << "" << "" << 0
                                   << "Invalid client type (.ini)" << 0;
    QTest::newRow("an empty type") << stable << QStringList{"", "200"} << false << "" << 0 << "" << "" << 0
                                   << "Invalid client type ()" << 0;
    QTest::newRow("server's version not a number")
        << alphaNoRevno << QStringList() << false << type << 0 << "" << "server news" << 0
        << "Update server returned invalid version nr (abc)" << 1;
}

void ConfigurationTest::commandLine()
{
    QFETCH(Settings, settings);
    QFETCH(QStringList, arguments);
    QFETCH(bool, ok);
    QFETCH(QString, clientType);
    QFETCH(int, clientVersion);
    QFETCH(QString, versionName);
    QFETCH(QString, news);
    QFETCH(int, startMode);
    QFETCH(QString, fatalError);
    QFETCH(int, serverQueries);

    StandInUpdateReplies replies;
    replies.channels = "100#1.0,101#1.1,abc#1.2";
    replies.news = "server news";
    BackgroundUpdateServer server(replies);
    qputenv(UpdateServer::overrideVariable, server.address());
    writeSettings(settings);

    Configuration config;
    config.setRetryPrompt([] { return false; });
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QCOMPARE(config.parseCommandLineOptions(QStringList{"update"} + arguments), ok);
    QCOMPARE(config.clientType, clientType);
    QCOMPARE(config.clientVersion, clientVersion);
    QCOMPARE(config.versionName, versionName);
    QCOMPARE(config.news, news);
    QCOMPARE(config.startMode, startMode);
    QCOMPARE(fatal.isEmpty() ? QString() : fatal.at(0).at(0).toString(), fatalError);
    QCOMPARE(server.counters().channelRequests.load(), serverQueries);
}

void ConfigurationTest::serverWithoutVersion_data()
{
    QTest::addColumn<QByteArray>("channels");
    QTest::newRow("empty reply") << QByteArray("");
    QTest::newRow("empty entries") << QByteArray(",");
    QTest::newRow("entry without number") << QByteArray("#");
    QTest::newRow("negative number") << QByteArray("-5#x");
}

void ConfigurationTest::serverWithoutVersion()
{
    QFETCH(QByteArray, channels);
    StandInUpdateReplies replies;
    replies.channels = channels;
    BackgroundUpdateServer server(replies);
    qputenv(UpdateServer::overrideVariable, server.address());

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.parseCommandLineOptions(QStringList{"update"}));
    QCOMPARE(fatal.size(), 1);
    QVERIFY2(fatal.at(0).at(0).toString().startsWith(QLatin1String("Update server returned ")),
             qPrintable(fatal.at(0).at(0).toString()));
}

void ConfigurationTest::abortingTheVersionQueryFails()
{
    StandInUpdateReplies replies;
    replies.silentOnChannels = true;
    BackgroundUpdateServer server(replies);
    qputenv(UpdateServer::overrideVariable, server.address());

    Configuration config;
    int asked = 0;
    config.setRetryPrompt([&asked] {
        ++asked;
        return false;
    });
    config.news = QStringLiteral("kept");
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.parseCommandLineOptions(QStringList{"update", "--nouser"}));
    QCOMPARE(asked, 1);
    QCOMPARE(config.news, QStringLiteral("kept"));
    QCOMPARE(config.startMode, 0);
    QVERIFY(fatal.isEmpty());
}

void ConfigurationTest::proxyAndStreams_data()
{
    QTest::addColumn<Settings>("settings");
    QTest::addColumn<QString>("proxy");
    QTest::addColumn<int>("streams");
    QTest::addColumn<int>("maxKBps");

    QTest::newRow("missing file") << Settings() << "" << 6 << 0;
    QTest::newRow("set") << Settings{{"update/proxy", "http://proxy:8080"}, {"update/streams", 3}, {"update/maxKBps", 250}}
                         << "http://proxy:8080" << 3 << 250;
    QTest::newRow("zero") << Settings{{"update/streams", 0}, {"update/maxKBps", 0}} << "" << 6 << 0;
    QTest::newRow("negative") << Settings{{"update/streams", -2}, {"update/maxKBps", -5}} << "" << 6 << 0;
    QTest::newRow("not a number") << Settings{{"update/streams", "abc"}, {"update/maxKBps", "fast"}} << "" << 6 << 0;
}

void ConfigurationTest::proxyAndStreams()
{
    QFETCH(Settings, settings);
    QFETCH(QString, proxy);
    QFETCH(int, streams);
    QFETCH(int, maxKBps);
    writeSettings(settings);

    Configuration config;
    config.getProxyAndDownloadConcurrency();
    QCOMPARE(config.proxy, proxy);
    QCOMPARE(config.downloadConcurrency, streams);
    QCOMPARE(config.maxKBps, maxKBps);
}

// The session folder's name cannot be foreseen: names taken in the shared folder (the
// numbered ones earlier updaters made, a planted link) are never adopted.
void ConfigurationTest::tempDirSkipsExistingCandidates()
{
    const QString base = tempPath + "/voxmere_temp_";
    for (int n = 0; n < 1000; ++n)
        QVERIFY(QDir().mkdir(base + QString::number(n)));
    QVERIFY(QFile::link(tempPath + "/elsewhere", base + "link"));

    Configuration config;
    QVERIFY(config.createTempDir());
    Configuration second;
    QVERIFY(second.createTempDir());
    for (const QString& made : {config.tempDir, second.tempDir}) {
        QVERIFY2(QRegularExpression("^" + QRegularExpression::escape(base) + "[0-9A-Za-z]{6}$").match(made).hasMatch(),
                 qPrintable(made));
        QVERIFY(QFileInfo(made).isDir() && QDir(made).isEmpty());
    }
    QVERIFY(config.tempDir != second.tempDir);
    QCOMPARE(QDir(tempPath).entryList({"voxmere_temp_*"}, QDir::AllEntries | QDir::System).size(), 1003);
    QVERIFY(!QFileInfo::exists(tempPath + "/elsewhere"));
}

void ConfigurationTest::tempDirIsPrivateWhateverTheUmask()
{
    const mode_t previous = ::umask(0777);
    Configuration config;
    const bool created = config.createTempDir();
    ::umask(previous);
    QVERIFY(created);

    struct stat info {};
    QCOMPARE(::stat(QFile::encodeName(config.tempDir).constData(), &info), 0);
    QCOMPARE(info.st_mode & 07777, mode_t(0700));
}

void ConfigurationTest::tempDirReportsFailure()
{
    // A temporary "folder" that is a file: no candidate can be created.
    QFile file(tempPath + "/plainfile");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    useTempRoot(file.fileName());

    Configuration config;
    QSignalSpy fatal(&config, &Configuration::fatalError);
    QVERIFY(!config.createTempDir());
    QCOMPARE(fatal.count(), 1);
    QCOMPARE(fatal.at(0).at(0).toString(),
             QStringLiteral("Unable to create temp directory. (%1: Not a directory)").arg(file.fileName()));
    QVERIFY(config.tempDir.isEmpty());
}

void ConfigurationTest::initalizeStartKeepsPreviousDir()
{
    Configuration config;
    QVERIFY(config.initalizeStart(QStringLiteral("/some/earlier/voxmere_temp_4")));
    QCOMPARE(config.tempDir, QStringLiteral("/some/earlier/voxmere_temp_4"));
    QVERIFY(config.initalizeStart(QString()));
    QVERIFY2(config.tempDir.startsWith(tempPath + "/voxmere_temp_") && QFileInfo(config.tempDir).isDir(),
             qPrintable(config.tempDir));
}

void ConfigurationTest::specialFileNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("special");
    QTest::newRow("updater") << "update" << true;
    QTest::newRow("core library") << "libQtCore.so.4" << true;
    QTest::newRow("other case") << "libqtcore.so.4" << false;
    QTest::newRow("with directory") << "lib/libQtCore.so.4" << false;
    QTest::newRow("client") << "vx5client" << false;
}

void ConfigurationTest::specialFileNames()
{
    QFETCH(QString, name);
    QFETCH(bool, special);
    QCOMPARE(Configuration::isSpecialFileName(name), special);
}

QTEST_MAIN(ConfigurationTest)
#include "tst_configuration.moc"
