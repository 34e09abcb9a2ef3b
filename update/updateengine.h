#pragma once

#include <QByteArray>
#include <QNetworkProxy>
#include <QObject>
#include <QString>
#include <QStringList>

#include <optional>

class Configuration;
class MainTaskSpecification;
class Mirrors;
class QNetworkAccessManager;
class QNetworkReply;
class QTimer;

// Runs one update session for the window: prepares it (resuming what an interrupted
// session of the same version downloaded), runs the root task, relays its reports and
// once a second its download statistics, and cleans up after success. Also fetches the
// banner image. A cancelled or failed session stays on disk for the next attempt.
class UpdateEngine : public QObject
{
    Q_OBJECT

public:
    enum EngineState { Idle = 0, Prepared = 1, Updating = 2, Done = 3, Aborted = 4 };

    static constexpr int statisticsIntervalMs = 1000;
    static constexpr qint64 maxBannerBytes = 270000;

    UpdateEngine(Configuration& configuration, QObject* parent);

    bool initialize();
    bool startUpdate();
    bool busy() const;
    void reset();
    void getBanner();
    void cleanup();
    void cleanupDirectory(const QString& dir);
    EngineState state() const { return engineState; }

    // Start-up repair of the set-aside copies of the files the running updater uses, in
    // one directory: a copy whose file exists is deleted; a copy whose file is missing (an
    // installation killed half-way) is renamed back to it. Returns a log line for each
    // copy put back.
    static QStringList removeOldFiles(const QString& dir);
    // The same at start-up for the three folders such files lie in: the installation
    // directory, its "imageformats" and its "accessible".
    static QStringList removeLeftoversOfLastUpdate();
    // The proxy a setting of update.ini names: a URL, or "host[:port]" for HTTP; without a
    // port, 3128. Nothing when the setting is no proxy specification.
    static std::optional<QNetworkProxy> proxyFromSetting(const QString& setting);

public slots:
    void cancelUpdate();

signals:
    void fatalError(QString errorMessage);
    void error(QString errorMessage);
    void updateProgress(qreal doneFrac);
    void downloadProgress(quint64 downloadDone, quint64 downloadTotal, quint64 speed, bool downloading);
    void message(QString message);
    void updateFinished();
    void updateCanceled();
    void bannerFound(QByteArray bannerImage, QString clickUrl);

private slots:
    void onTimer();
    void onTaskFinished();
    void onTaskCanceled();
    void onBannerFound(const QString& bannerUrl, const QString& clickUrl);
    void onBannerDownloadFinished();
    void onBannermetaDataChanged();
    void onBannerDataArrived(qint64 bytesReceived);

private:
    void applyProxy();
    // Whether this user may create files in the installation and change update.ini.
    static bool installationWritable();
    // The recorded session's directory if it may be resumed or removed; otherwise the
    // record is dropped (saying why) and the result is empty.
    QString recordedSessionDirectory(int* version);
    // Empties the session's directory and removes it; false when it could not go.
    bool removeSessionDirectory(const QString& dir);
    void dropMainTask();
    void dropBannerDownload();

    EngineState engineState = Idle;
    Configuration* configuration;         // not owned
    Mirrors* mirrors = nullptr;           // owned (child); one per session
    MainTaskSpecification* mainTask = nullptr; // owned (child) while set
    QTimer* progressTimer;                // owned (child)
    QNetworkAccessManager* networkManager; // owned (child)
    QString bannerClickUrl;
    QNetworkReply* bannerReply = nullptr; // owned while set (deleted later)
};
