// What users rely on, against the real update program: an update completes from the one
// good mirror among misbehaving ones and, with no good mirror, fails with a clear message
// leaving the old installation byte for byte as it was; and an installation of any
// earlier release (or none) ends up byte for byte as the newest release.
#include "mirrorserver.h"
#include "support/gzipfile.h"
#include "updatescene.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTest>

namespace {

using Behaviour = MirrorServer::Behaviour;

const QString clientType = QStringLiteral("client_linux_amd64");
// No UDP service answers here; the automatic form needs none.
const QByteArray noUpdateServer = "127.0.0.1:9:9";

// The updater program, read once.
const QByteArray& program()
{
    static const QByteArray bytes = readAll(VX5_UPDATER);
    return bytes;
}

} // namespace

class ReliabilityTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void faultyMirrors_data();
    void faultyMirrors();
    void updateVerifyMatrix_data();
    void updateVerifyMatrix();
    void killedDownloadContinues_data();
    void killedDownloadContinues();

private:
    // Runs the automatic form to VERSION; returns the exit code (3: the update failed), or
    // -1 when it did not end in time.
    int runUpdate(int version, QString* output);
    // The next start removes the updater's own set-aside copies.
    void nextStart();
    void writeMirrors(const QStringList& names);

    std::unique_ptr<UpdateScene> scene;
    std::unique_ptr<MirrorServer> server;
};

void ReliabilityTest::init()
{
    scene = std::make_unique<UpdateScene>();
    server = std::make_unique<MirrorServer>();
    QVERIFY(scene->isValid() && server->listen());
}

void ReliabilityTest::cleanup()
{
    server.reset();
    scene.reset();
}

int ReliabilityTest::runUpdate(int version, QString* output)
{
    QProcess process;
    scene->startUpdater(process, {"--nouser", clientType, QString::number(version), "", "news"}, noUpdateServer);
    // The mirror lives in this process: wait without blocking its event loop.
    if (!QTest::qWaitFor([&process] { return process.state() == QProcess::NotRunning; }, 300000)) {
        process.kill();
        process.waitForFinished();
        *output = QString::fromLocal8Bit(process.readAll());
        return -1;
    }
    *output = QString::fromLocal8Bit(process.readAll());
    return process.exitCode();
}

void ReliabilityTest::nextStart()
{
    QProcess process;
    scene->startUpdater(process, {clientType, "not-a-version"}, noUpdateServer);
    QVERIFY(process.waitForFinished(30000));
}

void ReliabilityTest::writeMirrors(const QStringList& names)
{
    MirrorList mirrors;
    for (const QString& name : names)
        mirrors.append({name, server->baseUrl() + "/" + name});
    QVERIFY(writeFile(QDir(scene->installDir()).filePath("mirrors.ini"), mirrorsIni(mirrors)));
}

// Each row: the misbehaving mirrors, and whether a good one is among them.
void ReliabilityTest::faultyMirrors_data()
{
    QTest::addColumn<QStringList>("faults");
    QTest::addColumn<bool>("goodMirror");
    const QStringList all{"302", "404", "500", "cut", "corrupt", "toomuch"};
    QTest::newRow("six misbehaving mirrors and a good one") << all << true;
    QTest::newRow("only misbehaving mirrors") << QStringList{"302", "404", "500", "cut"} << false;
    if (qEnvironmentVariableIsSet("VX5_LONG_TESTS")) { // 16 and 30 seconds an attempt
        QTest::newRow("a stalling mirror and a good one") << QStringList{"stall"} << true;
        QTest::newRow("a mirror sending a byte a second and a good one") << QStringList{"trickle"} << true;
    }
}

void ReliabilityTest::faultyMirrors()
{
    QFETCH(QStringList, faults);
    QFETCH(bool, goodMirror);
    const ClientTree older = clientRelease(program(), 1);
    const ClientTree newer = clientRelease(program(), 2);
    QString error;
    QVERIFY2(scene->publish(1, older, &error), qPrintable(error));
    QVERIFY2(scene->publish(2, newer, &error), qPrintable(error));
    QVERIFY(scene->install(older, QString()));

    const QString tree = scene->mirrorDir();
    QStringList mirrors;
    for (const QString& fault : faults) {
        const QString prefix = "/" + fault + "/";
        mirrors << fault;
        server->serveTree(prefix, tree);
        if (fault == "cut")
            server->setPrefixRule(prefix, {Behaviour::CloseAfter, 200, 100, 0});
        else if (fault == "corrupt")
            server->setPrefixRule(prefix, {Behaviour::Corrupt, 200, 0, 0});
        else if (fault == "toomuch")
            server->setPrefixRule(prefix, {Behaviour::Oversize, 200, 5000, 0});
        else if (fault == "stall")
            server->setPrefixRule(prefix, {Behaviour::StallAfter, 200, 10, 0});
        else if (fault == "trickle")
            server->setPrefixRule(prefix, {Behaviour::Trickle, 200, 1, 1000});
        else
            server->setPrefixRule(prefix, {Behaviour::Status, fault.toInt(), 0, 0});
    }
    server->serveTree("/good/", tree);
    writeMirrors(goodMirror ? mirrors + QStringList{"good"} : mirrors);
    const TreeSnapshot before = scene->installed();

    QString output;
    const int status = runUpdate(2, &output);
    if (!goodMirror) {
        QCOMPARE(status, 3);
        QVERIFY2(output.contains("There are no (more) known working mirrors available"), qPrintable(output));
        QCOMPARE(differences(scene->installed(), before), QString());
        // The next run, with a good mirror, completes.
        writeMirrors({"good"});
        QCOMPARE(runUpdate(2, &output), 0);
    } else {
        QVERIFY2(status == 0, qPrintable(output));
    }
    nextStart();
    TreeSnapshot installed = scene->installed();
    installed.remove("client-started");
    QCOMPARE(differences(installed, UpdateScene::expected(newer)), QString());
    QVERIFY(QDir(scene->tempDir()).isEmpty());
}

// Each row: the release installed before (0: only the updater).
void ReliabilityTest::updateVerifyMatrix_data()
{
    QTest::addColumn<int>("from");
    for (int n = 0; n <= 3; ++n)
        QTest::newRow(n == 0 ? "an empty installation" : qPrintable(QStringLiteral("release %1").arg(n))) << n;
}

void ReliabilityTest::updateVerifyMatrix()
{
    QFETCH(int, from);
    QString error;
    for (int n = 1; n <= 4; ++n)
        QVERIFY2(scene->publish(n, clientRelease(program(), n), &error), qPrintable(error));
    scene->serve(*server);
    const ClientTree installed = from == 0 ? ClientTree{{"update", program()}} : clientRelease(program(), from);
    QVERIFY(scene->install(installed, server->baseUrl() + "/m1"));

    QString output;
    QVERIFY2(runUpdate(4, &output) == 0, qPrintable(output));
    nextStart();
    TreeSnapshot result = scene->installed();
    result.remove("client-started");
    QCOMPARE(differences(result, UpdateScene::expected(clientRelease(program(), 4))), QString());
}

// Each row: whether the mirror serves parts of files. A run killed half-way through a large
// file leaves its first part; the next run asks only for the rest (or, from a mirror that
// serves no parts, for the whole file) and installs the release.
void ReliabilityTest::killedDownloadContinues_data()
{
    QTest::addColumn<bool>("ranges");
    QTest::newRow("a mirror that serves parts") << true;
    QTest::newRow("a mirror that serves whole files only") << false;
}

void ReliabilityTest::killedDownloadContinues()
{
    QFETCH(bool, ranges);
    const ClientTree older = clientRelease(program(), 1);
    ClientTree newer = clientRelease(program(), 2);
    QByteArray large(4 << 20, Qt::Uninitialized);
    for (int i = 0; i < large.size(); ++i)
        large[i] = char((quint32(i) * 7919u) >> 7);
    newer.insert("data/large.dat", large);
    QString error;
    QVERIFY2(scene->publish(1, older, &error), qPrintable(error));
    QVERIFY2(scene->publish(2, newer, &error), qPrintable(error));
    scene->serve(*server);
    server->setRangesEnabled(ranges);
    QVERIFY(scene->install(older, server->baseUrl() + "/m1"));
    const QString served = "/m1/2/files/data/large.dat";
    server->setRule(served, {Behaviour::Trickle, 200, 64 << 10, 50}); // about 1.3 MB/s

    QProcess first;
    scene->startUpdater(first, {"--nouser", clientType, "2", "", "news"}, noUpdateServer);
    const auto partial = [this] {
        const QStringList sessions = QDir(scene->tempDir()).entryList({"voxmere_temp_*"}, QDir::Dirs);
        return sessions.isEmpty() ? qint64(0)
                                  : QFileInfo(QDir(scene->tempDir()).filePath(sessions.first() + "/data/large.dat")).size();
    };
    QVERIFY(QTest::qWaitFor([&partial] { return partial() > (2 << 20); }, 60000));
    first.kill();
    QVERIFY(first.waitForFinished());
    // The mirror stops trickling once it has seen the connection die; only then is its
    // count final for the first run.
    QVERIFY(QTest::qWaitFor([this] { return server->openConnections() == 0; }, 10000));
    const qint64 left = partial();
    const qint64 sentBefore = server->bodyBytesSent(served);

    server->setRule(served, {});
    QString output;
    QVERIFY2(runUpdate(2, &output) == 0, qPrintable(output));
    const qint64 sentAgain = server->bodyBytesSent(served) - sentBefore;
    QCOMPARE(sentAgain, ranges ? large.size() - left : qint64(large.size()));
    nextStart();
    TreeSnapshot installed = scene->installed();
    installed.remove("client-started");
    QCOMPARE(differences(installed, UpdateScene::expected(newer)), QString());
}

QTEST_GUILESS_MAIN(ReliabilityTest)
#include "tst_reliability.moc"
