// The publisher's signing tool as a publisher runs it: real key files, real signatures,
// a disk that is full.
#include "signing.h"
#include "support/gzipfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace {

struct Outcome
{
    int exitCode = -1;
    QString output;
};

// Runs the tool in dir; with fullDisk, no file may grow (the shell's file-size limit 0,
// with its signal ignored so that writes fail as on a full disk).
Outcome runTool(const QString& dir, const QStringList& arguments, bool fullDisk = false)
{
    QProcess process;
    process.setWorkingDirectory(dir);
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (fullDisk) {
        QStringList shellArguments{QStringLiteral("-c"), QStringLiteral("trap '' XFSZ; ulimit -f 0; exec \"$@\""),
                                   QStringLiteral("sh"), QStringLiteral(VX5_SIGN_TOOL)};
        process.start(QStringLiteral("/bin/sh"), shellArguments + arguments);
    } else {
        process.start(QStringLiteral(VX5_SIGN_TOOL), arguments);
    }
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit)
        return {};
    return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
}

} // namespace

class SignToolTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void commands_data();
    void commands();
    void everyKeySizeSignsAndVerifies_data();
    void everyKeySizeSignsAndVerifies();

private:
    QTemporaryDir keys;
    std::unique_ptr<QTemporaryDir> work;
};

void SignToolTest::initTestCase()
{
    QVERIFY(keys.isValid());
    QCOMPARE(runTool(keys.path(), {"genkey", "private.key", "public.key"}).exitCode, 0);
}

void SignToolTest::init()
{
    work = std::make_unique<QTemporaryDir>();
    QVERIFY(work->isValid());
    for (const char* name : {"private.key", "public.key"})
        QVERIFY(QFile::copy(keys.filePath(name), work->filePath(name)));
    QVERIFY(writeFile(work->filePath("product.ini"), "[files]\nupdate=0123456789abcdef0123456789abcdef::100\n"));
}

// Each row: set-up (none, a signature, or one of its malformed forms), the arguments,
// whether the disk is full, the exit code, a text the output holds, and the files the
// folder holds afterwards.
void SignToolTest::commands_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("fullDisk");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("says");
    QTest::addColumn<QStringList>("files");

    const QStringList before{"private.key", "product.ini", "public.key"};
    const QStringList signedFiles{"private.key", "product.ini", "product.ini.sig", "public.key"};
    QTest::newRow("sign") << "" << QStringList{"sign", "private.key", "product.ini"} << false << 0
                          << "wrote product.ini.sig" << signedFiles;
    QTest::newRow("sign, disk full") << "" << QStringList{"sign", "private.key", "product.ini"} << true << 3
                                     << "Cannot write file: product.ini.sig" << before;
    QTest::newRow("verify") << "sign" << QStringList{"verify", "public.key", "product.ini"} << false << 0
                            << "signature valid" << signedFiles;
    QTest::newRow("verify a changed file") << "change" << QStringList{"verify", "public.key", "product.ini"} << false
                                           << 1 << "signature does NOT match" << signedFiles;
    for (const char* form : {"empty", "cut", "too long"})
        QTest::newRow(qPrintable(QStringLiteral("verify a signature, %1").arg(form)))
            << form << QStringList{"verify", "public.key", "product.ini"} << false << 1 << "signature is malformed"
            << signedFiles;
    QTest::newRow("genkey, same file twice") << "" << QStringList{"genkey", "new.key", "./new.key"} << false << 2
                                             << "need two different files" << before;
    QTest::newRow("genkey over a key") << "" << QStringList{"genkey", "private.key", "new.key"} << false << 2
                                       << "private.key exists; pass --force" << before;
    QTest::newRow("genkey --force") << "" << QStringList{"genkey", "--force", "private.key", "public.key"} << false
                                    << 0 << "wrote 3072-bit private key" << before;
    QTest::newRow("genkey, unsupported size")
        << "" << QStringList{"genkey", "--force", "--bits", "4096", "private.key", "public.key"} << false << 2
        << "--bits 4096: key sizes are 1024, 2048 and 3072 bits" << before;
    // The fingerprint the release tool warns of is the test-and-demo pair's.
    QTest::newRow("fingerprint of the test-and-demo key")
        << "" << QStringList{"fingerprint", VX5_TEST_PRIVATE_KEY} << false << 0
        << QStringLiteral("key fingerprint: %1").arg(testAndDemoKeyFingerprint) << before;
    QTest::newRow("genkey, disk full") << "" << QStringList{"genkey", "a.key", "b.key"} << true << 3
                                       << "Cannot write file: a.key" << before;
    QTest::newRow("genkey, public key unwritable")
        << "" << QStringList{"genkey", "a.key", "missing/b.key"} << false << 3
        << "Cannot open file for writing: missing/b.key" << before;
}

void SignToolTest::commands()
{
    QFETCH(QString, setup);
    QFETCH(QStringList, arguments);
    QFETCH(bool, fullDisk);
    QFETCH(int, exitCode);
    QFETCH(QString, says);
    QFETCH(QStringList, files);

    const QString path = work->path();
    if (!setup.isEmpty()) {
        QCOMPARE(runTool(path, {"sign", "private.key", "product.ini"}).exitCode, 0);
        const QString signature = work->filePath("product.ini.sig");
        const QByteArray good = readAll(signature);
        if (setup == "change")
            QVERIFY(writeFile(work->filePath("product.ini"), "[files]\nupdate=ffffffffffffffffffffffffffffffff::100\n"));
        else if (setup == "empty")
            QVERIFY(writeFile(signature, QByteArray()));
        else if (setup == "cut")
            QVERIFY(writeFile(signature, good.left(good.size() - 1)));
        else if (setup == "too long")
            QVERIFY(writeFile(signature, good + '\0'));
    }
    const QByteArray publicKey = readAll(work->filePath("public.key"));

    const Outcome outcome = runTool(path, arguments, fullDisk);
    QVERIFY2(outcome.output.contains(says), qPrintable(outcome.output));
    QCOMPARE(outcome.exitCode, exitCode);
    QCOMPARE(QDir(path).entryList(QDir::Files, QDir::Name), files);
    if (arguments.first() == "genkey" && exitCode != 0)
        QCOMPARE(readAll(work->filePath("public.key")), publicKey); // a refused or failed genkey keeps the keys
}

void SignToolTest::everyKeySizeSignsAndVerifies_data()
{
    QTest::addColumn<int>("bits");
    for (const int bits : {1024, 2048, 3072})
        QTest::newRow(qPrintable(QString::number(bits))) << bits;
}

void SignToolTest::everyKeySizeSignsAndVerifies()
{
    QFETCH(int, bits);
    const QString path = work->path();
    QCOMPARE(runTool(path, {"genkey", "--bits", QString::number(bits), "--force", "private.key", "public.key"})
                 .exitCode,
             0);
    QCOMPARE(QFileInfo(work->filePath("public.key")).size(), 2048);
    QCOMPARE(runTool(path, {"sign", "private.key", "product.ini"}).exitCode, 0);
    QCOMPARE(QFileInfo(work->filePath("product.ini.sig")).size(), bits / 8);
    const Outcome verified = runTool(path, {"verify", "public.key", "product.ini"});
    QVERIFY2(verified.output.contains("signature valid"), qPrintable(verified.output));
    QCOMPARE(verified.exitCode, 0);
    // Another pair's key does not verify it.
    QVERIFY(QFile::copy(keys.filePath("public.key"), work->filePath("other.key")));
    QCOMPARE(runTool(path, {"verify", "other.key", "product.ini"}).exitCode, 1);
}

QTEST_GUILESS_MAIN(SignToolTest)
#include "tst_signtool.moc"
