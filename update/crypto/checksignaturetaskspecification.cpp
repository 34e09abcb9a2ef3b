#include "checksignaturetaskspecification.h"

#include "tomcryptutil.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

CheckSigFunc::CheckSigFunc(const QString& filePath, const QString& md5) : filePath(filePath), md5(md5) {}

bool CheckSigFunc::run()
{
    return md5.isEmpty() ? checkRSA() : checkMD5();
}

bool CheckSigFunc::openForReading(QFile& file)
{
    // Only regular files: a device never ends, and a pipe may never open.
    if (QFileInfo(file.fileName()).isFile() && file.open(QIODevice::ReadOnly))
        return true;
    emit message(QStringLiteral("Could not open file %1 for reading").arg(file.fileName()));
    return false;
}

bool CheckSigFunc::hashFile(QCryptographicHash::Algorithm algorithm, QByteArray* digest)
{
    // Hashed piece by piece, so a file larger than the memory at hand checks too.
    QFile file(filePath);
    if (!openForReading(file))
        return false;
    const qint64 size = file.size();
    QCryptographicHash hash(algorithm);
    QByteArray chunk(chunkSize, Qt::Uninitialized);
    qint64 total = 0;
    for (;;) {
        const qint64 count = file.read(chunk.data(), chunk.size());
        total += qMax<qint64>(count, 0);
        // A file that grows while it is read is not the file that was measured.
        if (count < 0 || total > size || (count == 0 && total != size)) {
            emit message(QStringLiteral("could not read file %1 correctly").arg(filePath));
            return false;
        }
        if (count == 0)
            break;
        hash.addData(QByteArrayView(chunk.constData(), count));
    }
    *digest = hash.result();
    return true;
}

QString CheckSigFunc::fileMd5()
{
    QByteArray digest;
    return hashFile(QCryptographicHash::Md5, &digest) ? QString::fromLatin1(digest.toHex()) : QString();
}

bool CheckSigFunc::checkMD5()
{
    const QString digest = fileMd5();
    return !digest.isEmpty() && digest.compare(md5, Qt::CaseInsensitive) == 0;
}

bool CheckSigFunc::readSignature(QByteArray* signature)
{
    QFile file(filePath + QLatin1String(".sig"));
    if (!openForReading(file))
        return false;
    // A signature is as long as the key's modulus; anything much larger is not one.
    *signature = file.read(maxSignatureBytes + 1);
    if (signature->size() <= maxSignatureBytes && !file.error())
        return true;
    emit message(QStringLiteral("Signature file %1 is not a signature").arg(file.fileName()));
    return false;
}

bool CheckSigFunc::checkRSA()
{
    QByteArray signature;
    QByteArray digest;
    if (!readSignature(&signature) || !hashFile(QCryptographicHash::Sha1, &digest))
        return false;

    Rsa_key key;
    try {
        load_key(&key, PUBLIC_KEY, keyBlockSize);
    } catch (const crypt_exception&) {
        return false;
    }
    bool valid = false;
    try {
        valid = verify_hash(&key, reinterpret_cast<const unsigned char*>(digest.constData()),
                            reinterpret_cast<unsigned char*>(signature.data()),
                            static_cast<unsigned long>(signature.size()));
    } catch (const crypt_exception&) {
        // A malformed signature (another length than the key's) counts as a failed check;
        // its text is not shown.
        valid = false;
    }
    if (!valid && !signature.isEmpty())
        emit keyMismatch();
    rsa_free(&key);
    return valid;
}

CheckSignatureTaskSpecification::CheckSignatureTaskSpecification(const QString& filePath, const QString& md5,
                                                                 bool fatal, QObject* parent, double progressRange)
    : ASyncTaskSpecification(parent, progressRange), filePath(filePath), md5(md5), fatal(fatal)
{
}

void CheckSignatureTaskSpecification::execute()
{
    const QString known = knownMd5 && !md5.isEmpty() ? knownMd5() : QString();
    if (known.isEmpty()) {
        ASyncTaskSpecification::execute();
        return;
    }
    state = Running;
    runDone(known.compare(md5, Qt::CaseInsensitive) == 0);
}

ASyncFunc* CheckSignatureTaskSpecification::createFunction()
{
    auto* function = new CheckSigFunc(filePath, md5);
    // Queued, as the result is: it arrives first.
    connect(function, &CheckSigFunc::keyMismatch, this, &CheckSignatureTaskSpecification::keyMismatch);
    return function;
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
