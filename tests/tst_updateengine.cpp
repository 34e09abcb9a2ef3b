// Whole updates through UpdateEngine, without a window: real releases made by the release
// tool and signed with the test key, served over HTTP on loopback, installed into a
// scratch installation that is compared byte for byte (and mode for mode) afterwards.
#include "configuration.h"
#include "filepatch.h"
#include "mirrors.h"
#include "mirrorserver.h"
#include "signing.h"
#include "tomcryptutil.h"
#include "updateengine.h"
#include "updateinidata.h"
#include "updatescene.h"
#include "support/gzipfile.h"

#include <QCryptographicHash>
#include <QDir>
#include <QRegularExpression>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

#include <cerrno>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <functional>

namespace {

const QString productIni = QStringLiteral("client_linux_amd64.ini");

// What one update did: how it ended, and the detail log.
struct Outcome
{
    bool prepared = false;
    bool finished = false;
    bool canceled = false;
    QStringList log;
};

using MessageHook = std::function<void(const QString& message, UpdateEngine& engine)>;

bool hasRecord()
{
    return QSettings(UpdateIniData::filename(), QSettings::IniFormat).childGroups().contains("current");
}

} // namespace

class UpdateEngineTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void freshInstallThenUpdate();
    void takenSessionNamesDoNotStopUpdates();
    void fullTemporaryDiskNeverInstallsAShortFile_data();
    void sessionFolderHoldsOnlyRegularFiles_data();
    void sessionFolderHoldsOnlyRegularFiles();
    void sharedCapKeepsEveryStreamMoving();
    void patchedUpdate_data();
    void patchedUpdate();
    void productIniOfAnotherRelease_data();
    void productIniOfAnotherRelease();
    void fullTemporaryDiskNeverInstallsAShortFile();
    void badCachedSignature_data();
    void badCachedSignature();
    void resumeAfterCancelFetchesNothingVerified();
    void recordedSession_data();
    void recordedSession();
    void failedInstallationLeavesOldInstallation_data();
    void failedInstallationLeavesOldInstallation();
    void startupRepairsMissingFile();
    void proxySettings_data();
    void proxySettings();

private:
    // Publishes the older (100) and newer (101) client and installs the older one.
    void publishBothInstallOlder();
    Outcome run(UpdateEngine& engine, const MessageHook& hook = {});
    Outcome run(int version, const MessageHook& hook = {});
    QString served(int version, const QString& path) const
    {
        return QStringLiteral("/m1/%1/%2").arg(QString::number(version), path);
    }

    std::unique_ptr<UpdateScene> scene;
    std::unique_ptr<MirrorServer> server;
    std::unique_ptr<Configuration> config;
};

void UpdateEngineTest::init()
{
    scene = std::make_unique<UpdateScene>();
    QVERIFY(scene->isValid());
    server = std::make_unique<MirrorServer>();
    QVERIFY(server->listen());
    scene->serve(*server);
    Configuration::setAppRootPathForTests(scene->installDir());
    config = std::make_unique<Configuration>();
    config->clientType = QStringLiteral("client_linux_amd64");
}

void UpdateEngineTest::cleanup()
{
    config.reset();
    server.reset();
    scene.reset();
    Configuration::setAppRootPathForTests(QString());
}

void UpdateEngineTest::publishBothInstallOlder()
{
    QString error;
    QVERIFY2(scene->publish(100, olderClient(), &error), qPrintable(error));
    QVERIFY2(scene->publish(101, newerClient(), &error), qPrintable(error));
    QVERIFY(scene->install(olderClient(), server->baseUrl() + "/m1"));
}

Outcome UpdateEngineTest::run(UpdateEngine& engine, const MessageHook& hook)
{
    Outcome outcome;
    QMetaObject::Connection logging = connect(&engine, &UpdateEngine::message, this, [&](const QString& text) {
        outcome.log << text;
        if (hook)
            hook(text, engine);
    });
    QMetaObject::Connection failing =
        connect(&engine, &UpdateEngine::fatalError, this, [&](const QString& text) { outcome.log << "fatal: " + text; });
    QSignalSpy finished(&engine, &UpdateEngine::updateFinished);
    QSignalSpy canceled(&engine, &UpdateEngine::updateCanceled);
    outcome.prepared = engine.initialize();
    if (outcome.prepared) {
        engine.startUpdate();
        (void)QTest::qWaitFor([&] { return !finished.isEmpty() || !canceled.isEmpty(); }, 180000);
    }
    outcome.finished = !finished.isEmpty();
    outcome.canceled = !canceled.isEmpty();
    disconnect(logging);
    disconnect(failing);
    return outcome;
}

Outcome UpdateEngineTest::run(int version, const MessageHook& hook)
{
    config->clientVersion = version;
    UpdateEngine engine(*config, nullptr);
    return run(engine, hook);
}

void UpdateEngineTest::freshInstallThenUpdate()
{
    QString error;
    QVERIFY2(scene->publish(100, olderClient(), &error), qPrintable(error));
    QVERIFY2(scene->publish(101, newerClient(), &error), qPrintable(error));
    QVERIFY(scene->install({}, server->baseUrl() + "/m1"));

    Outcome fresh = run(100);
    QVERIFY2(fresh.finished, qPrintable(fresh.log.join('\n')));
    QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));

    Outcome update = run(101);
    QVERIFY2(update.finished, qPrintable(update.log.join('\n')));
    QCOMPARE(update.log.last(), QStringLiteral("Update successfully finished"));
    // The updater's own old copy stays for the next start to remove.
    TreeSnapshot installed = scene->installed();
    QCOMPARE(installed.take("_old_update").first, olderClient().value("update"));
    QVERIFY(UpdateEngine::removeOldFiles(scene->installDir()).isEmpty());
    QCOMPARE(scene->installed(), UpdateScene::expected(newerClient()));
    QVERIFY(QDir(scene->tempDir()).isEmpty());
    QVERIFY(!hasRecord());
}

// A session of the same version left a product ini whose signature does not verify.
// Another user of the machine fills the shared temporary folder with every name earlier
// updaters used and a thousand of the random ones: the update makes a folder of its own.
void UpdateEngineTest::takenSessionNamesDoNotStopUpdates()
{
    QString error;
    QVERIFY2(scene->publish(100, olderClient(), &error), qPrintable(error));
    QVERIFY(scene->install({}, server->baseUrl() + "/m1"));
    const QDir temp(scene->tempDir());
    const QByteArray letters = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    QStringList taken;
    for (int n = 0; n < 1000; ++n) {
        QByteArray suffix;
        for (int c = 0; c < 6; ++c)
            suffix += letters.at(int(QRandomGenerator::global()->bounded(letters.size())));
        taken << QString::number(n) << QString::fromLatin1(suffix);
    }
    const uid_t nobody = 65534;
    for (const QString& name : std::as_const(taken)) {
        const QByteArray path = QFile::encodeName(temp.filePath("voxmere_temp_" + name));
        QVERIFY(::mkdir(path.constData(), 0755) == 0 || errno == EEXIST);
        if (::getuid() == 0) // as root the folders belong to another user, as they would
            QCOMPARE(::chown(path.constData(), nobody, nobody), 0);
    }
    const int before = int(temp.entryList({"voxmere_temp_*"}, QDir::Dirs).size());

    Outcome fresh = run(100);
    QVERIFY2(fresh.finished, qPrintable(fresh.log.join('\n')));
    QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));
    QCOMPARE(int(temp.entryList({"voxmere_temp_*"}, QDir::Dirs).size()), before);
}

// The temporary folder is a small file system that the downloads fill at some point (a
// packed file, the last small one, ...): the update either completes with the release or
// fails and leaves the installation as it was, saying why; never a short file installed.
// Once there is room again, the next run completes.
void UpdateEngineTest::fullTemporaryDiskNeverInstallsAShortFile_data()
{
    QTest::addColumn<int>("freeKiB");
    for (const int free : {8, 24, 48, 64, 72, 80, 96})
        QTest::newRow(qPrintable(QStringLiteral("%1 KiB free").arg(free))) << free;
}

void UpdateEngineTest::fullTemporaryDiskNeverInstallsAShortFile()
{
    QFETCH(int, freeKiB);
    if (::getuid() != 0)
        QSKIP("mounting a small file system for the temporary folder needs root");
    const QByteArray temp = QFile::encodeName(scene->tempDir());
    if (::mount("tmpfs", temp.constData(), "tmpfs", 0, "size=512k,mode=1777") != 0)
        QSKIP("this machine does not let root mount a tmpfs");
    struct Unmount
    {
        QByteArray path;
        ~Unmount() { ::umount2(path.constData(), MNT_DETACH); }
    } unmount{temp};
    publishBothInstallOlder();
    const QString filler = scene->tempDir() + "/filler";
    QVERIFY(writeFile(filler, QByteArray((512 - freeKiB) * 1024, 'f')));

    Outcome full = run(101);
    if (full.finished) {
        TreeSnapshot installed = scene->installed();
        installed.remove("_old_update");
        QCOMPARE(installed, UpdateScene::expected(newerClient()));
        return;
    }
    QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));
    QVERIFY2(full.log.join('\n').contains("No space left on device"), qPrintable(full.log.join('\n')));

    QVERIFY(QFile::remove(filler));
    Outcome roomy = run(101);
    QVERIFY2(roomy.finished, qPrintable(roomy.log.join('\n')));
    TreeSnapshot installed = scene->installed();
    installed.remove("_old_update");
    QCOMPARE(installed, UpdateScene::expected(newerClient()));
}

// A recorded session whose folder holds something else where a download (whole or in
// part) or a folder of one lies: it is removed with a line in the log and the file fetched
// anew; what a link pointed to outside the folder is never touched.
void UpdateEngineTest::sessionFolderHoldsOnlyRegularFiles_data()
{
    QTest::addColumn<QString>("entry"); // relative to the session folder
    QTest::addColumn<QString>("kind");  // fifo, file link, folder link, folder
    QTest::addColumn<bool>("complete"); // what stands there is the whole new file, or a part

    for (const bool complete : {false, true}) {
        const QString state = complete ? QStringLiteral(", complete") : QStringLiteral(", partial");
        for (const char* kind : {"fifo", "file link", "folder link", "folder"})
            QTest::newRow(qPrintable(kind + state)) << "vx5client_linux_amd64" << QString::fromLatin1(kind) << complete;
    }
    QTest::newRow("a link where a folder goes") << "plugins" << "folder link" << true;
}

void UpdateEngineTest::sessionFolderHoldsOnlyRegularFiles()
{
    QFETCH(QString, entry);
    QFETCH(QString, kind);
    QFETCH(bool, complete);
    publishBothInstallOlder();
    const QString session = QDir(scene->tempDir()).filePath("voxmere_temp_7");
    QVERIFY(QDir().mkpath(session));
    const QString release = QDir(scene->mirrorDir()).filePath("101/" + productIni);
    QVERIFY(QFile::copy(release, QDir(session).filePath(productIni)));
    QVERIFY(QFile::copy(release + ".sig", QDir(session).filePath(productIni + ".sig")));
    UpdateIniData::modify(101, session, config->clientType);

    // Outside the session folder: a file with the new client's bytes (or some of them), and
    // a folder holding a file of the name the update would write.
    const QByteArray newClient = newerClient().value("vx5client_linux_amd64");
    const QString outside = QDir(scene->tempDir()).filePath("../outside");
    QVERIFY(QDir().mkpath(outside + "/folder"));
    const QByteArray outsideBytes = complete ? newClient : newClient.left(1000);
    QVERIFY(writeFile(outside + "/file", outsideBytes));
    QVERIFY(writeFile(outside + "/folder/libvx5.so.gz", "outside"));
    const QString path = QDir(session).filePath(entry);
    if (kind == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
    else if (kind == "file link")
        QVERIFY(QFile::link(outside + "/file", path));
    else if (kind == "folder link")
        QVERIFY(QFile::link(outside + "/folder", path));
    else
        QVERIFY(QDir().mkpath(path + (complete ? "/inside" : "")));

    const Outcome outcome = run(101);
    QVERIFY2(outcome.finished, qPrintable(outcome.log.join('\n')));
    QVERIFY2(outcome.log.filter("Removed the").size() == 1, qPrintable(outcome.log.join('\n')));
    TreeSnapshot installed = scene->installed();
    installed.remove("_old_update");
    QCOMPARE(installed, UpdateScene::expected(newerClient()));
    QCOMPARE(readAll(outside + "/file"), outsideBytes);
    QCOMPARE(readAll(outside + "/folder/libvx5.so.gz"), QByteArray("outside"));
    QCOMPARE(QDir(outside + "/folder").entryList(QDir::NoDotAndDotDot | QDir::AllEntries), QStringList{"libvx5.so.gz"});
}

// Twenty streams under a cap of 16 KB/s from a healthy mirror: the cap is shared so that
// every download moves, none is dropped as too slow for the cap's sake, and the update
// takes about the time the cap allows (40 files of 16 KB; of 40 KB in the long form).
void UpdateEngineTest::sharedCapKeepsEveryStreamMoving()
{
    const int size = qEnvironmentVariableIsSet("VX5_LONG_TESTS") ? 40000 : 16000;
    ClientTree release = olderClient();
    QRandomGenerator random(7);
    for (int n = 0; n < 40; ++n) {
        QByteArray data(size, Qt::Uninitialized);
        random.fillRange(reinterpret_cast<quint32*>(data.data()), size / 4);
        release.insert(QStringLiteral("data/%1.bin").arg(n), data);
    }
    QString error;
    QVERIFY2(scene->publish(100, release, &error), qPrintable(error));
    QVERIFY(scene->install(olderClient(), server->baseUrl() + "/m1"));
    {
        QSettings settings(UpdateIniData::filename(), QSettings::IniFormat);
        settings.setValue("update/streams", 20);
        settings.setValue("update/maxKBps", 16);
    }
    QElapsedTimer timer;
    timer.start();
    const Outcome outcome = run(100);
    const double seconds = double(timer.elapsed()) / 1000;
    QVERIFY2(outcome.finished, qPrintable(outcome.log.join('\n')));
    QCOMPARE(scene->installed(), UpdateScene::expected(release));
    const double allowed = 40.0 * size / 16000;
    QVERIFY2(seconds > 0.85 * allowed && seconds < 2 * allowed, qPrintable(QString::number(seconds)));
}

// A signed product ini names the release it belongs to. The mirror serves, below 101, a
// signed ini of another release (an older one replayed, another client type): it is
// refused, its mirror dropped, nothing installed. An ini without the names (an older
// publisher's) is installed as before.
namespace {

// A point release: the program and a packed library changed in a few places (patches
// make them), a text rewritten, a file of new content (no patch pays).
ClientTree pointRelease(int n, bool withCopy = false)
{
    QByteArray program = seededBytes(200000, 1);
    QByteArray library = seededBytes(150000, 2);
    if (n > 1) {
        program.replace(100000, 12, "release two!");
        program += seededBytes(500, 3);
        library.replace(70000, 6, "second");
    }
    QByteArray voices = seededBytes(100000, 4);
    if (n > 1)
        voices.replace(50000, 5, "voice");
    ClientTree tree{{"update", "#!/bin/sh\necho updater\n"},
                    {"vx5client_linux_amd64", program},
                    {"plugins/libvx5.so", library},
                    {"readme.txt", "Voxmere " + QByteArray::number(n) + "\n"},
                    {"sounds/ring.wav", seededBytes(30000, 10 + n)},
                    {"sounds/voices.pak", voices}};
    if (withCopy) // the same patch makes both
        tree.insert("plugins/copy/libvx5.so", library);
    return tree;
}

// Rewrites the mirror's patch that makes path's new content into content (the index
// describes it, so that only what the patch makes can betray it).
bool replacePatch(const QString& mirrorDir, const QByteArray& forContent, const QByteArray& content)
{
    const QString folder = mirrorDir + "/101/" + FilePatch::folder() + '/';
    const QString target = QCryptographicHash::hash(forContent, QCryptographicHash::Md5).toHex();
    QList<QByteArray> lines = readAll(folder + FilePatch::indexName()).split('\n');
    for (QByteArray& line : lines) {
        FilePatch::IndexEntry entry;
        if (!FilePatch::IndexEntry::parse(line, &entry) || entry.target != target)
            continue;
        entry.size = content.size();
        entry.md5 = QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex();
        line = entry.line();
        return writeFile(folder + entry.fileName(), content) &&
               writeFile(folder + FilePatch::indexName(), lines.join('\n'));
    }
    return false;
}

} // namespace

// Each row: what is done to the mirror or the installation before updating from release 1
// to 2, and which of the two changed binaries come whole. Two mirrors serve the same tree;
// a bad patch charges no mirror: the file comes whole. A patched data file gets the mode a
// downloaded one gets.
void UpdateEngineTest::patchedUpdate_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<QStringList>("whole");
    const QStringList both{"files/vx5client_linux_amd64", "files/plugins/libvx5.so.gz"};
    const QStringList all = both + QStringList{"files/sounds/voices.pak"};
    QTest::newRow("patches") << "" << QStringList();
    QTest::newRow("two files made by one patch") << "copy" << QStringList();
    QTest::newRow("an installed file changed by hand") << "changed" << QStringList{both.at(0)};
    QTest::newRow("a mirror without patches") << "no patches" << all;
    QTest::newRow("a corrupt patch") << "corrupt" << QStringList{both.at(1)};
    QTest::newRow("a cut patch") << "cut" << QStringList{both.at(1)};
    QTest::newRow("a patch that makes another file") << "other file" << QStringList{both.at(0)};
    QTest::newRow("a patch that writes past the size") << "too long" << QStringList{both.at(0)};
}

void UpdateEngineTest::patchedUpdate()
{
    QFETCH(QString, change);
    QFETCH(QStringList, whole);
    QString error;
    const bool withCopy = change == "copy";
    QVERIFY2(scene->publish(100, pointRelease(1, withCopy), &error), qPrintable(error));
    QVERIFY2(scene->publish(101, pointRelease(2, withCopy), &error), qPrintable(error));
    QVERIFY(scene->install(pointRelease(1, withCopy), server->baseUrl() + "/m1"));
    server->serveTree("/m2/", scene->mirrorDir());
    QVERIFY(writeFile(QDir(scene->installDir()).filePath("mirrors.ini"),
                      mirrorsIni({{"m1", server->baseUrl() + "/m1"}, {"m2", server->baseUrl() + "/m2"}})));

    const QString mirrorDir = scene->mirrorDir();
    const ClientTree next = pointRelease(2, withCopy);
    const QByteArray library = next.value("plugins/libvx5.so");
    const QByteArray program = next.value("vx5client_linux_amd64");
    QString md5, reason;
    if (change == "changed") {
        QByteArray edited = pointRelease(1).value("vx5client_linux_amd64");
        edited[5] = 'x';
        QVERIFY(writeFile(QDir(scene->installDir()).filePath("vx5client_linux_amd64"), edited));
    } else if (change == "no patches") {
        QVERIFY(QDir(mirrorDir + "/101/patches").removeRecursively());
    } else if (change == "corrupt" || change == "cut") {
        const QByteArray base = pointRelease(1).value("plugins/libvx5.so");
        QByteArray patch = FilePatch::make(base, library, FilePatch::defaultLevel, &reason);
        if (change == "corrupt")
            patch[patch.size() / 2] = char(patch.at(patch.size() / 2) ^ 0x20);
        else
            patch.chop(patch.size() / 3);
        QVERIFY(replacePatch(mirrorDir, library, patch));
    } else if (change == "other file" || change == "too long") {
        const QByteArray base = pointRelease(1).value("vx5client_linux_amd64");
        QByteArray made = program;
        if (change == "other file")
            made[7] = char(made.at(7) ^ 1);
        else
            made += QByteArray(1 << 24, 'z');
        QVERIFY(replacePatch(mirrorDir, program, FilePatch::make(base, made, FilePatch::defaultLevel, &reason)));
    }

    const Outcome outcome = run(101);
    QVERIFY2(outcome.finished, qPrintable(outcome.log.join('\n')));
    QCOMPARE(scene->installed(), UpdateScene::expected(next));
    QVERIFY(QDir(scene->tempDir()).isEmpty());
    // Fetched from either mirror: a patched file's whole download is never asked for.
    const auto fetched = [this](const QString& path, bool requests) {
        const QString other = served(101, path).replace("/m1/", "/m2/");
        return requests ? server->requestCount(served(101, path)) + server->requestCount(other)
                        : server->bodyBytesSent(served(101, path)) + server->bodyBytesSent(other);
    };
    for (const QString& file : {QStringLiteral("files/vx5client_linux_amd64"), QStringLiteral("files/plugins/libvx5.so.gz"),
                                QStringLiteral("files/sounds/voices.pak")})
        QVERIFY2((fetched(file, false) > 0) == whole.contains(file), qPrintable(file + '\n' + outcome.log.join('\n')));
    QCOMPARE(outcome.log.filter("patched from the installed copy").size(), (withCopy ? 4 : 3) - whole.size());
    QVERIFY(outcome.log.filter(QRegularExpression("Mirror m. failed|invalidating mirror|dropped from this update")).isEmpty());
    QCOMPARE(fetched("patches/index", true), 1);
}

// Each row: the lines that name the release at the head of 101's signed product ini
// ("release 100": the older release's signed ini served as 101's), whether an earlier
// update recorded a release that named itself, and the refusal ("" when it installs).
void UpdateEngineTest::productIniOfAnotherRelease_data()
{
    QTest::addColumn<QString>("head");
    QTest::addColumn<bool>("recorded");
    QTest::addColumn<QString>("refusal");
    const QString named = "version=101\ntype=client_linux_amd64\n";
    const QString older = "Product ini is for client_linux_amd64 100, not for client_linux_amd64 101";
    QTest::newRow("an older release replayed") << "release 100" << false << older;
    QTest::newRow("another client type")
        << "version=101\ntype=client_other\n" << false << "Product ini is for client_other 101, not for client_linux_amd64 101";
    QTest::newRow("no names (an older publisher)") << "" << false << "";
    QTest::newRow("no names once the installed release had them")
        << "" << true << "Product ini does not name its release (signed version= and type= lines), as the installed "
                         "release's did: an older one, refused";
    QTest::newRow("names in another spelling") << " VERSION = 101 \nType= client_linux_amd64\n" << true << "";
    QTest::newRow("an older version in another spelling") << "Version=100\ntype=client_linux_amd64\n" << false << older;
    QTest::newRow("a second version") << named + "version=100\n" << false << "Product ini names its version twice";
    QTest::newRow("a version after many lines")
        << "type=client_linux_amd64\n" + QString("; a comment\n").repeated(40) + "version=100\n" << false << older;
}

void UpdateEngineTest::productIniOfAnotherRelease()
{
    QFETCH(QString, head);
    QFETCH(bool, recorded);
    QFETCH(QString, refusal);
    publishBothInstallOlder();
    if (recorded)
        QVERIFY(UpdateIniData::complete({100, "client_linux_amd64", "stable", true}));
    const QString ini = QDir(scene->mirrorDir()).filePath("101/" + productIni);
    if (head == "release 100") {
        const QString older = QDir(scene->mirrorDir()).filePath("100/" + productIni);
        QVERIFY(QFile::remove(ini) && QFile::remove(ini + ".sig"));
        QVERIFY(QFile::copy(older, ini) && QFile::copy(older + ".sig", ini + ".sig"));
    } else {
        QByteArray text = readAll(ini);
        QVERIFY(text.startsWith("version=101\ntype=client_linux_amd64\n"));
        text.replace(0, qsizetype(strlen("version=101\ntype=client_linux_amd64\n")), head.toUtf8());
        QVERIFY(writeFile(ini, text));
        crypt_init();
        signFile(VX5_TEST_PRIVATE_KEY, QFile::encodeName(ini).toStdString());
    }

    const Outcome outcome = run(101);
    TreeSnapshot installed = scene->installed();
    if (refusal.isEmpty()) {
        QVERIFY2(outcome.finished, qPrintable(outcome.log.join('\n')));
        installed.remove("_old_update");
        QCOMPARE(installed, UpdateScene::expected(newerClient()));
        // The release is recorded with the update, and whether it named itself.
        const std::optional<InstalledRelease> release = UpdateIniData::installed();
        QVERIFY(release && release->version == 101 && release->type == "client_linux_amd64" &&
                release->channel == "stable" && release->namesSigned == !head.isEmpty());
        return;
    }
    QVERIFY2(!outcome.finished && outcome.log.contains(refusal), qPrintable(outcome.log.join('\n')));
    QCOMPARE(installed, UpdateScene::expected(olderClient()));
    QCOMPARE(server->requestCount(served(101, "files/readme.txt")), 0);
}

void UpdateEngineTest::badCachedSignature_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("fetched again") << "fetched again";
    QTest::newRow("a cancel at the failed check wins over the retry") << "cancel";
    QTest::newRow("a release signed with another key") << "another key";
}

void UpdateEngineTest::badCachedSignature()
{
    QFETCH(QString, kind);
    publishBothInstallOlder();
    const QString release = QDir(scene->mirrorDir()).filePath("101/" + productIni);
    if (kind == "another key") {
        // Said once, with the fingerprint of the key the updater holds, however often it retries.
        crypt_init();
        Rsa_key other;
        create_key(&other, 1024);
        save_key(&other, PK_PRIVATE, QFile::encodeName(QDir(scene->tempDir()).filePath("other.key")).constData());
        rsa_free(&other);
        signFile(QFile::encodeName(QDir(scene->tempDir()).filePath("other.key")).toStdString(),
                 QFile::encodeName(release).toStdString());
        int failures = 0;
        const Outcome outcome = run(101, [&](const QString& text, UpdateEngine& engine) {
            if (text.startsWith("Signature check failed for") && ++failures == 3)
                engine.cancelUpdate();
        });
        Rsa_key builtIn;
        load_key(&builtIn, PUBLIC_KEY, keyBlockSize);
        const QString said = QStringLiteral("The signature of %1 does not match the key this updater was built with "
                                            "(key fingerprint %2)").arg(productIni, QString::fromStdString(key_fingerprint(&builtIn)));
        rsa_free(&builtIn);
        QVERIFY(outcome.canceled);
        QCOMPARE(outcome.log.filter(said).size(), 1);
        return;
    }
    const QString session = QDir(scene->tempDir()).filePath("voxmere_temp_7");
    QVERIFY(QDir().mkpath(session));
    QFile cached(QDir(session).filePath(productIni));
    QVERIFY(cached.open(QIODevice::WriteOnly));
    cached.write(readAll(release) + "\n; changed after signing\n");
    cached.close();
    QVERIFY(QFile::copy(release + ".sig", cached.fileName() + ".sig"));
    UpdateIniData::modify(101, session, config->clientType);

    const Outcome outcome = run(101, [&](const QString& text, UpdateEngine& engine) {
        if (kind == "cancel" && text.startsWith("Signature check failed for"))
            engine.cancelUpdate();
    });
    QVERIFY(outcome.log.contains("Previous update session for v. 101 found"));
    if (kind == "cancel") {
        QVERIFY(outcome.canceled);
        QVERIFY(!outcome.log.contains("Could not verify the product ini file. Retrying"));
        QCOMPARE(server->totalRequests(), 0);
        QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));
        return;
    }
    QVERIFY2(outcome.finished, qPrintable(outcome.log.join('\n')));
    QVERIFY(outcome.log.contains("Could not verify the product ini file. Retrying"));
    QCOMPARE(server->requestCount(served(101, productIni)), 1);
    QCOMPARE(server->requestCount(served(101, productIni + ".sig")), 1);
}

void UpdateEngineTest::resumeAfterCancelFetchesNothingVerified()
{
    publishBothInstallOlder();
    config->clientVersion = 101;
    UpdateEngine engine(*config, nullptr);
    QStringList verified;
    const Outcome first = run(engine, [&](const QString& text, UpdateEngine& engine) {
        static const QRegularExpression downloaded(QStringLiteral("^Downloading (files/.*) finished$"));
        const QRegularExpressionMatch match = downloaded.match(text);
        if (match.hasMatch() && verified.size() < 3 && (verified << match.captured(1)).size() == 3)
            engine.cancelUpdate();
    });
    QVERIFY2(first.canceled, qPrintable(first.log.join('\n')));
    QVERIFY(first.log.contains("User aborted update"));
    QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));
    QVERIFY(hasRecord());

    engine.reset();
    const Outcome second = run(engine);
    QVERIFY2(second.finished, qPrintable(second.log.join('\n')));
    QVERIFY(second.log.contains("Previous update session for v. 101 found"));
    QCOMPARE(engine.findChildren<Mirrors*>().size(), 1);
    for (const QString& path : verified + QStringList{productIni, productIni + ".sig"})
        QCOMPARE(server->requestCount(served(101, path)), 1);
    TreeSnapshot installed = scene->installed();
    installed.remove("_old_update");
    QCOMPARE(installed, UpdateScene::expected(newerClient()));
}

// Each row: how the recorded directory is made, its version, and whether it is removed
// (only a real session directory of ours) or left alone with the record dropped.
void UpdateEngineTest::recordedSession_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("message");
    QTest::newRow("another version's session") << "session" << "Ok";
    QTest::newRow("a symbolic link to a directory") << "link" << "it is a symbolic link";
    QTest::newRow("a directory of another name")
        << "foreign" << "it is not named voxmere_temp_ and a suffix of letters and digits";
    QTest::newRow("a session's name outside the temporary folder") << "outside" << "it is not in the temporary folder";
    QTest::newRow("a file of a session's name") << "file" << "";
}

void UpdateEngineTest::recordedSession()
{
    QFETCH(QString, kind);
    QFETCH(QString, message);
    publishBothInstallOlder();
    const QString precious = QDir(scene->installDir()).filePath("../precious");
    QVERIFY(QDir().mkpath(precious + "/sub"));
    QVERIFY(QFile(precious + "/sub/data").open(QIODevice::WriteOnly));
    QString recorded = QDir(scene->tempDir()).filePath("voxmere_temp_3");
    if (kind == "session")
        QVERIFY(QDir().mkpath(recorded + "/files") && QFile(recorded + "/files/partial").open(QIODevice::WriteOnly));
    else if (kind == "link")
        QVERIFY(QFile::link(precious, recorded));
    else if (kind == "file")
        QVERIFY(writeFile(recorded, "not a directory"));
    else if (kind == "outside")
        QVERIFY(QFile::rename(precious, recorded = QDir::cleanPath(precious + "/../voxmere_temp_7")));
    else
        recorded = precious;
    UpdateIniData::modify(kind == "foreign" ? 101 : 99, recorded, config->clientType);

    config->clientVersion = 101;
    UpdateEngine engine(*config, nullptr);
    QStringList log;
    connect(&engine, &UpdateEngine::message, this, [&log](const QString& text) { log << text; });
    QVERIFY(engine.initialize());
    QVERIFY2(log.join('\n').contains(message), qPrintable(log.join('\n')));
    QCOMPARE(QFileInfo::exists((kind == "outside" ? recorded : precious) + "/sub/data"), true);
    QCOMPARE(QFileInfo::exists(recorded), kind != "session");
    QVERIFY(log.filter("Cleanup previous session").isEmpty() == (kind != "session"));
    QVERIFY(config->tempDir != recorded);
    QString dir;
    QVERIFY(UpdateIniData::get(nullptr, nullptr, &dir));
    QCOMPARE(dir, config->tempDir);
}

// Each row: what goes wrong during the installation; afterwards the installation is what
// it was before, byte for byte, and the session stays for another attempt.
void UpdateEngineTest::failedInstallationLeavesOldInstallation_data()
{
    QTest::addColumn<QString>("fault");
    QTest::newRow("an unpacked file fails its check") << "check";
    QTest::newRow("a later file cannot be replaced") << "blocked";
    QTest::newRow("a file stands where a new folder goes") << "folder";
    QTest::newRow("the user cancels") << "cancel";
}

void UpdateEngineTest::failedInstallationLeavesOldInstallation()
{
    QFETCH(QString, fault);
    publishBothInstallOlder();
    if (fault == "check") {
        // A release whose packed library unpacks to other bytes than its entry says.
        const QString ini = QDir(scene->mirrorDir()).filePath("101/" + productIni);
        QSettings settings(ini, QSettings::IniFormat);
        QStringList fields = settings.value("files/plugins/libvx5.so.gz").toString().split("::");
        fields[2] = QString(32, '0');
        settings.setValue("files/plugins/libvx5.so.gz", fields.join("::"));
        settings.sync();
        crypt_init();
        signFile(VX5_TEST_PRIVATE_KEY, QFile::encodeName(ini).toStdString());
    } else if (fault == "blocked") {
        const QString runScript = QDir(scene->installDir()).filePath("vx5client_runscript.sh");
        QVERIFY(QFile::remove(runScript) && QDir().mkpath(runScript + "/in-the-way"));
    } else if (fault == "folder") {
        QVERIFY(writeFile(QDir(scene->installDir()).filePath("sounds/new"), "in the way"));
    }
    const TreeSnapshot before = scene->installed();

    const Outcome outcome = run(101, [&](const QString& text, UpdateEngine& engine) {
        if (fault == "cancel" && text == "add/replace readme.txt")
            engine.cancelUpdate();
    });
    QVERIFY2(outcome.canceled, qPrintable(outcome.log.join('\n')));
    QVERIFY2(outcome.log.contains("rolling back file updates"), qPrintable(outcome.log.join('\n')));
    QVERIFY(outcome.log.filter("warning: rollback").isEmpty());
    QCOMPARE(scene->installed(), before);
    QVERIFY(hasRecord());
}

void UpdateEngineTest::startupRepairsMissingFile()
{
    QVERIFY(scene->install(olderClient(), server->baseUrl() + "/m1"));
    const QDir install(scene->installDir());
    QVERIFY(QFile::rename(install.filePath("update"), install.filePath("_old_update")));
    QVERIFY(writeFile(install.filePath("libQtCore.so.4"), "in use"));
    QVERIFY(writeFile(install.filePath("_old_libQtCore.so.4"), "left over"));
    QVERIFY(writeFile(install.filePath("_old_readme.txt"), "not one of the updater's files"));

    const QStringList restored = UpdateEngine::removeOldFiles(scene->installDir());
    QCOMPARE(restored, QStringList{QStringLiteral("%1 was missing; restored it from %2")
                                       .arg(install.filePath("update"), install.filePath("_old_update"))});
    TreeSnapshot installed = scene->installed();
    QCOMPARE(installed.take("libQtCore.so.4").first, QByteArray("in use"));
    QCOMPARE(installed.take("_old_readme.txt").first, QByteArray("not one of the updater's files"));
    QCOMPARE(installed, UpdateScene::expected(olderClient()));
}

// Each row: the proxy setting and the proxy it gives ("" host: none; "invalid": refused).
void UpdateEngineTest::proxySettings_data()
{
    QTest::addColumn<QString>("setting");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::newRow("none") << "" << "" << 0;
    QTest::newRow("a URL without a port") << "http://proxy.example" << "proxy.example" << 3128;
    QTest::newRow("a URL with a port") << "http://proxy.example:8080" << "proxy.example" << 8080;
    QTest::newRow("host and port, as users write it") << "proxy.example:8080" << "proxy.example" << 8080;
    QTest::newRow("a bare host") << "10.0.0.1" << "10.0.0.1" << 3128;
    QTest::newRow("no host") << "http://:8080" << "invalid" << 0;
}

void UpdateEngineTest::proxySettings()
{
    QFETCH(QString, setting);
    QFETCH(QString, host);
    QFETCH(int, port);
    const std::optional<QNetworkProxy> proxy = UpdateEngine::proxyFromSetting(setting);
    QCOMPARE(!proxy, host == "invalid");
    if (!proxy)
        return;
    QCOMPARE(proxy->type(), host.isEmpty() ? QNetworkProxy::NoProxy : QNetworkProxy::HttpProxy);
    QCOMPARE(proxy->hostName(), host);
    QCOMPARE(int(proxy->port()), port);
}

QTEST_MAIN(UpdateEngineTest)
#include "tst_updateengine.moc"
