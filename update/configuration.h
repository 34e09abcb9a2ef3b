#pragma once

#include "updatechannel.h"

#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// What this run of the updater installs and where: filled once from the command line,
// update.ini and, when no version is given, the update server's version query.
// Other parts read the fields directly.
class Configuration : public QObject
{
    Q_OBJECT

public:
    // Answers the question asked after a failed version query: true to retry, false to give up.
    using RetryPrompt = std::function<bool()>;

    Configuration();

    bool parseCommandLineOptions();
    // The same on given arguments (argument 0 is the program).
    bool parseCommandLineOptions(const QStringList& args);
    void getUpdateChannel();
    bool getClientTypeVersion(const QStringList& args, int index);
    bool getClientVersionFromString(const QString& text, const QString& errorFormat);
    QPair<QString, QString> getLatestClientVersion(UpdateChannel channel, QString& news);
    bool getDefaultParameters();
    void getProxyAndDownloadConcurrency();
    bool createTempDir();
    bool initalizeStart(const QString& previousTempDir);

    static QString getAppRootPath();
    static QString getUpdateType();
    static QString getClientBinaryName();
    static const QString& getSpecialFileRenamePrefix();
    static QStringList getSpecialFileNames();
    static bool isSpecialFileName(const QString& fileName);

    // The installation's settings file, update.ini.
    static QString settingsFilePath();

    // Replaces the Retry/Abort message box; tests answer without a window.
    void setRetryPrompt(RetryPrompt prompt);

    // Test seam: makes getAppRootPath() return another directory. Never called in production.
    static void setAppRootPathForTests(const QString& path);

    int startMode = 0;
    UpdateChannel updateChannel = Stable;
    QString clientType;
    int clientVersion = 0;
    QString versionName;
    QString news;
    QString tempDir;
    QString proxy;
    int downloadConcurrency = 0;
    int maxKBps = 0; // what all downloads may receive together, in KB/s; 0: no cap
    // The version was the update server's offer, not asked for by a person or the client.
    bool versionOffered = false;
    // The product ini named its release in signed lines (set once it passed its checks).
    bool releaseNamesSigned = false;
    // The exit code when the configuration fails: 1, or olderVersionExitCode.
    int failureExitCode = 1;
    // The update server offered a version older than the installed one.
    static constexpr int olderVersionExitCode = 4;

signals:
    void fatalError(QString errorMessage);
    void message(QString message);

private:
    // As getLatestClientVersion; nothing when the user gave the query up.
    std::optional<QPair<QString, QString>> queryLatestClientVersion(UpdateChannel channel, QString& news);

    RetryPrompt retryPrompt;
    QString rejectedAlphaRevno; // alphaRevno of update.ini when it is no valid version
};
