#include "standinupdateserver.h"
#include "updatechecker.h"

#include <QTest>

using Entries = QList<QPair<QString, QString>>;

class UpdateCheckerTest : public QObject
{
    Q_OBJECT

private slots:
    void parseChannelList_data();
    void parseChannelList();
    void serverOverride_data();
    void serverOverride();

    void queryOverLoopback();
    void replyEndsAtZeroByteAndLengthLimit();
    void emptyNewsIsASuccess();
    void silentOnSecondRequestFailsAfterTimeout();
    void retryStartsFromAnEmptyList();
    void forgedReplyIsIgnored();
};

void UpdateCheckerTest::parseChannelList_data()
{
    QTest::addColumn<QString>("reply");
    QTest::addColumn<Entries>("entries");

    QTest::newRow("two channels") << "100#3.0,101#3.1-beta" << Entries{{"100", "3.0"}, {"101", "3.1-beta"}};
    QTest::newRow("empty entry kept") << "100,,102" << Entries{{"100", ""}, {"", ""}, {"102", ""}};
    QTest::newRow("hash inside label") << "100#a#b" << Entries{{"100", "a#b"}};
    QTest::newRow("trailing comma") << "100#x," << Entries{{"100", "x"}, {"", ""}};
    QTest::newRow("empty reply") << "" << Entries{{"", ""}};
    QTest::newRow("label only") << "#label" << Entries{{"", "label"}};
}

void UpdateCheckerTest::parseChannelList()
{
    QFETCH(QString, reply);
    QFETCH(Entries, entries);
    QCOMPARE(UpdateChecker::parseChannelList(reply), entries);
}

void UpdateCheckerTest::serverOverride_data()
{
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("host");
    QTest::addColumn<int>("versionPort");
    QTest::addColumn<int>("bannerPort");

    QTest::newRow("unset") << QByteArray() << QByteArray(UpdateServer::defaultHost) << 17384 << 2009;
    QTest::newRow("host only") << QByteArray("127.0.0.1") << QByteArray("127.0.0.1") << 17384 << 2009;
    QTest::newRow("host and ports") << QByteArray("localhost:4000:4001") << QByteArray("localhost") << 4000 << 4001;
    QTest::newRow("bad port keeps default") << QByteArray("h:99999:x") << QByteArray("h") << 17384 << 2009;
}

void UpdateCheckerTest::serverOverride()
{
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, host);
    QFETCH(int, versionPort);
    QFETCH(int, bannerPort);

    if (value.isNull())
        qunsetenv(UpdateServer::overrideVariable);
    else
        qputenv(UpdateServer::overrideVariable, value);
    const UpdateServer server = UpdateServer::fromEnvironment();
    qunsetenv(UpdateServer::overrideVariable);
    QCOMPARE(server.host, host);
    QCOMPARE(int(server.versionPort), versionPort);
    QCOMPARE(int(server.bannerPort), bannerPort);
}

namespace {

UpdateServer loopback(const BackgroundUpdateServer& background)
{
    UpdateServer server;
    server.host = "127.0.0.1";
    server.versionPort = background.versionPort();
    return server;
}

} // namespace

void UpdateCheckerTest::queryOverLoopback()
{
    StandInUpdateReplies replies;
    replies.channels = "100#3.0,101#3.1-beta";
    replies.news = "<b>News</b> \xc3\xa4";
    BackgroundUpdateServer background(replies);
    QVERIFY(background.isListening());

    UpdateChecker checker(loopback(background));
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.getClientVersionByChannel(Stable), qMakePair(QStringLiteral("100"), QStringLiteral("3.0")));
    QCOMPARE(checker.getClientVersionByChannel(Beta), qMakePair(QStringLiteral("101"), QStringLiteral("3.1-beta")));
    QCOMPARE(checker.getClientVersionByChannel(Alpha), qMakePair(QString(), QString()));
    QCOMPARE(checker.newsText, QString::fromUtf8("<b>News</b> \xc3\xa4"));
    QCOMPARE(background.counters().channelRequests.load(), 1);
    QCOMPARE(background.counters().newsRequests.load(), 1);
}

void UpdateCheckerTest::replyEndsAtZeroByteAndLengthLimit()
{
    StandInUpdateReplies replies;
    replies.channels = QByteArray("100#3.0\0,999#hidden", 19);
    replies.news = QByteArray(5000, 'n');
    BackgroundUpdateServer background(replies);

    UpdateChecker checker(loopback(background));
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.channelList, Entries({{"100", "3.0"}}));
    QCOMPARE(checker.newsText.size(), UpdateChecker::newsMaxBytes);

    // A channel list longer than 511 bytes is cut there.
    replies.channels = "100#" + QByteArray(600, 'x');
    BackgroundUpdateServer longList(replies);
    UpdateChecker longChecker(loopback(longList));
    QVERIFY(longChecker.checkUpdate());
    QCOMPARE(longChecker.channelList.at(0).second.size(), UpdateChecker::channelListMaxBytes - 4);
}

void UpdateCheckerTest::emptyNewsIsASuccess()
{
    StandInUpdateReplies replies;
    replies.news.clear();
    BackgroundUpdateServer background(replies);
    UpdateChecker checker(loopback(background));
    checker.newsText = QStringLiteral("stale");
    QVERIFY(checker.checkUpdate());
    QVERIFY(checker.newsText.isEmpty());
}

void UpdateCheckerTest::silentOnSecondRequestFailsAfterTimeout()
{
    StandInUpdateReplies replies;
    replies.silentOnNews = true;
    BackgroundUpdateServer background(replies);
    UpdateChecker checker(loopback(background));

    QElapsedTimer timer;
    timer.start();
    QVERIFY(!checker.checkUpdate());
    QVERIFY(timer.elapsed() >= (UpdateChecker::receiveTimeoutSeconds - 1) * 1000);
    QCOMPARE(background.counters().newsRequests.load(), 1);
}

void UpdateCheckerTest::retryStartsFromAnEmptyList()
{
    BackgroundUpdateServer background(StandInUpdateReplies{});
    UpdateChecker checker(loopback(background));
    QVERIFY(checker.checkUpdate());
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.channelList.size(), 3);
}

// A reply from another port, arriving first, must not choose the version.
void UpdateCheckerTest::forgedReplyIsIgnored()
{
    StandInUpdateReplies replies;
    replies.channels = "200#2.0";
    replies.forgedChannels = "100#1.0";
    BackgroundUpdateServer background(replies);
    UpdateChecker checker(loopback(background));
    QVERIFY(checker.checkUpdate());
    QCOMPARE(checker.channelList, Entries({{"200", "2.0"}}));

    // Only the forger answers: the query times out.
    replies.silentOnChannels = true;
    BackgroundUpdateServer forgerOnly(replies);
    UpdateChecker alone(loopback(forgerOnly));
    QVERIFY(!alone.checkUpdate());
}

QTEST_GUILESS_MAIN(UpdateCheckerTest)
#include "tst_updatechecker.moc"
