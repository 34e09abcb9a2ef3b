// The window a user sees, offscreen: whole updates clicked through it against the
// in-process mirror, the close question, automatic mode, exit codes, the single-instance
// guard, the changelog viewer and the translations. With VX5_SCREENSHOT_DIR set, the
// test also writes the screenshots of the documentation there.
#include "changelogviewer.h"
#include "configuration.h"
#include "mainwindow.h"
#include "mirrorserver.h"
#include "singleinstancechecker.h"
#include "standinupdateserver.h"
#include "translations.h"
#include "updateengine.h"
#include "updatescene.h"
#include "updateserver.h"
#include "userprompt.h"
#include "support/gzipfile.h"

#include <QBuffer>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLocalServer>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>

namespace {

// Answers for the boxes the window would show, and what it showed.
class ScriptedPrompt : public UserPrompt
{
public:
    void showError(QWidget*, const QString& title, const QString& text) override { shown << title + ": " + text; }
    bool askYesNo(QWidget*, const QString&, const QString&) override
    {
        ++asked;
        return !answers.isEmpty() && answers.takeFirst();
    }
    bool unattended() const override { return nobodyThere; }

    bool nobodyThere = false;
    QStringList shown;
    QList<bool> answers;
    int asked = 0;
};

QByteArray bannerPng()
{
    QImage image(468, 60, QImage::Format_RGB32);
    image.fill(QColor(0x12, 0x3e, 0x8c));
    QPainter painter(&image);
    painter.setPen(Qt::white);
    QFont font = painter.font();
    font.setPixelSize(20);
    painter.setFont(font);
    painter.drawText(image.rect(), Qt::AlignCenter, QStringLiteral("Voxmere 3.1: clearer voices, fewer clicks"));
    painter.end();
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return png;
}

QString buttonText(QWidget& window, const char* name)
{
    return window.findChild<QPushButton*>(name)->text();
}

} // namespace

class MainWindowTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

    void wholeUpdateClickedThrough();
    void closeDuringUpdate();
    void automaticMode();
    void exitCodes_data();
    void exitCodes();
    void secondStartHandsOver();
    void staleSocketIsTakenOver();
    void changelog_data();
    void changelog();
    void translations_data();
    void translations();

private:
    // A window for the scene, with scripted answers and recorded exit codes.
    std::unique_ptr<MainWindow> makeWindow();
    void screenshot(QWidget& window, const QString& name);

    QTemporaryDir runtimeDir;
    std::unique_ptr<UpdateScene> scene;
    std::unique_ptr<MirrorServer> server;
    std::unique_ptr<BackgroundUpdateServer> updateServer;
    std::unique_ptr<Configuration> config;
    ScriptedPrompt* prompt = nullptr; // owned by the window
    QList<int> exits; // codes the window ended the program with
};

void MainWindowTest::initTestCase()
{
    // The single-instance guard's socket lies in the runtime directory.
    QVERIFY(runtimeDir.isValid());
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtimeDir.path()));
    QApplication::setQuitOnLastWindowClosed(false);
    ChangeLogViewer::attemptTimeoutMs = 500;
}

void MainWindowTest::init()
{
    scene = std::make_unique<UpdateScene>();
    server = std::make_unique<MirrorServer>();
    QVERIFY(scene->isValid() && server->listen());
    scene->serve(*server);
    server->setFile("/banner.png", bannerPng());
    QString error;
    QVERIFY2(scene->publish(100, olderClient(), &error), qPrintable(error));
    QVERIFY2(scene->publish(101, newerClient(), &error), qPrintable(error));
    QVERIFY(scene->install(olderClient(), server->baseUrl() + "/m1"));
    Configuration::setAppRootPathForTests(scene->installDir());

    StandInUpdateReplies replies;
    replies.channels = "101#3.1.0,101#3.1.0,101#3.1.0";
    replies.news = "<!--URL=https://voxmere.example/news-->Voxmere 3.1 is out: "
                   "<a href=\"https://voxmere.example/3.1\">what is new</a>";
    replies.banner = (server->baseUrl() + "/banner.png,https://voxmere.example/offer").toUtf8();
    updateServer = std::make_unique<BackgroundUpdateServer>(replies);
    qputenv(UpdateServer::overrideVariable, updateServer->address());

    config = std::make_unique<Configuration>();
    config->setRetryPrompt([] { return false; });
    config->clientType = QStringLiteral("client_linux_amd64");
    exits.clear();
}

void MainWindowTest::cleanup()
{
    delete ChangeLogViewer::m_instance;
    config.reset();
    updateServer.reset();
    server.reset();
    scene.reset();
    Configuration::setAppRootPathForTests(QString());
    qunsetenv(UpdateServer::overrideVariable);
}

std::unique_ptr<MainWindow> MainWindowTest::makeWindow()
{
    auto window = std::make_unique<MainWindow>(*config);
    auto scripted = std::make_unique<ScriptedPrompt>();
    prompt = scripted.get();
    window->setPromptForTests(std::move(scripted));
    window->setExitFunctionForTests([this](int code) { exits << code; });
    return window;
}

void MainWindowTest::screenshot(QWidget& window, const QString& name)
{
    const QByteArray dir = qgetenv("VX5_SCREENSHOT_DIR");
    if (!dir.isEmpty())
        QVERIFY(window.grab().save(QDir(QString::fromLocal8Bit(dir)).filePath(name + ".png")));
}

void MainWindowTest::wholeUpdateClickedThrough()
{
    // Slow enough to be seen while it downloads.
    server->setRule("/m1/101/files/vx5client_linux_amd64", {MirrorServer::Behaviour::Trickle, 200, 4096, 100});
    QVERIFY(config->parseCommandLineOptions({"update"}));
    QCOMPARE(config->clientVersion, 101);
    auto window = makeWindow();
    window->setUIToConfigSpecs();
    window->show();
    window->setNews();
    const QString header = window->findChild<QLabel*>("versionLabel")->text();
    QVERIFY2(header.contains("Update to Voxmere 3.1.0") && header.contains("Stable channel"), qPrintable(header));
    QTRY_VERIFY(!window->findChild<QLabel*>("banner")->pixmap().isNull());
    screenshot(*window, "window-idle");

    QTest::mouseClick(window->findChild<QPushButton*>("startButton"), Qt::LeftButton);
    auto* log = window->findChild<QTextEdit*>("outputTextEdit");
    QTRY_VERIFY_WITH_TIMEOUT(log->toPlainText().contains("Downloading files"), 10000);
    QTest::mouseClick(window->findChild<QPushButton*>("detailsButton"), Qt::LeftButton);
    QTRY_VERIFY(log->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(window->findChild<QLabel*>("downloadSpeedLabel")->isVisible(), 5000);
    screenshot(*window, "window-updating");

    QTRY_COMPARE_WITH_TIMEOUT(buttonText(*window, "startButton"), QStringLiteral("Start Voxmere"), 30000);
    QVERIFY(log->toPlainText().contains("Update successfully finished"));
    // The log has followed every new line; scrolled up, it stays where the user reads.
    QScrollBar* scrollBar = log->verticalScrollBar();
    QVERIFY(scrollBar->maximum() > 0);
    QCOMPARE(scrollBar->value(), scrollBar->maximum());
    screenshot(*window, "window-done");
    scrollBar->setValue(0);
    emit window->updateEngine()->message("a line while the user reads above");
    QCOMPARE(scrollBar->value(), 0);
    QTest::mouseClick(window->findChild<QPushButton*>("startButton"), Qt::LeftButton);
    QTRY_VERIFY(QFileInfo::exists(QDir(scene->installDir()).filePath("client-started")));
    QVERIFY(!window->isVisible());
    QVERIFY(exits.isEmpty());
    QVERIFY2(prompt->shown.isEmpty(), qPrintable(prompt->shown.join('\n')));
}

void MainWindowTest::closeDuringUpdate()
{
    server->setRule("/m1/101/files/vx5client_linux_amd64", {MirrorServer::Behaviour::Trickle, 200, 1024, 100});
    config->clientVersion = 101;
    auto window = makeWindow();
    window->show();
    QTest::mouseClick(window->findChild<QPushButton*>("startButton"), Qt::LeftButton);
    QTRY_VERIFY2_WITH_TIMEOUT(window->findChild<QLabel*>("downloadSpeedLabel")->isVisible(),
                              qPrintable(window->findChild<QTextEdit*>("outputTextEdit")->toPlainText()), 10000);

    prompt->answers = {false};
    window->close();
    QVERIFY(window->isVisible());
    QVERIFY(window->updateEngine()->busy());
    prompt->answers = {true};
    window->close();
    window->close(); // asked once only while the cancel runs
    QCOMPARE(prompt->asked, 2);
    QTRY_COMPARE_WITH_TIMEOUT(exits, QList<int>{0}, 10000);
    QCOMPARE(scene->installed(), UpdateScene::expected(olderClient()));
}

void MainWindowTest::automaticMode()
{
    QVERIFY(config->parseCommandLineOptions({"update", "--nouser", "client_linux_amd64", "101", "3.1.0", "news"}));
    auto window = makeWindow();
    window->setUIToConfigSpecs();
    window->show();
    QVERIFY(!window->findChild<QPushButton*>("startButton")->isEnabled());
    QMetaObject::invokeMethod(window.get(), "onAutoStartUpdate");
    QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(QDir(scene->installDir()).filePath("client-started")), 30000);
    QVERIFY(!window->isVisible());
    QVERIFY(exits.isEmpty());
}

// Each row: what goes wrong, the box shown, and the exit code.
void MainWindowTest::exitCodes_data()
{
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("exitCode");
    QTest::newRow("configuration") << "version" << "Error: Invalid version nr (12ab)" << 1;
    QTest::newRow("update engine") << "mirrors" << "Error: mirrors.ini is missing, cannot proceed." << 2;
    QTest::newRow("failed update with no one to restart it")
        << "unattended" << "Update: Update cancelled. Push \"Details\" to check reasons. The log is kept in <state>/voxmere/update.log." << 3;
}

void MainWindowTest::exitCodes()
{
    QFETCH(QString, fault);
    QFETCH(QString, shown);
    QFETCH(int, exitCode);
    auto window = makeWindow();
    if (fault == "version") {
        QVERIFY(!config->parseCommandLineOptions({"update", "client_linux_amd64", "12ab"}));
    } else {
        if (fault == "unattended") // no mirror: the update fails at once
            QVERIFY(writeFile(QDir(scene->installDir()).filePath("mirrors.ini"), "[mirrors]\nsize=0\n"));
        else
            QVERIFY(QFile::remove(QDir(scene->installDir()).filePath("mirrors.ini")));
        prompt->nobodyThere = fault == "unattended";
        config->clientVersion = 101;
        QTest::mouseClick(window->findChild<QPushButton*>("startButton"), Qt::LeftButton);
    }
    QTRY_COMPARE(exits, QList<int>{exitCode});
    QCOMPARE(prompt->shown, QStringList{QString(shown).replace("<state>", scene->stateDir())});
}

void MainWindowTest::secondStartHandsOver()
{
    auto window = makeWindow();
    QSignalSpy activated(window->findChild<SingleInstanceChecker*>(), &SingleInstanceChecker::otherInstanceActivate);
    QVERIFY(!window->handedOver());
    QVERIFY(SingleInstanceChecker::checkExistingInstance("#"));
    QTRY_COMPARE(activated.size(), 1);
    QCOMPARE(activated.at(0).at(0).toString(), QStringLiteral("#"));
    // Another updater starting now finds this one and leaves.
    MainWindow second(*config);
    QVERIFY(second.handedOver());
}

void MainWindowTest::staleSocketIsTakenOver()
{
    // What a crashed updater leaves: a socket file nobody listens on.
    const QString path = SingleInstanceChecker::getLocalServerPath();
    QLocalServer::removeServer(path);
    QFile stale(path);
    QVERIFY(stale.open(QIODevice::WriteOnly));
    stale.close();
    QVERIFY(!SingleInstanceChecker::checkExistingInstance("#"));
    SingleInstanceChecker checker(nullptr);
    QVERIFY(checker.isListening());
    QVERIFY(!checker.handedOver());
    QVERIFY(SingleInstanceChecker::checkExistingInstance("#"));
}

// Each row: how the mirrors named in mirrors.ini answer, and what the viewer shows.
void MainWindowTest::changelog_data()
{
    QTest::addColumn<QStringList>("answers");
    QTest::addColumn<QString>("shown");
    const QString text = QStringLiteral("Voxmere 3.1\n<b>not bold</b>: clearer voices\n");
    QTest::newRow("three fail, one answers") << QStringList{"stall", "203", "302", "good"} << text;
    QTest::newRow("none answers") << QStringList{"stall", "500", "moved"} << "Failed to load changelog.";
}

void MainWindowTest::changelog()
{
    QFETCH(QStringList, answers);
    QFETCH(QString, shown);
    const QByteArray text = "Voxmere 3.1\n<b>not bold</b>: clearer voices\n";
    QByteArray ini = "[update]\nstreams=3\n";
    QVERIFY(writeFile(QDir(scene->installDir()).filePath("update.ini"), ini)); // no alpha: the mirrors count
    MirrorList mirrors;
    for (int i = 0; i < answers.size(); ++i) {
        const QString name = "c" + QString::number(i);
        mirrors.append({name, server->baseUrl() + "/" + name + "/"}); // a base URL ending in "/"
        const QString path = "/" + name + "/101/changelog_client.txt";
        const QString answer = answers.at(i);
        server->setFile(path, answer == "moved" ? "The document has moved <a href=x>here</a>" : text);
        if (answer == "stall")
            server->setRule(path, {MirrorServer::Behaviour::StallAfter, 200, 0, 0});
        else if (answer != "good" && answer != "moved")
            server->setRule(path, {MirrorServer::Behaviour::Status, answer.toInt(), 0, 0});
    }
    QVERIFY(writeFile(QDir(scene->installDir()).filePath("mirrors.ini"), mirrorsIni(mirrors)));
    config->clientVersion = 101;
    auto window = makeWindow();
    window->show();
    QTest::mouseClick(window->findChild<QPushButton*>("changelogButton"), Qt::LeftButton);
    QVERIFY(ChangeLogViewer::m_instance);
    QTRY_COMPARE_WITH_TIMEOUT(ChangeLogViewer::m_instance->text(), shown, 10000);
    for (int i = 0; i < answers.size(); ++i)
        QVERIFY(server->requestCount("/c" + QString::number(i) + "/101/changelog_client.txt") <= 1);
    ChangeLogViewer* viewer = ChangeLogViewer::m_instance;
    QTest::mouseClick(window->findChild<QPushButton*>("changelogButton"), Qt::LeftButton);
    QCOMPARE(ChangeLogViewer::m_instance, viewer); // the same dialog, no new download
    QVERIFY(server->totalRequests() <= answers.size() + 2); // + the banner image
}

// Each row: the locale, and texts of the window and of Qt's own buttons.
void MainWindowTest::translations_data()
{
    QTest::addColumn<QString>("locale");
    QTest::addColumn<QString>("startButton");
    QTest::addColumn<QString>("yesButton");
    QTest::newRow("German") << "de_DE" << "Update starten" << "&Ja";
    QTest::newRow("a locale without translations") << "xx_XX" << "Start Update" << "&Yes";
}

void MainWindowTest::translations()
{
    QFETCH(QString, locale);
    QFETCH(QString, startButton);
    QFETCH(QString, yesButton);
    // The translations lie beside the built program.
    Configuration::setAppRootPathForTests(QStringLiteral(VX5_UPDATER_DIR));
    const Translations translations(locale);
    Configuration::setAppRootPathForTests(scene->installDir());
    config->clientVersion = 101;
    config->versionName = QStringLiteral("3.1.0");
    auto window = makeWindow();
    window->setUIToConfigSpecs();
    window->show();
    QCOMPARE(buttonText(*window, "startButton"), startButton);
    QDialogButtonBox buttons(QDialogButtonBox::Yes);
    QCOMPARE(buttons.button(QDialogButtonBox::Yes)->text(), yesButton);
    if (locale == "de_DE") {
        QTRY_VERIFY(!window->findChild<QLabel*>("banner")->pixmap().isNull());
        screenshot(*window, "window-german");
    }
}

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
