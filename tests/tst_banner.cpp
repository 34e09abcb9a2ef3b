// The banner service over real UDP on loopback, the banner image download through the
// engine, and the news banner's links.
#include "banner.h"
#include "configuration.h"
#include "mirrorserver.h"
#include "newsbanner.h"
#include "standinupdateserver.h"
#include "updateengine.h"

#include <QDesktopServices>
#include <QImage>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>

namespace {

// Records the URLs the desktop would open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

} // namespace

class BannerTest : public QObject
{
    Q_OBJECT

private slots:
    void cleanup();
    void bannerReplies_data();
    void bannerReplies();
    void bannerImage_data();
    void bannerImage();
    void newsLinks_data();
    void newsLinks();
    void newsLoadNothing_data();
    void newsLoadNothing();
};

void BannerTest::cleanup()
{
    qunsetenv(UpdateServer::overrideVariable);
}

// Each row: the server's reply, whether a stranger's datagram arrives first, and what
// the service reports (nothing: an empty list).
void BannerTest::bannerReplies_data()
{
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<bool>("strangerFirst"); // a datagram from another port, the server silent
    QTest::addColumn<QStringList>("found");

    QTest::newRow("image and click URL") << QByteArray("http://b/i.png,http://b/click") << false
                                         << QStringList{"http://b/i.png", "http://b/click"};
    QTest::newRow("ending in its only comma") << QByteArray("http://b/i.png,") << false
                                              << QStringList{"http://b/i.png", ""};
    QTest::newRow("two commas") << QByteArray("a,b,c") << false << QStringList();
    QTest::newRow("no comma") << QByteArray("http://b/i.png") << false << QStringList();
    QTest::newRow("a stranger's reply is not taken") << QByteArray() << true << QStringList();
}

void BannerTest::bannerReplies()
{
    QFETCH(QByteArray, reply);
    QFETCH(bool, strangerFirst);
    QFETCH(QStringList, found);

    StandInUpdateReplies replies;
    replies.banner = reply;
    BackgroundUpdateServer server(replies);
    qputenv(UpdateServer::overrideVariable, server.address());
    Banner banner(nullptr);
    QSignalSpy spy(&banner, &Banner::bannerFound);
    banner.run();
    QTRY_COMPARE_WITH_TIMEOUT(server.counters().bannerRequests.load(), 1, 5000);
    if (strangerFirst) {
        // Anyone on the machine can send to the service's port; only the server counts.
        QUdpSocket stranger;
        stranger.writeDatagram("http://b/i.png,file:///etc/passwd", QHostAddress::LocalHost,
                               banner.findChild<QUdpSocket*>()->localPort());
    }
    if (found.isEmpty()) {
        QVERIFY(!QTest::qWaitFor([&spy] { return !spy.isEmpty(); }, 500));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(spy.size(), 1, 5000);
    QCOMPARE(QStringList({spy.at(0).at(0).toString(), spy.at(0).at(1).toString()}), found);
}

// Each row: how the mirror serves the image, its URL's scheme, and whether the engine
// hands the image on.
void BannerTest::bannerImage_data()
{
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("announced");
    QTest::addColumn<QString>("scheme");
    QTest::addColumn<bool>("shown");

    QTest::newRow("270000 bytes announced") << 270000 << true << "http" << true;
    QTest::newRow("270001 bytes announced") << 270001 << true << "http" << false;
    QTest::newRow("300000 bytes, no length announced") << 300000 << false << "http" << false;
    QTest::newRow("a file: URL is not fetched") << 100 << true << "file" << false;
}

void BannerTest::bannerImage()
{
    QFETCH(int, size);
    QFETCH(bool, announced);
    QFETCH(QString, scheme);
    QFETCH(bool, shown);

    MirrorServer mirror;
    QVERIFY(mirror.listen());
    const QByteArray image(size, 'i');
    if (announced) {
        mirror.setFile("/banner.png", image);
    } else {
        mirror.setFile("/banner.png", image.left(100000));
        mirror.setRule("/banner.png", {MirrorServer::Behaviour::Oversize, 200, size - 100000, 0});
    }
    const QString imageUrl = scheme == "http" ? mirror.baseUrl() + "/banner.png" : "file:///etc/passwd";
    StandInUpdateReplies replies;
    replies.banner = (imageUrl + ",https://voxmere.example/offer").toUtf8();
    BackgroundUpdateServer server(replies);
    qputenv(UpdateServer::overrideVariable, server.address());

    QTemporaryDir installation;
    Configuration::setAppRootPathForTests(installation.path());
    Configuration configuration;
    UpdateEngine engine(configuration, nullptr);
    QSignalSpy found(&engine, &UpdateEngine::bannerFound);
    engine.getBanner();
    Configuration::setAppRootPathForTests(QString());
    if (shown) {
        QTRY_COMPARE_WITH_TIMEOUT(found.size(), 1, 5000);
        QCOMPARE(found.at(0).at(0).toByteArray(), image);
        QCOMPARE(found.at(0).at(1).toString(), QStringLiteral("https://voxmere.example/offer"));
        return;
    }
    QTRY_COMPARE_WITH_TIMEOUT(server.counters().bannerRequests.load(), 1, 5000);
    QVERIFY(!QTest::qWaitFor([&found] { return !found.isEmpty(); }, 1500));
    QCOMPARE(mirror.totalRequests(), scheme == "http" ? 1 : 0);
}

// Each row: the news, where it is clicked (on the link or beside the text), and what
// the desktop is asked to open.
void BannerTest::newsLinks_data()
{
    QTest::addColumn<QString>("news");
    QTest::addColumn<bool>("onLink");
    QTest::addColumn<QString>("opened");

    const QString link = QStringLiteral("<a href=\"%1\">read all about it</a>");
    QTest::newRow("the news's own address") << "<!--URL=https://voxmere.example/news-->Voxmere 3" << false
                                            << "https://voxmere.example/news";
    QTest::newRow("the key in lower case is no address") << "<!--url=https://voxmere.example/news-->Voxmere 3"
                                                         << false << "";
    QTest::newRow("a link") << link.arg("http://voxmere.example/a") << true << "http://voxmere.example/a";
    QTest::newRow("a file: link is not opened") << link.arg("file:///etc/passwd") << true << "";
    QTest::newRow("a news address of another scheme is not opened") << "<!--URL=smb://host/share-->news" << false
                                                                    << "";
}

void BannerTest::newsLinks()
{
    QFETCH(QString, news);
    QFETCH(bool, onLink);
    QFETCH(QString, opened);

    UrlRecorder recorder;
    for (const char* scheme : {"http", "https", "file", "smb"})
        QDesktopServices::setUrlHandler(scheme, &recorder, "open");
    NewsBanner banner;
    banner.resize(400, 16);
    banner.setNews(news);
    banner.show();
    // The text starts 10 pixels left of the right edge; its first character is there.
    const QPoint point = onLink ? QPoint(banner.width() - 8, banner.height() / 2) : QPoint(2, banner.height() / 2);
    QCOMPARE(banner.anchorAt(point).isEmpty(), !onLink);
    QTest::mouseClick(&banner, Qt::LeftButton, {}, point);
    for (const char* scheme : {"http", "https", "file", "smb"})
        QDesktopServices::unsetUrlHandler(scheme);
    QCOMPARE(recorder.opened, opened.isEmpty() ? QList<QUrl>() : QList<QUrl>{QUrl(opened)});
}

// Each row: how the news name a local image. Loaded, it would make the line 300 pixels high.
void BannerTest::newsLoadNothing_data()
{
    QTest::addColumn<QString>("source");
    QTest::newRow("a path") << "%1";
    QTest::newRow("a file: URL") << "file://%1";
    QTest::newRow("a style sheet's background") << "x\" style=\"background-image:url(%1)";
}

void BannerTest::newsLoadNothing()
{
    QFETCH(QString, source);
    QTemporaryDir dir;
    QImage image(300, 300, QImage::Format_RGB32);
    image.fill(Qt::red);
    QVERIFY(image.save(dir.filePath("big.png")));

    NewsBanner banner;
    banner.resize(400, 16);
    banner.setNews(QStringLiteral("<img src=\"%1\">news").arg(source.arg(dir.filePath("big.png"))));
    QVERIFY2(banner.height() < 100, qPrintable(QString::number(banner.height())));
}

QTEST_MAIN(BannerTest)
#include "tst_banner.moc"
