// The release tool refuses a tree that the updater could not install, naming the path.
#include "releasebuilder.h"
#include "updatescene.h"

#include <QDir>
#include <QTemporaryDir>
#include <QTest>

class ReleaseTest : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
};

// Each row: the previous release (empty: none), the new one, the pack patterns, and what
// the refusal says (empty: the release is made).
void ReleaseTest::refusals_data()
{
    QTest::addColumn<ClientTree>("previous");
    QTest::addColumn<ClientTree>("tree");
    QTest::addColumn<QStringList>("pack");
    QTest::addColumn<QString>("refusal");

    const QByteArray x = "x";
    const QString longest(250, QLatin1Char('n')); // with "_new_": 255 bytes
    QTest::newRow("a file became a folder")
        << ClientTree{{"sounds", x}} << ClientTree{{"sounds/ring.wav", x}} << QStringList()
        << "sounds is a file in %1 and a folder now (it holds sounds/ring.wav); the updater cannot install that";
    QTest::newRow("a folder became a file")
        << ClientTree{{"sounds/ring.wav", x}} << ClientTree{{"sounds", x}} << QStringList()
        << "sounds is a folder in %1 (it holds sounds/ring.wav) and a file now; the updater cannot install that";
    QTest::newRow("the longest name that fits") << ClientTree() << ClientTree{{"dir/" + longest, x}} << QStringList()
                                                << "";
    QTest::newRow("a name too long for the staging copy")
        << ClientTree() << ClientTree{{"dir/" + longest + "n", x}} << QStringList()
        << "dir/" + longest + "n: the name " + longest + "n is longer than the 250 bytes the updater can install";
    QTest::newRow("a packed name too long for .gz")
        << ClientTree() << ClientTree{{longest, x}} << QStringList{"n*"}
        << longest + ": the name " + longest + " is longer than the 247 bytes the updater can install";
    QTest::newRow("a packed name holding the field separator")
        << ClientTree() << ClientTree{{"lib::x.so", x}} << QStringList{"*.so"}
        << "lib::x.so: the product ini cannot carry this name";
    QTest::newRow("a backslash leading outside") << ClientTree() << ClientTree{{"..\\b.txt", x}} << QStringList()
                                                 << "..\\b.txt: the product ini cannot carry this name";
    QTest::newRow("a file and its packed neighbour")
        << ClientTree() << ClientTree{{"data", x}, {"data.gz", x}} << QStringList{"data"}
        << "data and data.gz would both be served as data.gz";
    QTest::newRow("a packed file where a folder must be")
        << ClientTree() << ClientTree{{"x", x}, {"x.gz/y", x}} << QStringList{"x"}
        << "x would be served as x.gz, where x.gz/y needs a folder";
    QTest::newRow("a file named as the product ini")
        << ClientTree() << ClientTree{{"client_linux_amd64.ini", x}} << QStringList()
        << "client_linux_amd64.ini would be downloaded over the product ini";
    QTest::newRow("names URLs and settings files treat specially")
        << ClientTree() << ClientTree{{"a#1.txt", x}, {"%41 b?.so", x}, {"\xc3\xbc;=[x].txt", x}, {"a\\b", x}}
        << QStringList{"*.so"} << "";
}

void ReleaseTest::refusals()
{
    QFETCH(ClientTree, previous);
    QFETCH(ClientTree, tree);
    QFETCH(QStringList, pack);
    QFETCH(QString, refusal);

    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString previousDir = dir.filePath("previous");
    QVERIFY(writeTree(previousDir, previous, false) && writeTree(dir.filePath("tree"), tree, false));
    ReleaseOptions options;
    options.treeDir = dir.filePath("tree");
    options.mirrorDir = dir.filePath("mirror");
    options.version = 7;
    options.privateKeyPath = QStringLiteral(VX5_TEST_PRIVATE_KEY);
    options.packPatterns = pack;
    if (!previous.isEmpty())
        options.previousTreeDirs << previousDir;
    ReleaseBuilder builder(options);
    QCOMPARE(builder.build(), refusal.isEmpty());
    QCOMPARE(builder.errorString(), refusal.contains("%1") ? refusal.arg(previousDir) : refusal);
}

QTEST_GUILESS_MAIN(ReleaseTest)
#include "tst_release.moc"
