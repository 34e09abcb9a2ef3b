#pragma once

#include "asynctaskspecification.h"

#include <QCryptographicHash>
#include <QFile>

#include <functional>

class CheckSignatureTaskSpecification;

// Verifies one file: against an expected MD5 when one is given, otherwise against the
// RSA signature in the file's ".sig" companion with the built-in public key. Can also
// run synchronously: CheckSigFunc(path, md5).run().
class CheckSigFunc : public ASyncFunc
{
    Q_OBJECT

public:
    // Both checks read the file in pieces of this size, whatever the file's size.
    static constexpr qint64 chunkSize = 1 << 20;
    // A signature file larger than this is refused unread.
    static constexpr qint64 maxSignatureBytes = 4096;

    CheckSigFunc(const QString& filePath, const QString& md5);
    bool run() override;
    // The file's MD5 (lower-case hex), or an empty text when it cannot be read whole.
    QString fileMd5();

signals:
    // Before a failed signature check's result: there was a signature, but not one the
    // built-in key makes for this file (another key signed it, or the file changed after).
    void keyMismatch();

private:
    bool checkMD5();
    bool checkRSA();
    bool hashFile(QCryptographicHash::Algorithm algorithm, QByteArray* digest);
    bool readSignature(QByteArray* signature);
    // Opens the file, or says why it cannot.
    bool openForReading(QFile& file);

    QString filePath;
    QString md5;
};

class CheckSignatureTaskSpecification : public ASyncTaskSpecification
{
    Q_OBJECT

public:
    // fatal: whether a failed check ends the task ErrorCanceled; otherwise it finishes and
    // only checkDone carries the outcome.
    CheckSignatureTaskSpecification(const QString& filePath, const QString& md5, bool fatal, QObject* parent,
                                    double progressRange);

    // Where the file's MD5 is already known when the check starts (hashed as it was
    // written), source gives it (lower-case hex) and the check reads nothing: it compares
    // at once. An empty answer means unknown.
    void setKnownMd5(std::function<QString()> source) { knownMd5 = std::move(source); }

public slots:
    void execute() override;

signals:
    // As CheckSigFunc's, before checkDone.
    void keyMismatch();
    // Emitted before the task settles: a slot may reset and restart the task's parent.
    void checkDone(bool pass, CheckSignatureTaskSpecification* task);

protected:
    ASyncFunc* createFunction() override;
    void runDone(bool pass) override;

private:
    QString filePath;
    QString md5;
    bool fatal;
    std::function<QString()> knownMd5;
};
