#include "downloadtaskspecification.h"

#include "bandwidthlimiter.h"
#include "mirrors.h"
#include "sessionentry.h"

#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QHttp2Configuration>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QTimerEvent>

#include <unistd.h>

DownloadTaskSpecification::DownloadTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                                     const QString& remotePath, const QString& localPath,
                                                     qint64 expectedSize, QObject* parent,
                                                     qreal parentProgressRange)
    : TaskSpecification(parent, parentProgressRange), networkManager(networkManager), mirrors(mirrors),
      remotePath(remotePath), localPath(localPath), bytesTotal(expectedSize), expectedSize(expectedSize)
{
}

DownloadTaskSpecification::~DownloadTaskSpecification()
{
    BandwidthLimiter::global().forget(this); // a download gone mid-way holds up no one
}

void DownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Downloading %1").arg(remotePath));
    state = Running;
    startDownload();
}

QUrl DownloadTaskSpecification::fileUrl(const QString& mirrorUrl, const QString& remotePath)
{
    // File names may hold "#", "?", "%" and anything else: each segment goes encoded, so
    // the mirror is asked for exactly that name.
    QByteArray path;
    for (const QString& segment : remotePath.split(QLatin1Char('/')))
        path += '/' + QUrl::toPercentEncoding(segment);
    QUrl url(mirrorUrl);
    url.setPath(url.path(QUrl::FullyEncoded) + QString::fromLatin1(path), QUrl::TolerantMode);
    return url;
}

// The network's texts (a refused certificate, say) do not say whose fault it was.
QString DownloadTaskSpecification::replyError() const
{
    return QStringLiteral("%1 (mirror %2)").arg(reply->errorString(), mirror.name);
}

QString DownloadTaskSpecification::currentUrl() const
{
    return fileUrl(mirror.url, remotePath).toString(QUrl::FullyEncoded);
}

void DownloadTaskSpecification::startDownload()
{
    switch (mirrors->getRandomMirror(mirror)) {
    case Mirrors::NoMirror:
        // The registry has said once that no working mirror is left.
        errorCancel();
        return;
    case Mirrors::AllBusy:
        // Try again when a download gives its slot back. (Not when a reply of the manager
        // finishes: under a cap a reply finishes long before its download has read it and
        // gives the slot back, and the last waiters would never be woken.)
        connect(mirrors, &Mirrors::slotFreed, this, &DownloadTaskSpecification::onSlotFreed,
                Qt::ConnectionType(Qt::QueuedConnection | Qt::UniqueConnection));
        return;
    default:
        holdingSlot = true;
        break;
    }

    // What an earlier attempt (of this run or an earlier one) left is continued, not fetched again.
    resumeOffset = resumableBytes();
    // Unbuffered: every piece goes to the file as it arrives (they are large anyway, and
    // written with write(2), so that a disk that refuses one says why at that write). The
    // file is opened without following a link or waiting on a FIFO.
    const int fd = openSessionFile(localPath, resumeOffset > 0);
    const QIODevice::OpenMode mode = QIODevice::WriteOnly | QIODevice::Unbuffered;
    if (fd < 0 || !file.open(fd, resumeOffset > 0 ? mode | QIODevice::Append : mode, QFileDevice::AutoCloseHandle)) {
        if (fd >= 0)
            ::close(fd);
        emit error(QStringLiteral("Unable to create file %1 for saving").arg(localPath));
        releaseSlot();
        errorCancel();
        return;
    }
    sendRequest();
}

qint64 DownloadTaskSpecification::resumableBytes() const
{
    if (!resumeAllowed || expectedSize <= 0)
        return 0;
    const qint64 size = QFileInfo(localPath).size();
    return size > 0 && size < expectedSize ? size : 0;
}

void DownloadTaskSpecification::sendRequest()
{
    QNetworkRequest request{fileUrl(mirror.url, remotePath)};
    // A redirection disqualifies the mirror; it is never followed.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    if (resumeOffset > 0)
        request.setRawHeader("Range", "bytes=" + QByteArray::number(resumeOffset) + '-');
    QHttp2Configuration http2 = request.http2Configuration();
    http2.setStreamReceiveWindowSize(readBufferSize);
    http2.setSessionReceiveWindowSize(readBufferSize * 8);
    request.setHttp2Configuration(http2);
    reply = networkManager->get(request);
    if (!reply) {
        emit error(QStringLiteral("Download failed to initialize"));
        releaseSlot();
        errorCancel();
        return;
    }
    if (!reply->isRunning()) {
        errorRetry(replyError());
        return;
    }
    // Without a limit the network thread buffers what arrives faster than it is written,
    // and memory grows with the file. Under a cap a smaller buffer keeps the line's bursts
    // short: what the reply cannot take, the mirror is not sent.
    const qint64 cap = BandwidthLimiter::global().bytesPerSecond();
    reply->setReadBufferSize(cap > 0 ? qBound<qint64>(16 << 10, cap / 4, readBufferSize) : readBufferSize);
    connect(reply, &QNetworkReply::downloadProgress, this, &DownloadTaskSpecification::onDownloadProgress);
    connect(reply, &QNetworkReply::readyRead, this, &DownloadTaskSpecification::onReadyRead);
    connect(reply, &QNetworkReply::finished, this, &DownloadTaskSpecification::onDownloadFinished);
    connect(reply, &QNetworkReply::metaDataChanged, this, &DownloadTaskSpecification::onMetaDataChanged);
}

// The mirror did not continue where the file stopped: the same mirror sends it whole. This
// is no fault of the mirror (it may simply not serve parts of files).
void DownloadTaskSpecification::restartWhole()
{
    disconnect(reply, nullptr, this, nullptr);
    reply->deleteLater();
    reply = nullptr;
    startFromZero();
    sendRequest();
}

void DownloadTaskSpecification::startFromZero()
{
    file.resize(0);
    file.seek(0);
    resumeOffset = 0;
    bytesReceived = 0;
    bytesAtLastTick = 0;
    bytesAtWindowStart = 0;
    contentHash.reset();
}

// "bytes FIRST-LAST/TOTAL": whether it continues the file where it stopped, as long as it is.
bool DownloadTaskSpecification::continuesFile(const QByteArray& contentRange) const
{
    static const QRegularExpression form(QStringLiteral("^bytes (\\d+)-(\\d+)/(\\d+|\\*)$"));
    const QRegularExpressionMatch match = form.match(QString::fromLatin1(contentRange.trimmed()));
    return match.hasMatch() && match.captured(1).toLongLong() == resumeOffset &&
           match.captured(2).toLongLong() == expectedSize - 1 &&
           (match.captured(3) == QLatin1String("*") || match.captured(3).toLongLong() == expectedSize);
}

void DownloadTaskSpecification::onSlotFreed()
{
    stopWaiting();
    if (state == Running && !reply)
        startDownload();
}

void DownloadTaskSpecification::stopWaiting()
{
    disconnect(mirrors, &Mirrors::slotFreed, this, nullptr);
}

void DownloadTaskSpecification::onMetaDataChanged()
{
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (resumeOffset > 0) {
        // Asked for the rest of the file: only a part that continues it is appended. The
        // whole file (200) starts it anew; a refusal (416) or another part asks for it whole.
        if (status.toInt() == 206 && continuesFile(reply->rawHeader("Content-Range")))
            return;
        if (status.toInt() == 206 || status.toInt() == 416) {
            restartWhole();
            return;
        }
        if (status.toInt() == 200)
            startFromZero();
    }
    // Under a cap more streams would not be faster, and Qt's HTTP/2 keeps receiving what the
    // cap holds back into memory: each stream in flight could hold its whole file there.
    if (status.isValid())
        mirrors->setMultiplexed(mirror.name, reply->attribute(QNetworkRequest::Http2WasUsedAttribute).toBool() &&
                                                 BandwidthLimiter::global().bytesPerSecond() == 0);
    if (!status.isValid() || status.toInt() == 200) {
        // The announced length is the first total the reply reports; downloadProgress may
        // come much later, as Qt throttles it.
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && !exceedsLimit(length.toLongLong()))
            onDownloadProgress(0, length.toLongLong());
        return;
    }
    const QString text = QStringLiteral("%1 returned %2").arg(currentUrl(), QString::number(status.toInt()));
    if (!optional)
        mirrors->removeMirror(mirror.name);
    errorRetry(text);
}

void DownloadTaskSpecification::endUnavailable(const QString& why)
{
    emit message(QStringLiteral("%1; the update goes on without it").arg(why));
    resetDownload(); // the reply goes, and with it the connection's request
    QFile::remove(localPath);
    notFetched = true;
    finish();
}

void DownloadTaskSpecification::onDownloadProgress(qint64, qint64 total)
{
    if (total > 0 && bytesTotal == -1)
        bytesTotal = resumeOffset + total;
}

void DownloadTaskSpecification::onReadyRead()
{
    readData();
}

void DownloadTaskSpecification::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != throttle.timerId()) {
        TaskSpecification::timerEvent(event);
        return;
    }
    throttle.stop();
    if (!reply)
        return;
    // The reply may have ended while the cap held its last bytes back.
    if (reply->isFinished())
        onDownloadFinished();
    else
        readData();
}

bool DownloadTaskSpecification::readData()
{
    const qint64 before = bytesReceived;
    const bool complete = readAvailable();
    // Once per arrival, not per piece: every step of progress goes up the task tree.
    if (complete && bytesReceived != before && bytesTotal > 0)
        setProgress(qMin(1.0, qreal(resumeOffset + bytesReceived) / qreal(bytesTotal)));
    return complete;
}

bool DownloadTaskSpecification::readAvailable()
{
    char buffer[chunkSize];
    BandwidthLimiter& limiter = BandwidthLimiter::global();
    while (reply) {
        if (reply->bytesAvailable() <= 0)
            return true;
        idleTicks = 0;
        // Under a cap only what the cap grants is read; the rest waits in the reply.
        const qint64 granted = limiter.grant(this, sizeof buffer);
        if (granted == 0) {
            heldBack = true;
            if (!throttle.isActive())
                throttle.start(limiter.msUntilAvailable(this), this);
            return true;
        }
        const qint64 count = reply->read(buffer, granted);
        limiter.giveBack(granted - qMax<qint64>(count, 0));
        if (count < 0) {
            errorRetry(replyError());
            return false;
        }
        if (count == 0)
            return true;
        if (exceedsLimit(resumeOffset + bytesReceived + count))
            return false;
        QString refusal;
        if (!writeAllTo(file.handle(), buffer, count, &refusal))
            return localWriteFailed(refusal);
        contentHash.addData(QByteArrayView(buffer, count));
        bytesReceived += count;
        mirrors->addReceived(mirror.name, count);
    }
    return true;
}

qint64 DownloadTaskSpecification::receiveLimit() const
{
    if (expectedSize >= 0)
        return expectedSize;
    return sizeLimit > 0 ? sizeLimit : -1;
}

// A mirror sending more than the product description says (or than a file of unknown
// size may have) must not fill the disk: it counts as a failure of that mirror.
bool DownloadTaskSpecification::exceedsLimit(qint64 bytes)
{
    const qint64 limit = receiveLimit();
    if (limit < 0 || bytes <= limit)
        return false;
    const QString text = expectedSize >= 0 ? QStringLiteral("%1 sent more than the expected %2 bytes")
                                           : QStringLiteral("%1 sent more than the limit of %2 bytes");
    errorRetry(text.arg(currentUrl(), QString::number(limit)));
    return true;
}

void DownloadTaskSpecification::onDownloadFinished()
{
    if (!reply)
        return;
    switch (reply->error()) {
    case QNetworkReply::NoError:
        if (!readData())
            return; // a retry is already under way
        if (reply->bytesAvailable() > 0)
            return; // held back by the cap: the throttle's next read ends it
        // The file counts as downloaded only when it holds every byte that was hashed.
        if (file.size() != resumeOffset + bytesReceived) {
            localWriteFailed(QStringLiteral("it holds %1 of %2 bytes")
                                 .arg(QString::number(file.size()), QString::number(resumeOffset + bytesReceived)));
            return;
        }
        reply->close();
        reply->deleteLater();
        reply = nullptr;
        file.close();
        downloadFinished();
        return;
    case QNetworkReply::AuthenticationRequiredError: {
        const QString text = replyError();
        if (!optional)
            mirrors->removeMirror(mirror.name);
        reply->close();
        errorRetry(text);
        return;
    }
    default:
        if (refusedBeforeProcessing())
            retryRefused();
        else
            errorRetry(replyError());
        return;
    }
}

// The server stopped taking new streams on the connection (HTTP/2's GOAWAY, sent after a
// number of requests or on a graceful restart) before it processed this one.
bool DownloadTaskSpecification::refusedBeforeProcessing() const
{
    const QNetworkReply::NetworkError code = reply->error();
    return code == QNetworkReply::ContentReSendError ||
           (code == QNetworkReply::ProtocolUnknownError && mirrors->sharedBytes(mirror.name) >= 0);
}

// Nothing went wrong with the mirror: the request is made again at once (Qt sends it on a
// new connection once the old one closed), without counting an error; a download refused
// again and again charges its mirror after all.
void DownloadTaskSpecification::retryRefused()
{
    if (optional || ++refusals > maxRefusals) {
        errorRetry(replyError());
        return;
    }
    resetDownload();
    startDownload();
}

void DownloadTaskSpecification::downloadFinished()
{
    // A continued file was only partly hashed here: its check reads it.
    finishedMd5 = resumeOffset == 0 ? QString::fromLatin1(contentHash.result().toHex()) : QString();
    resumed = resumeOffset > 0;
    emit message(QStringLiteral("Downloading %1 finished").arg(remotePath));
    BandwidthLimiter::global().forget(this);
    releaseSlot();
    finish();
}

bool DownloadTaskSpecification::errorRetry(const QString& text)
{
    if (optional) {
        endUnavailable(text);
        return true;
    }
    mirrors->addMirrorError(mirror.name);
    resetDownload();
    emit message(text);
    startDownload();
    return true;
}

// The local disk refused what arrived (it is full, say): no fault of the mirror. The
// partial file goes and the file is fetched once more from its first byte; a second
// refusal fails the update, which leaves the installation as it was.
bool DownloadTaskSpecification::localWriteFailed(const QString& reason)
{
    const QString text = QStringLiteral("Could not write %1: %2").arg(localPath, reason);
    if (optional) {
        endUnavailable(text);
        return false;
    }
    resetDownload();
    QFile::remove(localPath);
    if (++localWriteFailures > maxLocalWriteRetries) {
        emit error(text);
        errorCancel();
        return false;
    }
    emit message(text + QStringLiteral("; fetching it again"));
    startDownload();
    return false;
}

void DownloadTaskSpecification::releaseSlot()
{
    if (holdingSlot)
        mirrors->releaseMirror(mirror.name);
    holdingSlot = false;
}

void DownloadTaskSpecification::resetDownload()
{
    throttle.stop();
    BandwidthLimiter::global().forget(this);
    releaseSlot();
    mirror.name.clear();
    stopWaiting();
    if (reply) {
        disconnect(reply, nullptr, this, nullptr);
        reply->deleteLater();
        reply = nullptr;
    }
    idleTicks = 0;
    // What arrived stays for the next attempt to continue (a file of unknown size cannot
    // be continued: it goes).
    if (file.isOpen()) {
        file.close();
        if (expectedSize <= 0)
            QFile::remove(localPath);
    }
    resumeOffset = 0;
    bytesTotal = expectedSize;
    bytesAtLastTick = 0;
    bytesReceived = 0;
    contentHash.reset();
    finishedMd5.clear();
    windowTicks = 0;
    bytesAtWindowStart = 0;
    sharedAtLastTick = -1;
    heldBack = false;
    setProgress(0);
}

void DownloadTaskSpecification::reset()
{
    resetDownload();
    // A reset fetches the file again from its first byte.
    QFile::remove(localPath);
    resumed = false;
    notFetched = false;
    refusals = 0;
    TaskSpecification::reset();
}

void DownloadTaskSpecification::timeTick(quint64& downloadDone, quint64& downloadTotal, quint64& speed,
                                         bool& downloading)
{
    // What an earlier attempt left counts once: the figures never jump back.
    downloadDone = quint64(resumeOffset + bytesReceived);
    downloadTotal = bytesTotal >= 0 ? quint64(bytesTotal) : 0;
    speed = quint64(bytesReceived - bytesAtLastTick);
    bytesAtLastTick = bytesReceived;
    downloading = false;
    if (state != Running || !reply)
        return;
    // Held back by the cap, it waits for its share: nothing is idle about that. Sharing an
    // HTTP/2 connection, it is answered in the server's order: data for any of its streams
    // shows the connection alive.
    const qint64 shared = mirrors->sharedBytes(mirror.name);
    if (throttle.isActive() || (shared >= 0 && shared != sharedAtLastTick))
        idleTicks = 0;
    sharedAtLastTick = shared;
    if (++idleTicks > mirror.timeout) {
        errorRetry(QStringLiteral("file %1 timed out on mirror %2").arg(remotePath, mirror.name));
        return;
    }
    if (!keepsMinimumSpeed())
        return;
    downloading = true;
}

bool DownloadTaskSpecification::keepsMinimumSpeed()
{
    // Data now and then keeps the idle count at zero: a mirror that trickles a byte a
    // second would hold the download for ever without a floor on the speed. A download
    // the cap held back in the window is not judged: its speed is the cap's share.
    // Downloads sharing a connection share its speed: the floor applies to the connection.
    const qint64 shared = mirrors->sharedBytes(mirror.name);
    if (windowTicks == 0)
        sharedAtWindowStart = shared;
    if (++windowTicks < speedWindowTicks)
        return true;
    const qint64 received = shared >= 0 && sharedAtWindowStart >= 0 ? shared - sharedAtWindowStart
                                                                     : bytesReceived - bytesAtWindowStart;
    if (!heldBack && received < minimumBytesPerSecond * speedWindowTicks) {
        errorRetry(QStringLiteral("file %1 too slow on mirror %2 (%3 bytes in %4 s)")
                       .arg(remotePath, mirror.name, QString::number(received), QString::number(windowTicks)));
        return false;
    }
    windowTicks = 0;
    bytesAtWindowStart = bytesReceived;
    heldBack = false;
    return true;
}

void DownloadTaskSpecification::userCanceled()
{
    TaskSpecification::userCanceled();
    if (state != Running)
        return;
    resetDownload();
    userCancel();
}

void DownloadTaskSpecification::handleOtherTaskCancelled(TaskSpecification*)
{
    if (reply) {
        emit message(QStringLiteral("Abort downloading %1").arg(remotePath));
        resetDownload();
    } else {
        stopWaiting();
    }
    errorCancel();
}
