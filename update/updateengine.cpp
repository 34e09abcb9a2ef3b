#include "updateengine.h"

#include "bandwidthlimiter.h"
#include "banner.h"
#include "configuration.h"
#include "maintaskspecification.h"
#include "mirrors.h"
#include "tomcryptutil.h"
#include "updateinidata.h"
#include "weblink.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTemporaryFile>
#include <QTimer>
#include <QUrl>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace {

constexpr quint16 defaultProxyPort = 3128;
const QString mirrorsIni = QStringLiteral("mirrors.ini");

} // namespace

UpdateEngine::UpdateEngine(Configuration& configuration, QObject* parent)
    : QObject(parent), configuration(&configuration), progressTimer(new QTimer(this)),
      networkManager(new QNetworkAccessManager(this))
{
    connect(&configuration, &Configuration::message, this, &UpdateEngine::message);
    connect(progressTimer, &QTimer::timeout, this, &UpdateEngine::onTimer);
    configuration.getProxyAndDownloadConcurrency();
    applyProxy();
    BandwidthLimiter::global().setBytesPerSecond(qint64(configuration.maxKBps) * 1000);
}

std::optional<QNetworkProxy> UpdateEngine::proxyFromSetting(const QString& setting)
{
    if (setting.isEmpty())
        return QNetworkProxy(QNetworkProxy::NoProxy);
    // Users write "host:port" as often as a URL: without a scheme it is taken as HTTP.
    const QUrl url(setting.contains(QLatin1String("://")) ? setting : QLatin1String("http://") + setting);
    if (!url.isValid() || url.host().isEmpty())
        return std::nullopt;
    return QNetworkProxy(QNetworkProxy::HttpProxy, url.host(), quint16(url.port(defaultProxyPort)));
}

void UpdateEngine::applyProxy()
{
    const std::optional<QNetworkProxy> proxy = proxyFromSetting(configuration->proxy);
    if (proxy) {
        networkManager->setProxy(*proxy);
        return;
    }
    // Delivered once the window, which connects after construction, listens.
    const QString text = QStringLiteral("'%1' is an invalid proxy specification").arg(configuration->proxy);
    QTimer::singleShot(0, this, [this, text] { emit fatalError(text); });
}

bool UpdateEngine::initialize()
{
    try {
        crypt_init();
    } catch (const crypt_exception& e) {
        emit fatalError(QString::fromLocal8Bit(e.what()));
        return false;
    }
    const QDir appRoot(Configuration::getAppRootPath());
    if (!QFileInfo::exists(appRoot.filePath(mirrorsIni))) {
        emit fatalError(QStringLiteral("%1 is missing, cannot proceed.").arg(mirrorsIni));
        return false;
    }

    if (!installationWritable()) {
        emit fatalError(QStringLiteral("The installation in %1 cannot be changed by this user; run the update as "
                                       "a user who may write there.")
                            .arg(appRoot.path()));
        return false;
    }

    int recordedVersion = 0;
    QString directory = recordedSessionDirectory(&recordedVersion);
    if (!directory.isEmpty()) {
        if (recordedVersion == configuration->clientVersion) {
            emit message(QStringLiteral("Previous update session for v. %1 found").arg(recordedVersion));
        } else {
            emit message(QStringLiteral("Cleanup previous session (v. %1, %2) files...")
                             .arg(QString::number(recordedVersion), directory));
            emit message(removeSessionDirectory(directory) ? QStringLiteral("Ok")
                                                           : QStringLiteral("Failed to remove directory"));
            directory.clear();
            UpdateIniData::cleanup();
        }
    }
    const std::optional<InstalledRelease> installed = UpdateIniData::installed();
    if (installed && installed->isNewerThan(configuration->clientVersion, configuration->clientType,
                                            configuration->updateChannel))
        emit message(QStringLiteral("Installing version %1, older than the installed version %2, as asked")
                         .arg(configuration->clientVersion)
                         .arg(installed->version));
    const bool resumed = !directory.isEmpty();
    if (!configuration->initalizeStart(directory))
        return false;
    if (!UpdateIniData::modify(configuration->clientVersion, configuration->tempDir, configuration->clientType)) {
        // Without its record the session could never be found again: it goes now.
        if (!resumed)
            removeSessionDirectory(configuration->tempDir);
        emit fatalError(QStringLiteral("Could not record the update session in %1").arg(UpdateIniData::filename()));
        return false;
    }

    // A session after a reset starts with a registry of its own. The old one goes with the
    // old task tree, which is deleted later too and may still hold it until then.
    if (mirrors) {
        mirrors->setParent(nullptr);
        mirrors->deleteLater();
    }
    mirrors = new Mirrors(this);
    mirrors->seedRandom(quint32(QDateTime::currentSecsSinceEpoch()));
    connect(mirrors, &Mirrors::fatalError, this, &UpdateEngine::fatalError);
    connect(mirrors, &Mirrors::message, this, &UpdateEngine::message);
    const bool mirrorsLoaded = configuration->updateChannel == Alpha
                                   ? mirrors->initAlpha(appRoot.filePath(QStringLiteral("update.ini")),
                                                        configuration->clientVersion)
                                   : mirrors->initDefault(appRoot.filePath(mirrorsIni), configuration->clientVersion);
    if (!mirrorsLoaded)
        return false;
    engineState = Prepared;
    return true;
}

// Tried, not judged from permission bits: a read-only file system or an immutable folder
// refuses even the superuser. The probe is a file without a name where the file system
// has them, so that a kill at this moment leaves nothing behind.
bool UpdateEngine::installationWritable()
{
    const QString root = Configuration::getAppRootPath();
    bool mayCreate = false;
    const int fd = ::open(QFile::encodeName(root).constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd >= 0) {
        ::close(fd);
        mayCreate = true;
    } else if (errno == EOPNOTSUPP || errno == EISDIR) { // a file system without unnamed files
        QTemporaryFile probe(QDir(root).filePath(QStringLiteral(".update-write-test-XXXXXX")));
        mayCreate = probe.open();
    }
    if (!mayCreate)
        return false;
    QFile settings(UpdateIniData::filename());
    return !settings.exists() || settings.open(QIODevice::ReadWrite);
}

QString UpdateEngine::recordedSessionDirectory(int* version)
{
    QString directory;
    if (!UpdateIniData::get(version, nullptr, &directory))
        return QString();
    const QString problem = UpdateIniData::sessionDirectoryProblem(directory);
    if (problem.isEmpty())
        return directory;
    emit message(QStringLiteral("Ignoring the recorded update session in %1: %2").arg(directory, problem));
    UpdateIniData::cleanup();
    return QString();
}

bool UpdateEngine::removeSessionDirectory(const QString& dir)
{
    cleanupDirectory(dir);
    return QFileInfo(dir).dir().rmdir(QFileInfo(dir).fileName());
}

bool UpdateEngine::startUpdate()
{
    mainTask = new MainTaskSpecification(networkManager, mirrors, configuration, this, 1.0);
    connect(mainTask, &TaskSpecification::finished, this, &UpdateEngine::onTaskFinished);
    connect(mainTask, &TaskSpecification::canceled, this, &UpdateEngine::onTaskCanceled);
    connect(mainTask, &TaskSpecification::error, this, &UpdateEngine::error);
    connect(mainTask, &TaskSpecification::updateProgress, this, &UpdateEngine::updateProgress);
    connect(mainTask, &TaskSpecification::message, this, &UpdateEngine::message);
    engineState = Updating;
    progressTimer->start(statisticsIntervalMs);
    mainTask->execute();
    return true;
}

bool UpdateEngine::busy() const
{
    return engineState == Prepared || engineState == Updating;
}

void UpdateEngine::onTimer()
{
    if (engineState != Updating)
        return;
    quint64 done = 0;
    quint64 total = 0;
    quint64 speed = 0;
    bool downloading = false;
    mainTask->timeTick(done, total, speed, downloading);
    emit downloadProgress(done, total, speed, downloading);
}

void UpdateEngine::cancelUpdate()
{
    if (engineState == Updating)
        mainTask->userCanceled();
}

void UpdateEngine::onTaskFinished()
{
    progressTimer->stop();
    cleanup();
    engineState = Done;
    emit message(QStringLiteral("Update successfully finished"));
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateFinished();
}

void UpdateEngine::onTaskCanceled()
{
    progressTimer->stop();
    engineState = Aborted;
    if (mainTask->getState() == UserCanceled)
        emit message(QStringLiteral("User aborted update"));
    dropMainTask();
    emit downloadProgress(0, 0, 0, false);
    emit updateCanceled();
}

void UpdateEngine::dropMainTask()
{
    if (!mainTask)
        return;
    disconnect(mainTask, nullptr, this, nullptr);
    mainTask->deleteLater();
    mainTask = nullptr;
}

void UpdateEngine::reset()
{
    engineState = Idle;
    dropMainTask();
}

void UpdateEngine::cleanup()
{
    emit message(QStringLiteral("Remove temporary files..."));
    QString directory;
    if (UpdateIniData::get(nullptr, nullptr, &directory) && UpdateIniData::sessionDirectoryProblem(directory).isEmpty())
        removeSessionDirectory(directory); // what is left stays
    // The session record goes and the release is recorded in one write: a crash before it
    // resumes the session, which ends here again.
    const InstalledRelease release{configuration->clientVersion, configuration->clientType,
                                   InstalledRelease::channelName(configuration->updateChannel),
                                   configuration->releaseNamesSigned};
    if (!UpdateIniData::complete(release))
        emit message(QStringLiteral("Could not record the installed release in %1").arg(UpdateIniData::filename()));
    emit message(QStringLiteral("Temporary files removed."));
}

void UpdateEngine::cleanupDirectory(const QString& dir)
{
    QDir directory(dir);
    const QDir::Filters entries = QDir::Hidden | QDir::System | QDir::NoDotAndDotDot | QDir::NoSymLinks;
    for (const QString& file : directory.entryList(QDir::Files | entries))
        directory.remove(file);
    for (const QFileInfo& subdirectory : directory.entryInfoList(QDir::Dirs | entries)) {
        cleanupDirectory(subdirectory.absoluteFilePath());
        directory.rmdir(subdirectory.fileName());
    }
}

QStringList UpdateEngine::removeOldFiles(const QString& dir)
{
    QStringList restored;
    const QDir directory(dir);
    for (const QString& name : Configuration::getSpecialFileNames()) {
        const QString old = directory.absoluteFilePath(Configuration::getSpecialFileRenamePrefix() + name);
        if (!QFileInfo::exists(old))
            continue;
        const QString file = directory.absoluteFilePath(name);
        // Without the file, its set-aside copy is the only good one: it goes back.
        if (QFileInfo::exists(file))
            QFile::remove(old);
        else if (QFile::rename(old, file))
            restored << QStringLiteral("%1 was missing; restored it from %2").arg(file, old);
    }
    return restored;
}

QStringList UpdateEngine::removeLeftoversOfLastUpdate()
{
    const QString root = Configuration::getAppRootPath();
    QStringList restored;
    for (const QString& dir : {root, root + QLatin1String("/imageformats"), root + QLatin1String("/accessible")})
        restored += removeOldFiles(dir);
    return restored;
}

void UpdateEngine::getBanner()
{
    if (bannerReply)
        return;
    auto* banner = new Banner(this);
    connect(banner, &Banner::bannerFound, this, &UpdateEngine::onBannerFound);
    banner->run();
}

void UpdateEngine::onBannerFound(const QString& bannerUrl, const QString& clickUrl)
{
    const QUrl url(bannerUrl);
    if (!isWebLink(url) || bannerReply)
        return;
    bannerClickUrl = clickUrl;
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    bannerReply = networkManager->get(request);
    connect(bannerReply, &QNetworkReply::finished, this, &UpdateEngine::onBannerDownloadFinished);
    connect(bannerReply, &QNetworkReply::metaDataChanged, this, &UpdateEngine::onBannermetaDataChanged);
    connect(bannerReply, &QNetworkReply::downloadProgress, this, &UpdateEngine::onBannerDataArrived);
}

void UpdateEngine::onBannermetaDataChanged()
{
    const QVariant length = bannerReply->header(QNetworkRequest::ContentLengthHeader);
    if (length.isValid() && length.toLongLong() > maxBannerBytes)
        dropBannerDownload();
}

void UpdateEngine::onBannerDataArrived(qint64 bytesReceived)
{
    // Also without an announced length: no banner is larger than this.
    if (bytesReceived > maxBannerBytes)
        dropBannerDownload();
}

void UpdateEngine::onBannerDownloadFinished()
{
    const QByteArray bytes = bannerReply->readAll();
    bannerReply->deleteLater();
    bannerReply = nullptr;
    if (bytes.size() > maxBannerBytes)
        return;
    emit bannerFound(bytes, bannerClickUrl);
}

void UpdateEngine::dropBannerDownload()
{
    disconnect(bannerReply, nullptr, this, nullptr);
    bannerReply->deleteLater(); // deleting a reply aborts it

    bannerReply = nullptr;
}
