#include "bandwidthlimiter.h"
#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "downloadtaskspecification.h"
#include "mirrorserver.h"
#include "mirrors.h"
#include "support/gzipfile.h"

#include <QCryptographicHash>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QTest>
#include <QTimer>

namespace {

using Rule = MirrorServer::Rule;
using Behaviour = MirrorServer::Behaviour;

constexpr int version = 100;

QString md5Of(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

} // namespace

class DownloadsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void downloadSucceeds();
    void unknownSizeTakesTheReportedTotal();
    void halfReceivedIsHalfTheWeight();
    void badStatusRemovesMirror_data();
    void badStatusRemovesMirror();
    void connectionFailureChargesOneError();
    void failingOnlyMirrorEndsTheTask();
    void sixteenthIdleTickRetries();
    void cancelKeepsPartialFileToContinue();
    void continuesWhatWasLeft_data();
    void continuesWhatWasLeft();
    void continuedCopyFailingItsCheckIsFetchedWhole();
    void bandwidthCapHolds();
    void siblingCancellationAborts();
    void oversizedDownloadIsAbandoned_data();
    void oversizedDownloadIsAbandoned();
    void tricklingMirrorIsAbandoned();
    void namesGoEncoded_data();
    void namesGoEncoded();
    void waitingTaskStartsWhenAnotherEnds();
    void cancelledWaitingTaskNeverStarts();

    void fileListDownloadsAndChecks();
    void mirrorFailingMidFlightGivesEveryDownloadBack();
    void corruptCopyDropsItsMirror();
    void twoCorruptMirrorsEndTheList();
    void emptyListNeedsNothing();
    void subdirectoryThatCannotBeMade();

private:
    // Mirrors named in `names`, each below its own path on the test server.
    void useMirrors(const QStringList& names);
    // Makes random values come from `values` (then 0).
    void drawRandom(const QList<quint32>& values);
    QString served(const QString& mirror, const QString& remotePath) const
    {
        return QStringLiteral("/%1/%2/%3").arg(mirror, QString::number(version), remotePath);
    }
    DownloadTaskSpecification* download(const QString& remotePath, qint64 expectedSize, qreal weight = 1.0);
    void record(QObject* source);
    bool waitForEnd(const TaskSpecification& task, int milliseconds = 15000);
    // The registry's record of a mirror that is still registered.
    const FTPSiteAccessData& registered(const QString& name) const
    {
        return mirrors->list().at(mirrors->getMirrorIndex(name));
    }

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<MirrorServer> server;
    std::unique_ptr<QNetworkAccessManager> manager;
    std::unique_ptr<Mirrors> mirrors;
    std::unique_ptr<Configuration> configuration;
    QList<quint32> randomValues;
    QStringList log;
};

void DownloadsTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
    server = std::make_unique<MirrorServer>();
    QVERIFY(server->listen());
    manager = std::make_unique<QNetworkAccessManager>();
    configuration = std::make_unique<Configuration>();
    configuration->tempDir = dir->path();
    configuration->downloadConcurrency = 2;
    log.clear();
    randomValues.clear();
}

void DownloadsTest::cleanup()
{
    mirrors.reset();
    manager.reset();
    server.reset();
}

void DownloadsTest::useMirrors(const QStringList& names)
{
    QByteArray ini = "[mirrors]\nsize=" + QByteArray::number(names.size()) + "\n";
    for (int i = 0; i < names.size(); ++i)
        ini += QByteArray::number(i + 1) + "\\mirror=" + names.at(i).toUtf8() + "\n";
    for (const QString& name : names)
        ini += "[" + name.toUtf8() + "]\nurl=" + server->baseUrl().toUtf8() + "/" + name.toUtf8() + "\n";
    QVERIFY(writeFile(dir->filePath("mirrors.ini"), ini));
    mirrors = std::make_unique<Mirrors>(nullptr);
    mirrors->initDefault(dir->filePath("mirrors.ini"), version);
    mirrors->setRandomSourceForTests([this] { return randomValues.isEmpty() ? 0u : randomValues.takeFirst(); });
    record(mirrors.get());
}

void DownloadsTest::drawRandom(const QList<quint32>& values)
{
    randomValues = values;
}

void DownloadsTest::record(QObject* source)
{
    if (auto* mirrorRegistry = qobject_cast<Mirrors*>(source))
        connect(mirrorRegistry, &Mirrors::message, this, [this](const QString& text) { log << text; });
    if (auto* task = qobject_cast<TaskSpecification*>(source)) {
        connect(task, &TaskSpecification::message, this, [this](const QString& text) { log << text; });
        connect(task, &TaskSpecification::error, this, [this](const QString& text) { log << "error: " + text; });
    }
}

DownloadTaskSpecification* DownloadsTest::download(const QString& remotePath, qint64 expectedSize, qreal weight)
{
    auto* task = new DownloadTaskSpecification(manager.get(), mirrors.get(), remotePath,
                                               dir->filePath(QFileInfo(remotePath).fileName()), expectedSize, this,
                                               weight);
    record(task);
    return task;
}

bool DownloadsTest::waitForEnd(const TaskSpecification& task, int milliseconds)
{
    return QTest::qWaitFor([&task] { return task.getState() != Running; }, milliseconds);
}

void DownloadsTest::downloadSucceeds()
{
    useMirrors({"m1"});
    const QByteArray content = sampleContent(2000);
    server->setFile(served("m1", "files/a.bin"), content);
    DownloadTaskSpecification* task = download("files/a.bin", content.size(), 0.8);
    task->execute();
    QVERIFY(waitForEnd(*task));

    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath("a.bin")), content);
    QVERIFY(qFuzzyCompare(task->getProgress(), 0.8));
    QCOMPARE(log, QStringList({"Downloading files/a.bin", "Downloading files/a.bin finished"}));
    QCOMPARE(task->usedMirror().name, QStringLiteral("m1"));
    QCOMPARE(mirrors->list().at(0).useCount, 0);

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = true;
    task->timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(content.size()));
    QCOMPARE(total, quint64(content.size()));
    QCOMPARE(speed, quint64(content.size()));
    QVERIFY(!downloading);
    task->timeTick(done, total, speed, downloading);
    QCOMPARE(speed, quint64(0));

    // A reset after success (a retry of the surrounding step) gives back no second slot.
    task->reset();
    QCOMPARE(mirrors->list().at(0).useCount, 0);
    QCOMPARE(task->getState(), NotStarted);
}

void DownloadsTest::unknownSizeTakesTheReportedTotal()
{
    useMirrors({"m1"});
    const QByteArray content = sampleContent(300);
    server->setFile(served("m1", "b.bin"), content);
    server->setRule(served("m1", "b.bin"), Rule{Behaviour::StallAfter, 200, 1000, 0});
    DownloadTaskSpecification* task = download("b.bin", -1);
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->timeTick(done, total, speed, downloading);
    QCOMPARE(total, quint64(0));
    task->execute();
    // The reply stalls after 1000 bytes: no signal tells when they have arrived.
    QVERIFY(QTest::qWaitFor([this] { return server->totalRequests() == 1; }));
    QTest::qWait(300);
    task->timeTick(done, total, speed, downloading);
    QCOMPARE(total, quint64(content.size()));
    QCOMPARE(done, quint64(1000));
    task->userCanceled();
}

void DownloadsTest::halfReceivedIsHalfTheWeight()
{
    useMirrors({"m1"});
    server->setFile(served("m1", "half.bin"), QByteArray(1000, 'h'));
    server->setRule(served("m1", "half.bin"), Rule{Behaviour::StallAfter, 200, 500, 0});
    DownloadTaskSpecification* task = download("half.bin", 1000, 0.8);
    task->execute();
    QVERIFY(QTest::qWaitFor([task] { return task->getProgress() > 0; }));
    QVERIFY(qFuzzyCompare(task->getProgress(), 0.4));
    task->userCanceled();
}

void DownloadsTest::badStatusRemovesMirror_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QString>("remotePath");
    QTest::newRow("302 is not followed") << 302 << "c.bin";
    QTest::newRow("404") << 404 << "c.bin";
    QTest::newRow("500") << 500 << "c.bin";
    QTest::newRow("401 with a challenge") << 401 << "c.bin";
    QTest::newRow("404 of a path holding %2F") << 404 << "a%2Fb.bin";
}

void DownloadsTest::badStatusRemovesMirror()
{
    QFETCH(int, status);
    QFETCH(QString, remotePath);
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(100);
    server->setFile(served("m2", remotePath), content);
    server->setRule(served("m1", remotePath), Rule{Behaviour::Status, status, 0, 0});
    drawRandom({0}); // m1 first
    DownloadTaskSpecification* task = download(remotePath, content.size());
    task->execute();
    QVERIFY(waitForEnd(*task));

    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath(remotePath)), content);
    QCOMPARE(mirrors->getMirrorIndex("m1"), -1);
    QCOMPARE(server->requestCount(served("m1", remotePath)), 1);
    QCOMPARE(server->requestCount(QStringLiteral("/elsewhere") + served("m1", remotePath)), 0);
    const QString expected = server->baseUrl() + QUrl::toPercentEncoding(served("m1", remotePath), "/") + " returned " +
                             QString::number(status);
    QVERIFY2(log.contains(expected), qPrintable(expected + " not in:\n" + log.join('\n')));
    QCOMPARE(log.last(), QStringLiteral("Downloading %1 finished").arg(remotePath));
}

void DownloadsTest::connectionFailureChargesOneError()
{
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(500);
    server->setFile(served("m1", "d.bin"), content);
    server->setRule(served("m1", "d.bin"), Rule{Behaviour::CloseAfter, 200, 100, 0});
    server->setFile(served("m2", "d.bin"), content);
    drawRandom({0, 3}); // m1, then m2
    DownloadTaskSpecification* task = download("d.bin", content.size());
    task->execute();
    QVERIFY(waitForEnd(*task));

    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath("d.bin")), content); // the partial first attempt is gone
    QCOMPARE(registered("m1").errorCount, 1);
    QCOMPARE(registered("m1").useCount, 0);
    QCOMPARE(registered("m2").errorCount, 0);
}

void DownloadsTest::failingOnlyMirrorEndsTheTask()
{
    useMirrors({"m1"});
    server->setFile(served("m1", "e.bin"), sampleContent(500));
    server->setRule(served("m1", "e.bin"), Rule{Behaviour::CloseAfter, 200, 100, 0});
    DownloadTaskSpecification* task = download("e.bin", sampleContent(500).size());
    task->execute();
    QVERIFY(waitForEnd(*task));

    QCOMPARE(task->getState(), ErrorCanceled);
    QCOMPARE(log.size(), 6);
    QCOMPARE(log.at(0), QStringLiteral("Downloading e.bin"));
    QCOMPARE(log.at(3), QStringLiteral("Mirror m1 failed too many times, removing"));
    QCOMPARE(log.at(5), QStringLiteral("There are no (more) known working mirrors available"));
    QCOMPARE(log.at(1), log.at(2)); // the failure line, three times
    QCOMPARE(log.at(1), log.at(4));
    // What arrived stays for the next run to continue; later attempts continued it too.
    QCOMPARE(readAll(dir->filePath("e.bin")), sampleContent(500).left(300));
    QCOMPARE(server->requestCount(served("m1", "e.bin")), 3);
}

void DownloadsTest::sixteenthIdleTickRetries()
{
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(500);
    server->setFile(served("m1", "f.bin"), content);
    server->setRule(served("m1", "f.bin"), Rule{Behaviour::StallAfter, 200, 100, 0});
    server->setFile(served("m2", "f.bin"), content);
    drawRandom({0, 3});
    DownloadTaskSpecification* task = download("f.bin", content.size());
    task->execute();
    QVERIFY(QTest::qWaitFor([task] { return task->getProgress() > 0; }));

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    for (int tick = 1; tick <= 15; ++tick) {
        task->timeTick(done, total, speed, downloading);
        QVERIFY2(downloading, qPrintable(QString::number(tick)));
    }
    QCOMPARE(mirrors->list().at(0).errorCount, 0);
    task->timeTick(done, total, speed, downloading);
    QVERIFY(!downloading);
    QVERIFY(log.contains(QStringLiteral("file f.bin timed out on mirror m1")));
    QCOMPARE(registered("m1").errorCount, 1);
    QVERIFY(waitForEnd(*task));
    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath("f.bin")), content);
}

void DownloadsTest::cancelKeepsPartialFileToContinue()
{
    useMirrors({"m1"});
    server->setFile(served("m1", "g.bin"), sampleContent(500));
    server->setRule(served("m1", "g.bin"), Rule{Behaviour::StallAfter, 200, 1000, 0});
    DownloadTaskSpecification* task = download("g.bin", sampleContent(500).size());
    task->execute();
    QVERIFY(QTest::qWaitFor([task] { return task->getProgress() > 0; }));
    QVERIFY(QFileInfo::exists(dir->filePath("g.bin")));

    task->userCanceled();
    QCOMPARE(task->getState(), UserCanceled);
    QCOMPARE(readAll(dir->filePath("g.bin")), sampleContent(500).left(1000));
    QCOMPARE(mirrors->list().at(0).useCount, 0);
    QCOMPARE(task->getProgress(), 0.0);
    // A reset starts the file anew.
    task->reset();
    QVERIFY(!QFileInfo::exists(dir->filePath("g.bin")));
}

void DownloadsTest::siblingCancellationAborts()
{
    useMirrors({"m1"});
    server->setFile(served("m1", "h.bin"), sampleContent(500));
    server->setRule(served("m1", "h.bin"), Rule{Behaviour::StallAfter, 200, 1000, 0});
    DownloadTaskSpecification* task = download("h.bin", sampleContent(500).size());
    DownloadTaskSpecification* sibling = download("other.bin", 10);
    task->execute();
    QVERIFY(QTest::qWaitFor([task] { return task->getProgress() > 0; }));

    task->handleOtherTaskCancelled(sibling);
    QCOMPARE(task->getState(), ErrorCanceled);
    QCOMPARE(log.last(), QStringLiteral("Abort downloading h.bin"));
    QCOMPARE(readAll(dir->filePath("h.bin")), sampleContent(500).left(1000));
    QCOMPARE(mirrors->list().at(0).useCount, 0);
    QCOMPARE(mirrors->list().at(0).errorCount, 0);
}

// Each row: the size the task expects (-1: unknown), its limit, what the bad mirror does,
// and the log line about it.
void DownloadsTest::oversizedDownloadIsAbandoned_data()
{
    QTest::addColumn<qint64>("expectedSize");
    QTest::addColumn<qint64>("limit");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<QString>("line");
    const qint64 size = sampleContent(500).size();
    const QString expected = "%1 sent more than the expected " + QString::number(size) + " bytes";
    const QString limited = "%1 sent more than the limit of " + QString::number(size + 100) + " bytes";
    QTest::newRow("more than the known size") << size << qint64(0) << int(Behaviour::Oversize) << expected;
    QTest::newRow("unknown size, endless reply") << qint64(-1) << size + 100 << int(Behaviour::Oversize) << limited;
    QTest::newRow("unknown size, announced above the limit")
        << qint64(-1) << size + 100 << int(Behaviour::StallAfter) << limited;
}

void DownloadsTest::oversizedDownloadIsAbandoned()
{
    QFETCH(qint64, expectedSize);
    QFETCH(qint64, limit);
    QFETCH(int, behaviour);
    QFETCH(QString, line);
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(500);
    server->setFile(served("m1", "i.bin"), behaviour == int(Behaviour::Oversize) ? content : content + content);
    server->setRule(served("m1", "i.bin"), Rule{Behaviour(behaviour), 200, 1 << 20, 0});
    server->setFile(served("m2", "i.bin"), content);
    drawRandom({0, 3});
    DownloadTaskSpecification* task = download("i.bin", expectedSize);
    task->setSizeLimit(limit);
    task->execute();
    QVERIFY(waitForEnd(*task));

    QVERIFY2(task->getState() == Finished, qPrintable(log.join('\n')));
    const QString url = server->baseUrl() + served("m1", "i.bin");
    QVERIFY2(log.contains(line.arg(url)), qPrintable(log.join('\n')));
    QCOMPARE(registered("m1").errorCount, 1);
    QCOMPARE(readAll(dir->filePath("i.bin")), content);
}

// A mirror that sends a little now and then never lets the idle count run out; below the
// minimum speed over the window it is abandoned for another.
void DownloadsTest::tricklingMirrorIsAbandoned()
{
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(500);
    server->setFile(served("m1", "t.bin"), content);
    server->setRule(served("m1", "t.bin"), Rule{Behaviour::Trickle, 200, 1, 20});
    server->setFile(served("m2", "t.bin"), content);
    drawRandom({0, 3});
    DownloadTaskSpecification* task = download("t.bin", content.size());
    task->execute();
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    for (int tick = 1; tick < DownloadTaskSpecification::speedWindowTicks; ++tick) {
        QTest::qWait(30); // a byte or so arrives between ticks
        task->timeTick(done, total, speed, downloading);
        QVERIFY2(downloading, qPrintable(QString::number(tick)));
    }
    QVERIFY(done > 0);
    task->timeTick(done, total, speed, downloading);
    QVERIFY(!downloading);
    QVERIFY2(log.contains(QStringLiteral("file t.bin too slow on mirror m1 (%1 bytes in 30 s)").arg(done)),
             qPrintable(log.join('\n')));
    QCOMPARE(registered("m1").errorCount, 1);
    QVERIFY(waitForEnd(*task));
    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath("t.bin")), content);
}

// Each row: a file name that a URL built by plain joining would break.
void DownloadsTest::namesGoEncoded_data()
{
    QTest::addColumn<QString>("name");
    for (const char* name : {"a#b.bin", "%41.bin", "what?x=1", "with space", "\xc3\xbcn\xc3\xaf" "code", "a;b+c&d"})
        QTest::newRow(name) << QString::fromUtf8(name);
}

void DownloadsTest::namesGoEncoded()
{
    QFETCH(QString, name);
    useMirrors({"m1"});
    const QByteArray content = sampleContent(100);
    server->setFile(served("m1", "dir #1/" + name), content);
    DownloadTaskSpecification* task = download("dir #1/" + name, content.size());
    task->execute();
    QVERIFY(waitForEnd(*task));
    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath(name)), content);
    QCOMPARE(server->totalRequests(), 1);
}

void DownloadsTest::waitingTaskStartsWhenAnotherEnds()
{
    useMirrors({"m1"}); // one HTTP mirror: 3 slots
    const QByteArray content = sampleContent(200);
    QList<DownloadTaskSpecification*> tasks;
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("w%1.bin").arg(i);
        server->setFile(served("m1", name), content);
        server->setRule(served("m1", name), Rule{Behaviour::Trickle, 200, 2000, 100});
        tasks << download(name, content.size(), 0.25);
        tasks.last()->execute();
    }
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = true;
    tasks.at(3)->timeTick(done, total, speed, downloading);
    QVERIFY(!downloading); // waiting: no reply, no idle count
    QCOMPARE(tasks.at(3)->getState(), Running);

    for (DownloadTaskSpecification* task : tasks)
        QVERIFY(waitForEnd(*task, 30000));
    for (DownloadTaskSpecification* task : tasks)
        QCOMPARE(task->getState(), Finished);
    QCOMPARE(server->totalRequests(), 4);
    QCOMPARE(mirrors->list().at(0).useCount, 0);
}

void DownloadsTest::cancelledWaitingTaskNeverStarts()
{
    useMirrors({"m1"});
    QList<DownloadTaskSpecification*> tasks;
    for (int i = 0; i < 4; ++i) {
        const QString name = QStringLiteral("s%1.bin").arg(i);
        server->setFile(served("m1", name), sampleContent(200));
        server->setRule(served("m1", name), Rule{Behaviour::StallAfter, 200, 100, 0});
        tasks << download(name, sampleContent(200).size(), 0.25);
        tasks.last()->execute();
    }
    QVERIFY(QTest::qWaitFor([this] { return server->totalRequests() == 3; }));
    tasks.at(3)->userCanceled(); // cancelled while waiting for a slot
    QCOMPARE(tasks.at(3)->getState(), UserCanceled);
    tasks.at(0)->userCanceled(); // frees a slot: the manager reports a finished reply
    QTest::qWait(300);
    QCOMPARE(server->totalRequests(), 3);
    QCOMPARE(tasks.at(3)->getState(), UserCanceled);
    tasks.at(1)->userCanceled();
    tasks.at(2)->userCanceled();
}

// Each row: whether the mirror serves parts, how it answers the request for the rest, and
// what it sends in all (of a 20,000-line file of which the first 7,000 lines are there).
void DownloadsTest::continuesWhatWasLeft_data()
{
    QTest::addColumn<bool>("ranges");
    QTest::addColumn<int>("behaviour");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("sendsOnlyTheRest");
    QTest::newRow("206 with the rest: appended") << true << int(Behaviour::Serve) << 1 << true;
    QTest::newRow("200 with the whole file: started anew") << false << int(Behaviour::Serve) << 1 << false;
    QTest::newRow("206 with another part: asked whole") << true << int(Behaviour::WrongRange) << 2 << false;
}

void DownloadsTest::continuesWhatWasLeft()
{
    QFETCH(bool, ranges);
    QFETCH(int, behaviour);
    QFETCH(int, requests);
    QFETCH(bool, sendsOnlyTheRest);
    useMirrors({"m1"});
    const QByteArray content = sampleContent(20000);
    const qint64 left = sampleContent(7000).size();
    server->setFile(served("m1", "r.bin"), content);
    server->setRangesEnabled(ranges);
    if (behaviour != int(Behaviour::Serve))
        server->setRule(served("m1", "r.bin"), Rule{Behaviour(behaviour), 200, 0, 0});
    QVERIFY(writeFile(dir->filePath("r.bin"), content.left(left)));
    DownloadTaskSpecification* task = download("r.bin", content.size());
    task->execute();
    QVERIFY(waitForEnd(*task));

    QCOMPARE(task->getState(), Finished);
    QCOMPARE(readAll(dir->filePath("r.bin")), content);
    QCOMPARE(server->requestCount(served("m1", "r.bin")), requests);
    QCOMPARE(server->bodyBytesSent(served("m1", "r.bin")) == content.size() - left, sendsOnlyTheRest);
    QCOMPARE(task->wasResumed(), sendsOnlyTheRest);
    QCOMPARE(task->downloadedMd5().isEmpty(), sendsOnlyTheRest); // a continued file is checked from the disk
    QCOMPARE(registered("m1").errorCount, 0);
    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task->timeTick(done, total, speed, downloading);
    QCOMPARE(done, quint64(content.size())); // the bytes that were there count once
}

// Bytes left by an attempt from another mirror may be wrong: a continued file that fails
// its check is fetched whole, and only a whole copy that fails counts against its mirror.
void DownloadsTest::continuedCopyFailingItsCheckIsFetchedWhole()
{
    useMirrors({"m1"});
    const QByteArray content = sampleContent(3000);
    server->setFile(served("m1", "client/w.bin"), content);
    QVERIFY(writeFile(dir->filePath("w.bin"), QByteArray(1000, 'x'))); // not the file's first bytes
    QList<FileDownloadSpecification> list{{"client", "w.bin", md5Of(content), quint64(content.size())}};
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();
    QVERIFY(waitForEnd(task));

    QCOMPARE(task.getState(), Finished);
    QCOMPARE(readAll(dir->filePath("w.bin")), content);
    QVERIFY2(log.contains("md5 sum for w.bin failed after continuing it, fetching it whole"), qPrintable(log.join('\n')));
    QCOMPARE(mirrors->getMirrorIndex("m1"), 0);
    QCOMPARE(server->requestCount(served("m1", "client/w.bin")), 2);
}

// Under a cap of 100 KB/s, 400 KB in four files take about four seconds, whatever the
// mirror could do (and not much more); the figures show the capped speed.
void DownloadsTest::bandwidthCapHolds()
{
    useMirrors({"m1"});
    QList<FileDownloadSpecification> list;
    qint64 totalSize = 0;
    for (int i = 0; i < 4; ++i) {
        const QByteArray content = QByteArray(100000, char('a' + i));
        server->setFile(served("m1", QStringLiteral("client/c%1.bin").arg(i)), content);
        list << FileDownloadSpecification{"client", QStringLiteral("c%1.bin").arg(i), md5Of(content), quint64(content.size())};
        totalSize += content.size();
    }
    constexpr qint64 cap = 100000;
    BandwidthLimiter::global().setBytesPerSecond(cap);
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    QElapsedTimer clock;
    clock.start();
    task.execute();
    quint64 speed = 0;
    QTimer ticks; // the engine's once-a-second figures
    connect(&ticks, &QTimer::timeout, this, [&task, &speed] {
        quint64 done = 0, total = 0, tickSpeed = 0;
        bool downloading = false;
        task.timeTick(done, total, tickSpeed, downloading);
        speed = qMax(speed, tickSpeed);
    });
    ticks.start(1000);
    const bool ended = waitForEnd(task, 20000);
    const qint64 elapsed = clock.elapsed();
    BandwidthLimiter::global().setBytesPerSecond(0);
    QVERIFY(ended);
    QCOMPARE(task.getState(), Finished);
    // On average within a tenth of the cap (a burst of an eighth of a second aside).
    const double average = double(totalSize) * 1000.0 / double(elapsed);
    QVERIFY2(average <= 1.1 * cap && average >= 0.85 * cap, qPrintable(QString::number(average)));
    QVERIFY2(speed <= quint64(1.1 * cap) + cap / 8, qPrintable(QString::number(speed)));
}

void DownloadsTest::fileListDownloadsAndChecks()
{
    useMirrors({"m1"});
    QList<FileDownloadSpecification> list;
    quint64 totalSize = 0;
    for (int i = 0; i < 4; ++i) {
        const QString relative = i < 2 ? QStringLiteral("data/f%1.bin").arg(i) : QStringLiteral("f%1.bin").arg(i);
        const QByteArray content = sampleContent(300 + 100 * i);
        server->setFile(served("m1", "client/" + relative), content);
        list << FileDownloadSpecification{"client", relative, md5Of(content).toUpper(), quint64(content.size())};
        totalSize += quint64(content.size());
    }
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();

    quint64 done = 0, total = 0, speed = 0;
    bool downloading = false;
    task.timeTick(done, total, speed, downloading);
    QCOMPARE(total, totalSize); // all listed sizes from the first tick on
    QVERIFY(waitForEnd(task));

    QCOMPARE(task.getState(), Finished);
    QVERIFY(qFuzzyCompare(task.getProgress(), 1.0));
    for (const FileDownloadSpecification& file : list)
        QCOMPARE(md5Of(readAll(dir->filePath(file.relativePath))), file.md5.toLower());
    QCOMPARE(log.first(), QStringLiteral("Downloading files"));
    QCOMPARE(log.filter(QRegularExpression("^Downloading client/.* finished$")).size(), 4);
}

// m1 cuts every reply after its first bytes while m2 serves: every download m1 held goes
// back to the registry and is fetched from m2; nothing is left counted as in use.
void DownloadsTest::mirrorFailingMidFlightGivesEveryDownloadBack()
{
    useMirrors({"m1", "m2"});
    server->setPrefixRule(served("m1", "client/"), Rule{Behaviour::CloseAfter, 200, 100, 0});
    QList<FileDownloadSpecification> list;
    for (int i = 0; i < 12; ++i) {
        const QByteArray content = sampleContent(2000 + i);
        server->setFile(served("m1", QStringLiteral("client/f%1.bin").arg(i)), content);
        server->setFile(served("m2", QStringLiteral("client/f%1.bin").arg(i)), content);
        list << FileDownloadSpecification{"client", QStringLiteral("f%1.bin").arg(i), md5Of(content),
                                          quint64(content.size())};
    }
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();
    QVERIFY(waitForEnd(task));

    QCOMPARE(task.getState(), Finished);
    for (const FileDownloadSpecification& file : list)
        QCOMPARE(md5Of(readAll(dir->filePath(file.relativePath))), file.md5);
    QVERIFY(log.contains(QStringLiteral("Mirror m1 failed too many times, removing")));
    for (const FTPSiteAccessData& mirror : mirrors->list())
        QCOMPARE(mirror.useCount, 0);
}

void DownloadsTest::corruptCopyDropsItsMirror()
{
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(400);
    server->setFile(served("m1", "client/x.bin"), content);
    server->setRule(served("m1", "client/x.bin"), Rule{Behaviour::Corrupt, 200, 0, 0});
    server->setFile(served("m2", "client/x.bin"), content);
    drawRandom({0}); // m1 first; after it is dropped only m2 is left
    QList<FileDownloadSpecification> list{{"client", "x.bin", md5Of(content), quint64(content.size())}};
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();
    QVERIFY(waitForEnd(task));

    QCOMPARE(task.getState(), Finished);
    const int failed = int(log.indexOf(QStringLiteral("Signature check failed for %1").arg(dir->filePath("x.bin"))));
    QVERIFY2(failed >= 0, qPrintable(log.join('\n')));
    QCOMPARE(log.value(failed + 1), QStringLiteral("md5 sum for x.bin failed, invalidating mirror and retrying"));
    QCOMPARE(mirrors->getMirrorIndex("m1"), -1);
    QCOMPARE(readAll(dir->filePath("x.bin")), content);
    QCOMPARE(server->totalRequests(), 2);
}

void DownloadsTest::twoCorruptMirrorsEndTheList()
{
    useMirrors({"m1", "m2"});
    const QByteArray content = sampleContent(400);
    for (const QString& name : {QStringLiteral("m1"), QStringLiteral("m2")}) {
        server->setFile(served(name, "client/y.bin"), content);
        server->setRule(served(name, "client/y.bin"), Rule{Behaviour::Corrupt, 200, 0, 0});
    }
    QList<FileDownloadSpecification> list{{"client", "y.bin", md5Of(content), quint64(content.size())}};
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();
    QVERIFY(waitForEnd(task));

    QCOMPARE(task.getState(), ErrorCanceled);
    QVERIFY(mirrors->list().isEmpty());
    QCOMPARE(server->totalRequests(), 2);
    QCOMPARE(log.count(QStringLiteral("md5 sum for y.bin failed, invalidating mirror and retrying")), 2);
    QCOMPARE(log.last(), QStringLiteral("There are no (more) known working mirrors available"));
}

void DownloadsTest::emptyListNeedsNothing()
{
    useMirrors({"m1"});
    QList<FileDownloadSpecification> list;
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 0.6);
    record(&task);
    task.execute();
    QCOMPARE(task.getState(), Finished);
    QCOMPARE(log, QStringList{"No downloads needed"});
    QVERIFY(qFuzzyCompare(task.getProgress(), 0.6));
}

void DownloadsTest::subdirectoryThatCannotBeMade()
{
    useMirrors({"m1"});
    QVERIFY(writeFile(dir->filePath("data"), "a file where the folder should go"));
    QList<FileDownloadSpecification> list{{"client", "data/z.bin", md5Of("z"), 1}};
    DownloadFileListTaskSpecification task(&list, manager.get(), mirrors.get(), configuration.get(), nullptr, 1.0);
    record(&task);
    task.execute();
    QCOMPARE(task.getState(), ErrorCanceled);
    QCOMPARE(log, QStringList{QStringLiteral("Could not create dir %1/data").arg(QDir(dir->path()).canonicalPath())});
    QCOMPARE(server->totalRequests(), 0);
}

QTEST_GUILESS_MAIN(DownloadsTest)
#include "tst_downloads.moc"
