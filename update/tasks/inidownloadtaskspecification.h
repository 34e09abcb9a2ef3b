#pragma once

#include "composedtaskspecification.h"

class CheckSignatureTaskSpecification;
class Configuration;
class DownloadTaskSpecification;
class Mirrors;
class QNetworkAccessManager;

// Gets the product ini and its signature into the temporary directory, both at once, and
// verifies the signature. Copies left by an interrupted run are used on the first try; a failed
// verification fetches both again, up to 1000 times. A signed product ini names its release
// in the lines before its first section ("version" and "type"; keys read without regard to
// case or the spaces around "="; older releases have none). One that names another version
// or client type than the one asked for, names either twice, or names neither once the
// installed release did (the publisher has moved on: an older ini replayed) is refused like
// a bad signature, and the mirror that served it goes.
class IniDownloadTaskSpecification : public ComposedTaskSpecification
{
    Q_OBJECT

public:
    static constexpr int maxAttempts = 1000;
    // The most a mirror may send: a product ini of a hundred thousand files is a few MiB;
    // a signature is as long as the key's modulus.
    static constexpr qint64 maxProductIniBytes = 32 << 20;

    IniDownloadTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                 Configuration* configuration, QObject* parent, qreal parentProgressRange);

public slots:
    void execute() override;
    void reset() override;

private slots:
    void onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check);

private:
    void makeSubtasksAndStart();
    QString localIniPath() const;
    // Why the verified product ini is not the release asked for, or "". Notes in the
    // configuration whether it names its release.
    QString releaseMismatch(const QString& path) const;
    void reportKeyMismatch();

    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    Configuration* configuration;          // not owned
    int attempts = 0; // failed verifications so far; 0 on the first try
    bool keyMismatchReported = false; // said once per update, however many tries follow
    DownloadTaskSpecification* iniDownload = nullptr; // this try's download of the ini, if any
};
