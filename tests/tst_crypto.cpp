#include "checksignaturetaskspecification.h"
#include "support/gzipfile.h"
#include "tomcryptutil.h"

#include <QCryptographicHash>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray bytesOf(const unsigned char* data, unsigned long length)
{
    return QByteArray(reinterpret_cast<const char*>(data), int(length));
}

// A key pair of the size new keys have, made once for the whole run.
Rsa_key testKey;

QByteArray sign(Rsa_key* key, const QByteArray& message)
{
    unsigned char signature[largestSignatureSize];
    unsigned long length = sizeof signature;
    sign_msg(key, reinterpret_cast<const unsigned char*>(message.constData()), message.size(), signature, &length);
    return bytesOf(signature, length);
}

QByteArray sign(const QByteArray& message)
{
    return sign(&testKey, message);
}

bool verify(Rsa_key* key, const QByteArray& message, QByteArray signature)
{
    return verify_msg(key, reinterpret_cast<const unsigned char*>(message.constData()), message.size(),
                      reinterpret_cast<unsigned char*>(signature.data()), signature.size());
}

QByteArray exportKey(Rsa_key* key, int type)
{
    unsigned char block[keyBlockSize];
    unsigned long length = sizeof block;
    check_err("rsa_export", rsa_export(block, &length, type, key));
    return bytesOf(block, length);
}

QString runOpenssl(const QStringList& arguments)
{
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"), arguments);
    if (!openssl.waitForFinished(30000) || openssl.exitStatus() != QProcess::NormalExit)
        return QStringLiteral("openssl did not run: ") + openssl.errorString();
    if (openssl.exitCode() != 0)
        return QString::fromLocal8Bit(openssl.readAllStandardError());
    return QString();
}

const QStringList pssOptions = {"-sigopt", "rsa_padding_mode:pss", "-sigopt", "rsa_pss_saltlen:8", "-sigopt",
                                "rsa_mgf1_md:sha1"};

} // namespace

class CryptoTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void signAndVerify();
    void changedByteFailsWithoutException_data();
    void changedByteFailsWithoutException();
    void malformedSignatureThrows_data();
    void malformedSignatureThrows();
    void builtInPublicKey();
    void keyBlocksRoundTrip();
    void readFileSizes();
    void writeToUnwritablePathThrows();
    void opensslSignatureVerifiesHere();
    void signatureMadeHereVerifiesWithOpenssl();

    void checkTask_data();
    void checkTask();
    void cancelledCheckReportsNothing();
    void synchronousCheck();

private:
    QTemporaryDir dir;
};

void CryptoTest::initTestCase()
{
    QVERIFY(dir.isValid());
    crypt_init();
    create_key(&testKey, defaultKeyBits);
}

void CryptoTest::cleanupTestCase()
{
    rsa_free(&testKey);
}

void CryptoTest::signAndVerify()
{
    const QByteArray message = sampleContent(100);
    const QByteArray signature = sign(message);
    QCOMPARE(signature.size(), defaultKeyBits / 8);
    QVERIFY(verify(&testKey, message, signature));
    QVERIFY(verify(&testKey, QByteArray(), sign(QByteArray())));
}

void CryptoTest::changedByteFailsWithoutException_data()
{
    QTest::addColumn<bool>("inSignature");
    QTest::addColumn<int>("position");
    QTest::newRow("first byte of the file") << false << 0;
    QTest::newRow("last byte of the file") << false << -1;
    QTest::newRow("first byte of the signature") << true << 0;
    QTest::newRow("middle of the signature") << true << 64;
    QTest::newRow("last byte of the signature") << true << -1;
}

void CryptoTest::changedByteFailsWithoutException()
{
    QFETCH(bool, inSignature);
    QFETCH(int, position);
    QByteArray message = sampleContent(100);
    QByteArray signature = sign(message);
    QByteArray& changed = inSignature ? signature : message;
    const int at = position < 0 ? int(changed.size()) - 1 : position;
    changed[at] = char(changed[at] ^ 0x01);
    try {
        QVERIFY(!verify(&testKey, message, signature));
    } catch (const crypt_exception& e) {
        // A changed first byte of the signature may exceed the modulus: the library rejects
        // that as malformed, which callers treat as a failed check as well.
        QVERIFY2(inSignature && position == 0, e.what());
    }
}

void CryptoTest::malformedSignatureThrows_data()
{
    QTest::addColumn<int>("length");
    QTest::newRow("empty") << 0;
    QTest::newRow("one byte short") << defaultKeyBits / 8 - 1;
    QTest::newRow("one byte long") << defaultKeyBits / 8 + 1;
}

void CryptoTest::malformedSignatureThrows()
{
    QFETCH(int, length);
    const QByteArray message("message");
    QByteArray signature = sign(message).leftJustified(length, '\0', true);
    try {
        verify(&testKey, message, signature);
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QString::fromLatin1(e.what()),
                 QStringLiteral("rsa_verify_hash: ") + QString::fromLatin1(error_to_string(CRYPT_INVALID_PACKET)));
    }
}

void CryptoTest::builtInPublicKey()
{
    Rsa_key key;
    load_key(&key, PUBLIC_KEY, keyBlockSize);
    QCOMPARE(key.type, int(PK_PUBLIC));
    QCOMPARE(rsa_get_size(&key), defaultKeyBits / 8);
    const QByteArray exported = exportKey(&key, PK_PUBLIC);
    QCOMPARE(exported, bytesOf(PUBLIC_KEY, exported.size()));

    // The test and demo signing key kept with the project is its pair.
    Rsa_key privateKey;
    load_key(&privateKey, QFile::encodeName(QStringLiteral(VX5_TEST_PRIVATE_KEY)).constData());
    QCOMPARE(privateKey.type, int(PK_PRIVATE));
    const QByteArray message("product description");
    QVERIFY(verify(&key, message, sign(&privateKey, message)));
    rsa_free(&privateKey);
    rsa_free(&key);
}

void CryptoTest::keyBlocksRoundTrip()
{
    for (const int type : {int(PK_PRIVATE), int(PK_PUBLIC)}) {
        const QString path = dir.filePath(QStringLiteral("key%1").arg(type));
        save_key(&testKey, type, QFile::encodeName(path).constData());
        QCOMPARE(QFileInfo(path).size(), qint64(keyBlockSize));
        Rsa_key loaded;
        load_key(&loaded, QFile::encodeName(path).constData());
        QCOMPARE(loaded.type, type);
        QCOMPARE(exportKey(&loaded, type), exportKey(&testKey, type));
        rsa_free(&loaded);
    }
    // The form without a size makes a key of 1024 bits and answers the library's code.
    Rsa_key named;
    QCOMPARE(create_key(&named), CRYPT_OK);
    QCOMPARE(rsa_get_size(&named), namedKeyBits / 8);
    rsa_free(&named);
}

void CryptoTest::readFileSizes()
{
    for (const int size : {0, 2048, 4095, 4096, 4097, 100000}) {
        const QString path = dir.filePath(QStringLiteral("read%1").arg(size));
        QVERIFY(writeFile(path, QByteArray(size, 'r')));
        unsigned char* data = nullptr;
        unsigned long length = 99;
        read_file(QFile::encodeName(path).constData(), &data, &length);
        QCOMPARE(length, (unsigned long)size);
        QVERIFY(data);
        QCOMPARE(bytesOf(data, length), QByteArray(size, 'r'));
        std::free(data);
    }
    unsigned char* data = nullptr;
    unsigned long length = 0;
    QVERIFY_THROWS_EXCEPTION(crypt_exception, read_file("/nonexistent/file", &data, &length));
}

void CryptoTest::writeToUnwritablePathThrows()
{
    try {
        save_key(&testKey, PK_PUBLIC, "/nonexistent/dir/key");
        QFAIL("no exception");
    } catch (const crypt_exception& e) {
        QCOMPARE(QByteArray(e.what()), QByteArray("Cannot open file for writing: /nonexistent/dir/key"));
    }
}

void CryptoTest::opensslSignatureVerifiesHere()
{
    const QString privateDer = dir.filePath("private.der");
    QVERIFY(writeFile(privateDer, exportKey(&testKey, PK_PRIVATE)));
    const QString message = dir.filePath("signed-by-openssl.txt");
    QVERIFY(writeFile(message, sampleContent(300)));
    const QString signature = message + ".sig";
    QCOMPARE(runOpenssl(QStringList{"dgst", "-sha1", "-keyform", "DER", "-sign", privateDer} + pssOptions +
                        QStringList{"-out", signature, message}),
             QString());
    QVERIFY(verify(&testKey, readAll(message), readAll(signature)));
}

void CryptoTest::signatureMadeHereVerifiesWithOpenssl()
{
    const QString publicDer = dir.filePath("public.der");
    QVERIFY(writeFile(publicDer, exportKey(&testKey, PK_PUBLIC)));
    const QString publicPem = dir.filePath("public.pem");
    QCOMPARE(runOpenssl({"pkey", "-pubin", "-inform", "DER", "-in", publicDer, "-out", publicPem}), QString());
    const QString message = dir.filePath("signed-here.txt");
    QVERIFY(writeFile(message, sampleContent(300)));
    const QString signature = message + ".sig";
    QVERIFY(writeFile(signature, sign(readAll(message))));
    QCOMPARE(runOpenssl(QStringList{"dgst", "-sha1", "-verify", publicPem} + pssOptions +
                        QStringList{"-signature", signature, message}),
             QString());

    // And openssl does notice a changed file.
    QVERIFY(writeFile(message, sampleContent(301)));
    QVERIFY(!runOpenssl(QStringList{"dgst", "-sha1", "-verify", publicPem} + pssOptions +
                        QStringList{"-signature", signature, message})
                 .isEmpty());
}

// Each row: the file to check (written with sampleContent unless "empty" or "missing"),
// how its ".sig" is made for the RSA check, the MD5 given ("right", "RIGHT", "wrong",
// "empty-md5" or "" for RSA), fatal, and the outcome: pass, messages and end state.
void CryptoTest::checkTask_data()
{
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("signature");
    QTest::addColumn<QString>("md5");
    QTest::addColumn<bool>("fatal");
    QTest::addColumn<bool>("pass");
    QTest::addColumn<QStringList>("messages");
    QTest::addColumn<int>("end");

    const QStringList failed{"Signature check failed for %1"};
    QTest::newRow("md5 matches") << "content" << "" << "right" << false << true << QStringList() << int(Finished);
    QTest::newRow("md5 in upper case matches") << "content" << "" << "RIGHT" << true << true << QStringList()
                                                << int(Finished);
    QTest::newRow("md5 differs") << "content" << "" << "wrong" << false << false << failed << int(Finished);
    QTest::newRow("md5 differs, fatal") << "content" << "" << "wrong" << true << false << failed
                                        << int(ErrorCanceled);
    QTest::newRow("empty file, md5 of no bytes") << "empty" << "" << "empty-md5" << true << true << QStringList()
                                                 << int(Finished);
    QTest::newRow("file missing") << "missing" << "" << "right" << false << false
                                  << QStringList{"Could not open file %1 for reading", "Signature check failed for %1"}
                                  << int(Finished);
    QTest::newRow("file changing size while read") << "proc" << "" << "right" << true << false
                                                   << QStringList{"could not read file %1 correctly",
                                                                  "Signature check failed for %1"}
                                                   << int(ErrorCanceled);
    QTest::newRow("rsa valid") << "content" << "valid" << "" << true << true << QStringList() << int(Finished);
    QTest::newRow("rsa with another key") << "content" << "other key" << "" << false << false << failed
                                          << int(Finished);
    QTest::newRow("rsa signature of wrong length") << "content" << "short" << "" << false << false << failed
                                                   << int(Finished);
    QTest::newRow("rsa signature missing") << "content" << "missing" << "" << true << false
                                           << QStringList{"Could not open file %1.sig for reading",
                                                          "Signature check failed for %1"}
                                           << int(ErrorCanceled);
    QTest::newRow("rsa signature of a megabyte") << "content" << "megabyte" << "" << false << false
                                               << QStringList{"Signature file %1.sig is not a signature",
                                                              "Signature check failed for %1"}
                                               << int(Finished);
    QTest::newRow("a file without end") << "endless" << "" << "right" << false << false
                                        << QStringList{"Could not open file %1 for reading",
                                                       "Signature check failed for %1"}
                                        << int(Finished);
}

void CryptoTest::checkTask()
{
    QFETCH(QString, file);
    QFETCH(QString, signature);
    QFETCH(QString, md5);
    QFETCH(bool, fatal);
    QFETCH(bool, pass);
    QFETCH(QStringList, messages);
    QFETCH(int, end);

    QString path = dir.filePath(QStringLiteral("checked-") + QTest::currentDataTag());
    const QByteArray content = file == QLatin1String("empty") ? QByteArray() : sampleContent(500);
    if (file == QLatin1String("proc"))
        path = QStringLiteral("/proc/self/status"); // reports size 0, then has content
    else if (file == QLatin1String("endless"))
        QVERIFY(QFile::link(QStringLiteral("/dev/zero"), path));
    else if (file != QLatin1String("missing"))
        QVERIFY(writeFile(path, content));

    const QString digest = QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Md5).toHex());
    QString expectedMd5 = md5;
    if (md5 == QLatin1String("right") || md5 == QLatin1String("empty-md5"))
        expectedMd5 = digest;
    else if (md5 == QLatin1String("RIGHT"))
        expectedMd5 = digest.toUpper();
    else if (md5 == QLatin1String("wrong"))
        expectedMd5 = QString(32, QLatin1Char('0'));

    if (signature == QLatin1String("valid") || signature == QLatin1String("short")) {
        Rsa_key key;
        load_key(&key, QFile::encodeName(QStringLiteral(VX5_TEST_PRIVATE_KEY)).constData());
        const QByteArray bytes = sign(&key, content);
        rsa_free(&key);
        QVERIFY(writeFile(path + ".sig", signature == QLatin1String("short") ? bytes.chopped(1) : bytes));
    } else if (signature == QLatin1String("megabyte")) {
        QVERIFY(writeFile(path + ".sig", QByteArray(1 << 20, 's')));
    } else if (signature == QLatin1String("other key")) {
        QVERIFY(writeFile(path + ".sig", sign(content)));
    }

    CheckSignatureTaskSpecification task(path, expectedMd5, fatal, nullptr, 0.2);
    QStringList order;
    connect(&task, &TaskSpecification::message, this, [&order](const QString& text) { order << text; });
    connect(&task, &CheckSignatureTaskSpecification::checkDone, this,
            [&order, &task](bool passed, CheckSignatureTaskSpecification* emitter) {
                QCOMPARE(emitter, &task);
                QCOMPARE(task.getState(), Running); // before the task settles
                order << QStringLiteral("checkDone %1").arg(passed);
            });
    task.execute();
    QVERIFY(QTest::qWaitFor([&task] { return task.getState() != Running; }, 10000));

    QStringList expected;
    for (const QString& text : messages)
        expected << text.arg(path);
    expected << QStringLiteral("checkDone %1").arg(pass);
    QCOMPARE(order, expected);
    QCOMPARE(int(task.getState()), end);
}

void CryptoTest::cancelledCheckReportsNothing()
{
    const QString path = dir.filePath("cancelled");
    QVERIFY(writeFile(path, sampleContent()));
    CheckSignatureTaskSpecification task(path, QString(32, QLatin1Char('0')), false, nullptr, 0.2);
    QSignalSpy done(&task, &CheckSignatureTaskSpecification::checkDone);
    QSignalSpy log(&task, &TaskSpecification::message);
    task.execute();
    task.reset(); // the body's late result finds the task no longer running
    QTest::qWait(100);
    QVERIFY(done.isEmpty());
    QVERIFY(log.isEmpty());
    QCOMPARE(task.getState(), NotStarted);
}

void CryptoTest::synchronousCheck()
{
    const QString path = dir.filePath("sync");
    QVERIFY(writeFile(path, "abc"));
    QVERIFY(CheckSigFunc(path, QStringLiteral("900150983cd24fb0d6963f7d28e17f72")).run());
    QVERIFY(!CheckSigFunc(path, QStringLiteral("900150983cd24fb0d6963f7d28e17f73")).run());
}

QTEST_GUILESS_MAIN(CryptoTest)
#include "tst_crypto.moc"
