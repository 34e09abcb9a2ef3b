#include "checksignaturetaskspecification.h"

#include "tomcryptutil.h"

#include <QCryptographicHash>
#include <QFile>

CheckSigFunc::CheckSigFunc(const QString& filePath, const QString& md5) : filePath(filePath), md5(md5) {}

bool CheckSigFunc::run()
{
    return md5.isEmpty() ? checkRSA() : checkMD5();
}

bool CheckSigFunc::openForReading(QFile& file)
{
    if (file.open(QIODevice::ReadOnly))
        return true;
    emit message(QStringLiteral("Could not open file %1 for reading").arg(file.fileName()));
    return false;
}

bool CheckSigFunc::readFile(const QString& path, QByteArray& bytes)
{
    QFile file(path);
    if (!openForReading(file))
        return false;
    const qint64 size = file.size();
    bytes.resize(size);
    if (file.read(bytes.data(), size) == size)
        return true;
    emit message(QStringLiteral("could not read file %1 correctly").arg(path));
    return false;
}

bool CheckSigFunc::checkMD5()
{
    // Hashed piece by piece, so a package file larger than the memory at hand checks too.
    QFile file(filePath);
    if (!openForReading(file))
        return false;
    const qint64 size = file.size();
    QCryptographicHash hash(QCryptographicHash::Md5);
    QByteArray chunk(md5ChunkSize, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 count = file.read(chunk.data(), chunk.size());
        if (count <= 0) {
            if (count < 0 || total != size) {
                emit message(QStringLiteral("could not read file %1 correctly").arg(filePath));
                return false;
            }
            break;
        }
        hash.addData(QByteArrayView(chunk.constData(), count));
        total += count;
    }
    return QString::fromLatin1(hash.result().toHex()).compare(md5, Qt::CaseInsensitive) == 0;
}

bool CheckSigFunc::checkRSA()
{
    QByteArray content;
    QByteArray signature;
    if (!readFile(filePath, content) || !readFile(filePath + QLatin1String(".sig"), signature))
        return false;

    Rsa_key key;
    try {
        load_key(&key, PUBLIC_KEY, keyBlockSize);
    } catch (const crypt_exception&) {
        return false;
    }
    bool valid = false;
    try {
        valid = verify_msg(&key, reinterpret_cast<const unsigned char*>(content.constData()),
                           static_cast<unsigned long>(content.size()),
                           reinterpret_cast<unsigned char*>(signature.data()),
                           static_cast<unsigned long>(signature.size()));
    } catch (const crypt_exception&) {
        // A malformed signature counts as a failed check; its text is not shown.
        valid = false;
    }
    rsa_free(&key);
    return valid;
}

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString& filePath, const QString& md5,
                                                                 bool fatal, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange), filePath(filePath), md5(md5), fatal(fatal)
{
}

ASyncFunc* CheckSignatureTaskSpecification::createFunction()
{
    return new CheckSigFunc(filePath, md5);
}

void CheckSignatureTaskSpecification::runDone(bool pass)
{
    if (state != Running)
        return;
    if (!pass)
        emit message(QStringLiteral("Signature check failed for %1").arg(filePath));
    emit checkDone(pass, this);
    // A slot of checkDone may have reset this task to retry; then there is nothing to settle.
    if (state != Running)
        return;
    if (pass || !fatal)
        finish();
    else
        errorCancel();
}
