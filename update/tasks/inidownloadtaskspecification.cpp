#include "inidownloadtaskspecification.h"

#include "checksignaturetaskspecification.h"
#include "configuration.h"
#include "downloadtaskspecification.h"
#include "sessionentry.h"
#include "tomcryptutil.h"
#include "updateinidata.h"

#include <QFile>
#include <QFileInfo>

#include <optional>

namespace {

constexpr qreal downloadShare = 0.3333;

// The product ini and its signature, fetched at the same time: the check needs both, and
// the second costs no round trip of its own.
class BothDownloadsTaskSpecification : public ComposedTaskSpecification
{
public:
    BothDownloadsTaskSpecification(QObject* parent, qreal parentProgressRange)
        : ComposedTaskSpecification(2, parentProgressRange, parent)
    {
    }

    void execute() override
    {
        state = Running;
        executeSubTasks();
    }
};

} // namespace

IniDownloadTaskSpecification::IniDownloadTaskSpecification(QNetworkAccessManager* networkManager, Mirrors* mirrors,
                                                           Configuration* configuration, QObject* parent,
                                                           qreal parentProgressRange)
    : ComposedTaskSpecification(1, parentProgressRange, parent), networkManager(networkManager), mirrors(mirrors),
      configuration(configuration)
{
}

void IniDownloadTaskSpecification::execute()
{
    emit message(QStringLiteral("Download / check product ini"));
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::makeSubtasksAndStart()
{
    const QString name = configuration->clientType + QLatin1String(".ini");
    const QString local = localIniPath();
    iniDownload = nullptr;
    QStringList missing;
    for (const QString& suffix : {QString(), QStringLiteral(".sig")}) {
        for (const QString& line : clearSessionPath(configuration->tempDir, name + suffix))
            emit message(line);
        // The first try uses what an interrupted run left; a retry fetches afresh.
        if (attempts > 0 || !QFileInfo::exists(local + suffix))
            missing << suffix;
    }
    const qreal checkShare = 1.0 - downloadShare * missing.size();
    if (!missing.isEmpty()) {
        auto* downloads = new BothDownloadsTaskSpecification(this, 1.0 - checkShare);
        for (const QString& suffix : std::as_const(missing)) {
            auto* download = new DownloadTaskSpecification(networkManager, mirrors, name + suffix, local + suffix,
                                                           -1, downloads, 1.0 / missing.size());
            if (suffix.isEmpty())
                iniDownload = download;
            download->setSizeLimit(suffix.isEmpty() ? maxProductIniBytes : CheckSigFunc::maxSignatureBytes);
            downloads->addSubTask(download);
        }
        addSubTask(downloads);
    }
    auto* check = new CheckSignatureTaskSpecification(local, QString(), false, this, checkShare);
    connect(check, &CheckSignatureTaskSpecification::checkDone, this, &IniDownloadTaskSpecification::onSigCheckDone);
    connect(check, &CheckSignatureTaskSpecification::keyMismatch, this, &IniDownloadTaskSpecification::reportKeyMismatch);
    addSubTask(check);
    state = Running;
    executeSubTasks();
}

QString IniDownloadTaskSpecification::localIniPath() const
{
    return configuration->tempDir + QLatin1Char('/') + configuration->clientType + QLatin1String(".ini");
}

namespace {

// The release a product ini names in its lines before the first section.
struct ReleaseNames
{
    std::optional<QString> version;
    std::optional<QString> type;
    QString twice; // a key named more than once
};

ReleaseNames readReleaseNames(QFile& ini)
{
    ReleaseNames names;
    for (bool first = true; !ini.atEnd(); first = false) {
        QByteArray line = ini.readLine();
        if (first && line.startsWith("\xEF\xBB\xBF"))
            line.remove(0, 3); // a byte-order mark
        const QString text = QString::fromUtf8(line).trimmed();
        if (text.startsWith(QLatin1Char('[')))
            break;
        const qsizetype equals = text.indexOf(QLatin1Char('='));
        if (equals < 0)
            continue;
        const QString key = text.left(equals).trimmed().toLower();
        std::optional<QString>* value = key == QLatin1String("version") ? &names.version
                                        : key == QLatin1String("type")  ? &names.type
                                                                        : nullptr;
        if (!value)
            continue;
        if (value->has_value())
            names.twice = key;
        *value = text.mid(equals + 1).trimmed();
    }
    return names;
}

} // namespace

QString IniDownloadTaskSpecification::releaseMismatch(const QString& path) const
{
    QFile ini(path);
    if (!ini.open(QIODevice::ReadOnly))
        return QStringLiteral("Cannot read %1").arg(path);
    const ReleaseNames names = readReleaseNames(ini);
    const QString wanted = QString::number(configuration->clientVersion);
    if (!names.twice.isEmpty())
        return QStringLiteral("Product ini names its %1 twice").arg(names.twice);
    const bool named = names.version && names.type;
    configuration->releaseNamesSigned = named;
    if (!named) {
        const std::optional<InstalledRelease> installed = UpdateIniData::installed();
        if (installed && installed->namesSigned)
            return QStringLiteral("Product ini does not name its release (signed version= and type= lines), as the "
                                  "installed release's did: an older one, refused");
    }
    const QString version = names.version.value_or(wanted);
    const QString type = names.type.value_or(configuration->clientType);
    if (version == wanted && type == configuration->clientType)
        return QString();
    return QStringLiteral("Product ini is for %1 %2, not for %3 %4").arg(type, version, configuration->clientType, wanted);
}

void IniDownloadTaskSpecification::reportKeyMismatch()
{
    if (keyMismatchReported)
        return;
    keyMismatchReported = true;
    QString fingerprint;
    Rsa_key key;
    try {
        load_key(&key, PUBLIC_KEY, keyBlockSize);
    } catch (const crypt_exception&) {
        return;
    }
    try {
        fingerprint = QString::fromStdString(key_fingerprint(&key));
    } catch (const crypt_exception&) {
    }
    rsa_free(&key);
    emit message(QStringLiteral("The signature of %1 does not match the key this updater was built with (key "
                                "fingerprint %2): the release was signed with another key, or changed after signing")
                     .arg(QFileInfo(localIniPath()).fileName(), fingerprint));
}

void IniDownloadTaskSpecification::onSigCheckDone(bool pass, CheckSignatureTaskSpecification* check)
{
    if (pass) {
        const QString local = localIniPath();
        const QString mismatch = releaseMismatch(local);
        if (mismatch.isEmpty())
            return;
        // A release other than the one asked for, signed all the same (an older one replayed,
        // say): nothing of it is used, and the mirror that served it goes.
        emit message(mismatch);
        if (iniDownload)
            mirrors->removeMirror(iniDownload->usedMirror().name);
        QFile::remove(local);
        QFile::remove(local + QLatin1String(".sig"));
    }
    if (endIfCancelRequested(check))
        return;
    if (++attempts > maxAttempts) {
        emit message(QStringLiteral("Could not verify the product ini file. Aborting"));
        endFromSubTaskReport(check, ErrorCanceled); // the check alone would finish
        return;
    }
    emit message(QStringLiteral("Could not verify the product ini file. Retrying"));
    const int failed = attempts;
    reset();
    attempts = failed;
    makeSubtasksAndStart();
}

void IniDownloadTaskSpecification::reset()
{
    clearSubTasks();
    attempts = 0;
    TaskSpecification::reset();
}
