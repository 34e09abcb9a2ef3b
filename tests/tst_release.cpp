// The release tool refuses a tree that the updater could not install, naming the path, and
// publishes patches from earlier releases' files that turn them into this release's.
#include "filepatch.h"
#include "releasebuilder.h"
#include "support/gzipfile.h"
#include "updatescene.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

QString md5Of(const QByteArray& content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
}

} // namespace

class ReleaseTest : public QObject
{
    Q_OBJECT

private slots:
    void refusals_data();
    void refusals();
    void patchesFromEarlierReleases();
    void badPatchesMakeNothing_data();
    void badPatchesMakeNothing();
};

// Each row: the previous release (empty: none), the new one, the pack patterns, a mistake
// in the other inputs, and what the refusal says (empty: the release is made). A refusal
// writes nothing.
void ReleaseTest::refusals_data()
{
    QTest::addColumn<ClientTree>("previous");
    QTest::addColumn<ClientTree>("tree");
    QTest::addColumn<QStringList>("pack");
    QTest::addColumn<QString>("mistake");
    QTest::addColumn<QString>("refusal");

    const QByteArray x = "x";
    const QString longest(250, QLatin1Char('n')); // with "_new_": 255 bytes
    QTest::newRow("a file became a folder")
        << ClientTree{{"sounds", x}} << ClientTree{{"sounds/ring.wav", x}} << QStringList() << QString()
        << "sounds is a file in %1 and a folder now (it holds sounds/ring.wav); the updater cannot install that";
    QTest::newRow("a folder became a file")
        << ClientTree{{"sounds/ring.wav", x}} << ClientTree{{"sounds", x}} << QStringList() << QString()
        << "sounds is a folder in %1 (it holds sounds/ring.wav) and a file now; the updater cannot install that";
    QTest::newRow("the longest name that fits") << ClientTree() << ClientTree{{"dir/" + longest, x}} << QStringList() << QString()
                                                << "";
    QTest::newRow("a name too long for the staging copy")
        << ClientTree() << ClientTree{{"dir/" + longest + "n", x}} << QStringList() << QString()
        << "dir/" + longest + "n: the name " + longest + "n is longer than the 250 bytes the updater can install";
    QTest::newRow("a packed name too long for .gz")
        << ClientTree() << ClientTree{{longest, x}} << QStringList{"n*"} << QString()
        << longest + ": the name " + longest + " is longer than the 247 bytes the updater can install";
    QTest::newRow("a packed name holding the field separator")
        << ClientTree() << ClientTree{{"lib::x.so", x}} << QStringList{"*.so"} << QString()
        << "lib::x.so: the product ini cannot carry this name";
    QTest::newRow("a backslash leading outside") << ClientTree() << ClientTree{{"..\\b.txt", x}} << QStringList() << QString()
                                                 << "..\\b.txt: the product ini cannot carry this name";
    QTest::newRow("a file and its packed neighbour")
        << ClientTree() << ClientTree{{"data", x}, {"data.gz", x}} << QStringList{"data"} << QString()
        << "data and data.gz would both be served as data.gz";
    QTest::newRow("a packed file where a folder must be")
        << ClientTree() << ClientTree{{"x", x}, {"x.gz/y", x}} << QStringList{"x"} << QString()
        << "x would be served as x.gz, where x.gz/y needs a folder";
    QTest::newRow("a file named as the product ini")
        << ClientTree() << ClientTree{{"client_linux_amd64.ini", x}} << QStringList() << QString()
        << "client_linux_amd64.ini would be downloaded over the product ini";
    QTest::newRow("names URLs and settings files treat specially")
        << ClientTree() << ClientTree{{"a#1.txt", x}, {"%41 b?.so", x}, {"\xc3\xbc;=[x].txt", x}, {"a\\b", x}}
        << QStringList{"*.so"} << QString() << "";
    QTest::newRow("a previous folder that does not exist")
        << ClientTree() << ClientTree{{"a", x}} << QStringList() << "missing previous" << "--previous %1: no such folder";
    QTest::newRow("a published release as the previous tree")
        << ClientTree{{"client_linux_amd64.ini", x}, {"client_linux_amd64.ini.sig", x}, {"files/a", x}}
        << ClientTree{{"a", x}} << QStringList() << QString()
        << "--previous %1 is a published release (it holds client_linux_amd64.ini.sig); give the folder of that "
           "version's files as installed";
    QTest::newRow("a public key to sign with") << ClientTree() << ClientTree{{"a", x}} << QStringList() << "public key"
                                               << "%2 holds a public key; signing needs the private key";
    QTest::newRow("a changelog that is missing") << ClientTree() << ClientTree{{"a", x}} << QStringList()
                                                 << "missing changelog" << "the changelog %2 is no file";
    QTest::newRow("a name of the updater's own") << ClientTree() << ClientTree{{"_new_a", x}} << QStringList()
                                                 << QString() << "_new_a: names beginning with _old_ or _new_ are the "
                                                                 "updater's own";
}

void ReleaseTest::refusals()
{
    QFETCH(ClientTree, previous);
    QFETCH(ClientTree, tree);
    QFETCH(QStringList, pack);
    QFETCH(QString, mistake);
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
    if (!previous.isEmpty() || mistake == "missing previous")
        options.previousTreeDirs << previousDir;
    QString other; // the other input the mistake is about
    if (mistake == "public key")
        other = options.privateKeyPath = QStringLiteral(VX5_TEST_PUBLIC_KEY);
    if (mistake == "missing changelog")
        other = options.changelogPath = dir.filePath("changes.txt");
    ReleaseBuilder builder(options);
    QCOMPARE(builder.build(), refusal.isEmpty());
    QCOMPARE(builder.errorString(), QString(refusal).replace("%1", previousDir).replace("%2", other));
    if (!refusal.isEmpty()) {
        QVERIFY(builder.inputMistake());
        QVERIFY(!QFileInfo::exists(dir.filePath("mirror")));
    }
}

// A library changed in a few places gets a patch (packed or not, the patch makes the file
// itself); new random content and unchanged files get none. A later run without the
// earlier tree keeps its patches; --no-patches withdraws them.
void ReleaseTest::patchesFromEarlierReleases()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray library = seededBytes(300000, 1);
    QByteArray changed = library;
    changed.replace(150000, 6, "patch!");
    changed += seededBytes(1000, 2);
    QVERIFY(writeTree(dir.filePath("previous"), {{"lib.so", library}, {"noise.bin", seededBytes(50000, 3)},
                                                 {"same.txt", "same"}},
                      false));
    QVERIFY(writeTree(dir.filePath("tree"), {{"lib.so", changed}, {"noise.bin", seededBytes(50000, 4)},
                                             {"same.txt", "same"}},
                      false));
    ReleaseOptions options;
    options.treeDir = dir.filePath("tree");
    options.mirrorDir = dir.filePath("mirror");
    options.version = 7;
    options.privateKeyPath = QStringLiteral(VX5_TEST_PRIVATE_KEY);
    options.packPatterns = {"*.so"};
    options.previousTreeDirs = {dir.filePath("previous")};
    QVERIFY2(ReleaseBuilder(options).build(), "first release");

    const QString patches = dir.filePath("mirror/7/patches/");
    const QStringList index = QString::fromLatin1(readAll(patches + "index")).split('\n', Qt::SkipEmptyParts);
    QCOMPARE(index.size(), 1);
    const QStringList fields = index.first().split(' ');
    QCOMPARE(fields.mid(0, 2), (QStringList{md5Of(changed), md5Of(library)}));
    const QString patch = patches + fields.at(0) + '-' + fields.at(1) + ".zst";
    QCOMPARE(QString::number(QFileInfo(patch).size()), fields.at(2));
    QCOMPARE(md5Of(readAll(patch)), fields.at(3));
    QVERIFY(QFileInfo(patch).size() < 2000);

    QString md5;
    QString error;
    QVERIFY2(FilePatch::apply(dir.filePath("previous/lib.so"), patch, dir.filePath("result"), changed.size(), &md5,
                              &error) == FilePatch::Outcome::Applied,
             qPrintable(error));
    QCOMPARE(readAll(dir.filePath("result")), changed);
    QCOMPARE(md5, md5Of(changed));

    options.previousTreeDirs.clear();
    QVERIFY2(ReleaseBuilder(options).build(), "the same release again, without the earlier tree");
    QCOMPARE(QString::fromLatin1(readAll(patches + "index")).split('\n', Qt::SkipEmptyParts), index);
    options.makePatches = false;
    QVERIFY2(ReleaseBuilder(options).build(), "the same release without patches");
    QVERIFY(!QFileInfo::exists(patches)); // the index and the patches
}

// Each row: how the patch is spoilt, and the size the result is expected to have (relative
// to the real one). Nothing is left where the result would go, and the error says why.
void ReleaseTest::badPatchesMakeNothing_data()
{
    QTest::addColumn<QString>("spoilt");
    QTest::addColumn<int>("sizeChange");
    QTest::addColumn<QString>("says");
    QTest::addColumn<bool>("local"); // the base could not be read, rather than the patch refused
    QTest::newRow("a byte changed") << "changed" << 0 << "does not apply" << false;
    QTest::newRow("cut") << "cut" << 0 << "does not apply" << false;
    QTest::newRow("another base") << "base" << 0 << "does not apply" << false;
    QTest::newRow("more bytes than expected") << "" << -1 << "does not apply" << false;
    QTest::newRow("fewer bytes than expected") << "" << 1 << "makes 100000 bytes, not 100001" << false;
    QTest::newRow("a small patch of 64 MiB") << "bomb" << 0 << "does not apply" << false;
    QTest::newRow("a FIFO for a base") << "fifo" << 0 << "is not a regular file" << true;
}

void ReleaseTest::badPatchesMakeNothing()
{
    QFETCH(QString, spoilt);
    QFETCH(int, sizeChange);
    QFETCH(QString, says);
    QFETCH(bool, local);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QByteArray base = seededBytes(100000, 5);
    QByteArray target = base;
    target.replace(5000, 4, "new!");
    QString error;
    QByteArray patch = FilePatch::make(base, spoilt == "bomb" ? QByteArray(64 << 20, '\0') : target,
                                       FilePatch::defaultLevel, &error);
    QVERIFY2(!patch.isEmpty(), qPrintable(error));
    if (spoilt == "changed")
        patch[patch.size() / 2] = char(patch.at(patch.size() / 2) ^ 0x55);
    else if (spoilt == "cut")
        patch.chop(patch.size() / 2);
    if (spoilt == "fifo")
        QCOMPARE(::mkfifo(QFile::encodeName(dir.filePath("base")).constData(), 0600), 0);
    else
        QVERIFY(writeFile(dir.filePath("base"), spoilt == "base" ? seededBytes(100000, 6) : base));
    QVERIFY(writeFile(dir.filePath("patch"), patch));

    QString md5;
    QCOMPARE(FilePatch::apply(dir.filePath("base"), dir.filePath("patch"), dir.filePath("result"),
                              target.size() + sizeChange, &md5, &error),
             local ? FilePatch::Outcome::LocalFailure : FilePatch::Outcome::Refused);
    QVERIFY2(error.contains(says), qPrintable(error));
    QVERIFY(!QFileInfo::exists(dir.filePath("result")));
}

QTEST_GUILESS_MAIN(ReleaseTest)
#include "tst_release.moc"
