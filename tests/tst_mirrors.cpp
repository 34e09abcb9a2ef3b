#include "mirrors.h"
#include "support/gzipfile.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

// Writes mirrors.ini with the given (name, url, retries) entries; retries "" is left out.
QString writeMirrorsIni(const QTemporaryDir& dir, const QList<QStringList>& entries)
{
    QByteArray text = "[mirrors]\nsize=" + QByteArray::number(entries.size()) + "\n";
    for (int i = 0; i < entries.size(); ++i)
        text += QByteArray::number(i + 1) + "\\mirror=" + entries.at(i).at(0).toUtf8() + "\n";
    for (const QStringList& entry : entries) {
        text += "[" + entry.at(0).toUtf8() + "]\nurl=" + entry.at(1).toUtf8() + "\n";
        if (!entry.at(2).isEmpty())
            text += "retries=" + entry.at(2).toUtf8() + "\n";
    }
    const QString path = dir.filePath("mirrors.ini");
    writeFile(path, text);
    return path;
}

QStringList texts(const QSignalSpy& spy)
{
    QStringList result;
    for (const QList<QVariant>& arguments : spy)
        result << arguments.at(0).toString();
    return result;
}

} // namespace

class MirrorsTest : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void readsMirrorsIni();
    void choice_data();
    void choice();
    void allSlotsTaken();
    void errorBudget_data();
    void errorBudget();
    void streamsBoundConnections_data();
    void streamsBoundConnections();
    void brokenSharedConnectionCountsOnce();
    void noMirrorsMessageOnce();
    void alphaMirror();
    void unknownNamesAreIgnored();

private:
    std::unique_ptr<QTemporaryDir> dir;
};

void MirrorsTest::init()
{
    dir = std::make_unique<QTemporaryDir>();
    QVERIFY(dir->isValid());
}

void MirrorsTest::readsMirrorsIni()
{
    const QString ini = writeMirrorsIni(*dir, {{"one", "http://one.example/files", ""},
                                               {"two", "https://two.example/files/", "0"},
                                               {"three", "ftp://three.example/x", "abc"},
                                               {"four", "HTTPS://four.example", "5"}});
    Mirrors mirrors(nullptr);
    QVERIFY(mirrors.initDefault(ini, 1234));
    const QVector<FTPSiteAccessData>& list = mirrors.list();
    QCOMPARE(list.size(), 4);
    QCOMPARE(list.at(0).url, QStringLiteral("http://one.example/files/1234"));
    QCOMPARE(list.at(1).url, QStringLiteral("https://two.example/files/1234")); // no second "/"
    QCOMPARE(list.at(2).url, QStringLiteral("ftp://three.example/x/1234"));
    QCOMPARE(list.at(0).maxUses, 3);
    QCOMPARE(list.at(1).maxUses, 3); // https in lower case counts
    QCOMPARE(list.at(2).maxUses, 1);
    QCOMPARE(list.at(3).maxUses, 3);
    QCOMPARE(list.at(0).retries, 2);
    QCOMPARE(list.at(1).retries, 2);
    QCOMPARE(list.at(2).retries, 2);
    QCOMPARE(list.at(3).retries, 5);
    QCOMPARE(list.at(0).timeout, 15);

    Mirrors none(nullptr);
    QVERIFY(none.initDefault(dir->filePath("missing.ini"), 1));
    QVERIFY(none.list().isEmpty());
}

// Two HTTP mirrors (3 slots each) and one FTP mirror (1 slot); the first mirror already
// serving `busy` downloads; the random value drawn; the mirror chosen.
void MirrorsTest::choice_data()
{
    QTest::addColumn<int>("busy");
    QTest::addColumn<quint32>("random");
    QTest::addColumn<QString>("chosen");

    const QStringList idle{"a", "a", "a", "b", "b", "b", "c"};
    for (int value = 0; value < 7; ++value)
        QTest::addRow("idle, value %d", value) << 0 << quint32(value) << idle.at(value);
    const QStringList firstFull{"b", "b", "b", "c"};
    for (int value = 0; value < 8; ++value)
        QTest::addRow("first full, value %d", value) << 3 << quint32(value) << firstFull.at(value % 4);
}

void MirrorsTest::choice()
{
    QFETCH(int, busy);
    QFETCH(quint32, random);
    QFETCH(QString, chosen);

    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "http://a/", ""}, {"b", "http://b/", ""}, {"c", "ftp://c/", ""}}),
                        7);
    FTPSiteAccessData taken;
    mirrors.setRandomSourceForTests([] { return 0u; });
    for (int i = 0; i < busy; ++i)
        QCOMPARE(mirrors.getRandomMirror(taken), int(Mirrors::Assigned));

    mirrors.setRandomSourceForTests([random] { return random; });
    FTPSiteAccessData out;
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::Assigned));
    QCOMPARE(out.name, chosen);
    QCOMPARE(out.useCount, chosen == QLatin1String("a") ? busy + 1 : 1);
    QCOMPARE(mirrors.list().at(mirrors.getMirrorIndex(chosen)).useCount, out.useCount);
}

void MirrorsTest::allSlotsTaken()
{
    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "http://a/", ""}, {"c", "ftp://c/", ""}}), 7);
    mirrors.setRandomSourceForTests([] { return 0u; });
    FTPSiteAccessData out;
    for (int i = 0; i < 4; ++i)
        QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::Assigned));
    out.name = QStringLiteral("untouched");
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::AllBusy));
    QCOMPARE(out.name, QStringLiteral("untouched"));
    int capacity = 0, inUse = 0;
    mirrors.calcUseStats(capacity, inUse);
    QCOMPARE(capacity, 4);
    QCOMPARE(inUse, 4);

    mirrors.releaseMirror(QStringLiteral("c"));
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::Assigned));
    QCOMPARE(out.name, QStringLiteral("c"));
}

void MirrorsTest::errorBudget_data()
{
    QTest::addColumn<QString>("retries");
    QTest::addColumn<int>("droppedAtError");
    QTest::newRow("default") << "" << 3;
    QTest::newRow("0 means default") << "0" << 3;
    QTest::newRow("5") << "5" << 6;
}

void MirrorsTest::errorBudget()
{
    QFETCH(QString, retries);
    QFETCH(int, droppedAtError);

    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "http://a/", retries}}), 7);
    QSignalSpy log(&mirrors, &Mirrors::message);
    for (int error = 1; error < droppedAtError; ++error)
        mirrors.addMirrorError(QStringLiteral("a"));
    QCOMPARE(mirrors.getMirrorIndex(QStringLiteral("a")), 0);
    QVERIFY(log.isEmpty());
    mirrors.addMirrorError(QStringLiteral("a"));
    QCOMPARE(mirrors.getMirrorIndex(QStringLiteral("a")), -1);
    QCOMPARE(texts(log), QStringList{"Mirror a failed too many times, removing"});
}

// Each row: the streams allowed (0: never set), whether mirror a was found to speak HTTP/2,
// and how many downloads a and b then get before the registry says all are busy (the first
// free place is always drawn).
void MirrorsTest::streamsBoundConnections_data()
{
    QTest::addColumn<int>("streams");
    QTest::addColumn<bool>("multiplexed");
    QTest::addColumn<int>("fromA");
    QTest::addColumn<int>("fromB");
    QTest::newRow("HTTP/1.1, 6 streams: a connection each") << 6 << false << 3 << 3;
    QTest::newRow("HTTP/1.1, 2 streams") << 2 << false << 2 << 0;
    QTest::newRow("a over HTTP/2, 6 streams: 24 share its connection") << 6 << true << 24 << 3;
    QTest::newRow("a over HTTP/2, 1 stream: 8 share it") << 1 << true << 8 << 0;
    QTest::newRow("no bound") << 0 << true << 24 << 3;
}

void MirrorsTest::streamsBoundConnections()
{
    QFETCH(int, streams);
    QFETCH(bool, multiplexed);
    QFETCH(int, fromA);
    QFETCH(int, fromB);

    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "https://a/", ""}, {"b", "http://b/", ""}}), 7);
    if (streams > 0)
        mirrors.setStreams(streams);
    QSignalSpy freed(&mirrors, &Mirrors::slotFreed);
    mirrors.setMultiplexed(QStringLiteral("a"), multiplexed);
    QCOMPARE(freed.count(), multiplexed ? 1 : 0); // who waits may ask again
    mirrors.setRandomSourceForTests([] { return 0u; });
    QMap<QString, int> assigned;
    FTPSiteAccessData out;
    while (mirrors.getRandomMirror(out) == Mirrors::Assigned && assigned.size() < 100)
        ++assigned[out.name];
    QCOMPARE(assigned.value(QStringLiteral("a")), fromA);
    QCOMPARE(assigned.value(QStringLiteral("b")), fromB);

    // A download given back makes room for exactly one more.
    mirrors.releaseMirror(fromB > 0 ? QStringLiteral("b") : QStringLiteral("a"));
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::Assigned));
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::AllBusy));
}

// All streams of a broken HTTP/2 connection fail at once: one error, not one per stream.
void MirrorsTest::brokenSharedConnectionCountsOnce()
{
    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "https://a/", ""}, {"b", "https://b/", ""}}), 7);
    mirrors.setMultiplexed(QStringLiteral("a"), true);
    for (int stream = 0; stream < 24; ++stream) {
        mirrors.addMirrorError(QStringLiteral("a"));
        mirrors.addMirrorError(QStringLiteral("b"));
    }
    QCOMPARE(mirrors.list().size(), 1);
    QCOMPARE(mirrors.list().at(0).name, QStringLiteral("a"));
    QCOMPARE(mirrors.list().at(0).errorCount, 1);
}

void MirrorsTest::noMirrorsMessageOnce()
{
    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "http://a/", ""}}), 7);
    mirrors.removeMirror(QStringLiteral("a"));
    QSignalSpy log(&mirrors, &Mirrors::message);
    FTPSiteAccessData out;
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::NoMirror));
    QCOMPARE(mirrors.getRandomMirror(out), int(Mirrors::NoMirror));
    QCOMPARE(texts(log), QStringList{"There are no (more) known working mirrors available"});
}

void MirrorsTest::alphaMirror()
{
    const QString ini = dir->filePath("update.ini");
    Mirrors missing(nullptr);
    QSignalSpy fatal(&missing, &Mirrors::fatalError);
    QVERIFY(!missing.initAlpha(ini, 57));
    QCOMPARE(texts(fatal), QStringList{"Alpha parameter in channel section in update ini file not found"});
    QVERIFY(missing.list().isEmpty());

    QVERIFY(writeFile(ini, "[Channel]\nalpha=http://alpha.example/builds\nalphaRevno=57\n"));
    Mirrors alpha(nullptr);
    QVERIFY(alpha.initAlpha(ini, 57));
    QCOMPARE(alpha.list().size(), 1);
    const FTPSiteAccessData& mirror = alpha.list().at(0);
    QCOMPARE(mirror.name, QStringLiteral("Alpha Channel"));
    QCOMPARE(mirror.url, QStringLiteral("http://alpha.example/builds/57"));
    QCOMPARE(mirror.retries, 4);
    QCOMPARE(mirror.maxUses, 1);
}

void MirrorsTest::unknownNamesAreIgnored()
{
    Mirrors mirrors(nullptr);
    mirrors.initDefault(writeMirrorsIni(*dir, {{"a", "http://a/", ""}}), 7);
    mirrors.releaseMirror(QStringLiteral("nobody"));
    mirrors.addMirrorError(QStringLiteral("nobody"));
    mirrors.removeMirror(QStringLiteral("nobody"));
    QCOMPARE(mirrors.list().size(), 1);
    QCOMPARE(mirrors.list().at(0).useCount, 0);
    QCOMPARE(mirrors.list().at(0).errorCount, 0);
}

QTEST_GUILESS_MAIN(MirrorsTest)
#include "tst_mirrors.moc"
