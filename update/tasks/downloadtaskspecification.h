#pragma once

#include "mirrors.h"
#include "taskspecification.h"

#include <QBasicTimer>
#include <QCryptographicHash>
#include <QFile>
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// Fetches one file from a mirror into a local file. Every failure is charged to the
// mirror that caused it and retried on a freshly chosen one, until the registry has no
// mirror left (but for an optional file, below). The file is written in pieces as data arrives, and hashed (MD5) on the way,
// so that its check need not read it again. A file of known size that an earlier attempt
// left part of (in this run or an earlier one) is continued with a range request; a
// mirror that answers with the whole file, or with another part, starts it again. A
// mirror that sends more than the file's size (or, for a file of unknown size, more than
// its limit), that sends nothing for its timeout, or that trickles slower than the
// minimum speed over a window is abandoned. A download the bandwidth cap holds back is
// neither idle nor slow while it waits for its share.
class DownloadTaskSpecification : public TaskSpecification
{
    Q_OBJECT

public:
    // What one read moves from the reply to the file: memory stays bounded, and a file of
    // 64 KiB goes in one write.
    static constexpr qint64 chunkSize = 64 * 1024;
    static constexpr qint64 readBufferSize = 1 << 20;
    // Slower than this, averaged over a window of this many one-second ticks, is a stall.
    static constexpr qint64 minimumBytesPerSecond = 1024;
    static constexpr int speedWindowTicks = 30;
    // Attempts after the local disk refused a download's bytes, before the update fails.
    static constexpr int maxLocalWriteRetries = 1;
    // Streams refused before the server processed them, retried without counting an error.
    static constexpr int maxRefusals = 3;

    DownloadTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors, const QString& remotePath,
                              const QString& localPath, qint64 expectedSize, QObject* parent,
                              qreal parentProgressRange);
    ~DownloadTaskSpecification() override;

    // The mirror of the current attempt; after a successful download, the one used.
    const FTPSiteAccessData& usedMirror() const { return mirror; }
    // The MD5 of the file as downloaded, lower-case hex; empty until a download finished,
    // and for a continued file, which was not hashed whole.
    QString downloadedMd5() const { return finishedMd5; }
    // Whether the finished download continued what an earlier attempt had left.
    bool wasResumed() const { return resumed; }
    // Whether what an earlier attempt left may be continued (default: yes).
    void setResumeAllowed(bool allowed) { resumeAllowed = allowed; }
    // For a file of unknown size: the most a mirror may send (0: no limit).
    void setSizeLimit(qint64 bytes) { sizeLimit = bytes; }
    // For a file that only saves work (a patch, the patch index): it gets one attempt, and
    // whatever goes wrong with it (any status but 200, a network error, a stall, more than
    // its size or limit, a refusal of the local disk) charges no mirror: the task finishes
    // with unavailable() and no file.
    void setOptional(bool isOptional) { optional = isOptional; }
    bool unavailable() const { return notFetched; }
    // The URL of remotePath below a mirror's base URL, every path segment percent-encoded.
    static QUrl fileUrl(const QString& mirrorUrl, const QString& remotePath);

public slots:
    void execute() override;
    void reset() override;
    void timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed, bool& downloading) override;
    void userCanceled() override;
    void handleOtherTaskCancelled(TaskSpecification* other) override;
    virtual void downloadFinished();

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onReadyRead();
    void onDownloadFinished();
    void onMetaDataChanged();
    void onSlotFreed();

private:
    void startDownload();
    bool readData();
    bool readAvailable();
    qint64 resumableBytes() const;
    void sendRequest();
    void restartWhole();
    void startFromZero();
    bool continuesFile(const QByteArray& contentRange) const;
    bool errorRetry(const QString& text);
    bool refusedBeforeProcessing() const;
    void retryRefused();
    // An optional file that could not be fetched: the task finishes without it.
    void endUnavailable(const QString& why);
    bool localWriteFailed(const QString& reason);
    void resetDownload();
    // Stops waiting for a free mirror slot: nothing starts an attempt afterwards.
    void stopWaiting();
    // Gives the mirror slot back once, however many ways out release it.
    void releaseSlot();
    QString currentUrl() const;
    QString replyError() const;
    // The most this attempt may receive; negative when there is no limit.
    qint64 receiveLimit() const;
    bool exceedsLimit(qint64 bytes);
    // Counts one tick of the speed window; false (after a retry) when the mirror is too slow.
    bool keepsMinimumSpeed();

    QNetworkAccessManager* networkManager; // not owned
    Mirrors* mirrors;                      // not owned
    QNetworkReply* reply = nullptr;        // owned while set (deleted later)
    int idleTicks = 0;
    QString remotePath;
    QString localPath;
    QFile file; // opened on a descriptor, it forgets its name
    qint64 bytesAtLastTick = 0;
    qint64 bytesTotal;
    qint64 expectedSize;
    qint64 bytesReceived = 0;
    FTPSiteAccessData mirror;
    bool holdingSlot = false;
    qint64 sizeLimit = 0;
    QCryptographicHash contentHash{QCryptographicHash::Md5}; // of the bytes written this attempt
    QString finishedMd5;
    qint64 resumeOffset = 0; // bytes the file held when this attempt continued it
    bool resumeAllowed = true;
    bool resumed = false;
    bool optional = false;
    bool notFetched = false;
    int localWriteFailures = 0;
    int refusals = 0;
    QBasicTimer throttle; // the next read when the bandwidth cap held this one back
    int windowTicks = 0;
    bool heldBack = false; // by the cap, in the speed window
    qint64 bytesAtWindowStart = 0;
    // What the mirror's shared connection had delivered (-1: not shared), at the last tick
    // and at the start of the speed window.
    qint64 sharedAtLastTick = -1;
    qint64 sharedAtWindowStart = -1; // set on a window's first tick
};
