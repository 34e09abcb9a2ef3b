#include "configuration.h"

#include "updatechecker.h"
#include "updateinidata.h"
#include "userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSettings>

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int defaultStreams = 6;

QString& appRootPathOverride()
{
    static QString path;
    return path;
}

bool askRetryInMessageBox()
{
    const QString text = Configuration::tr("Failed to query latest client\nversion from update server.");
    // Without a screen no one can answer Retry: give up, as Abort would.
    if (UserPrompt::headless()) {
        std::fprintf(stderr, "update: %s\n", qPrintable(QString(text).replace(QLatin1Char('\n'), QLatin1Char(' '))));
        return false;
    }
    const auto answer = QMessageBox::critical(nullptr, Configuration::tr("Error"), text,
                                              QMessageBox::Retry | QMessageBox::Abort);
    return answer != QMessageBox::Abort;
}

// Makes a new directory from the pattern (its XXXXXX replaced by a random suffix), private
// to this user. The name cannot be foreseen, so no one can take it beforehand, and a name
// that exists, whoever made it, is never adopted. errno says why it failed.
bool createPrivateDirectory(QByteArray& pattern)
{
    if (!::mkdtemp(pattern.data()))
        return false;
    // The umask may have taken owner bits away; the directory is ours, so set them.
    return ::chmod(pattern.constData(), S_IRWXU) == 0;
}

// A version number is a positive decimal int; anything else, also a number that would
// not fit, is no version.
bool parseVersionNumber(const QString& text, int* version)
{
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    if (!ok || value <= 0)
        return false;
    *version = value;
    return true;
}

// The client type names the product description, locally and on the mirrors: a plain
// file name of letters, digits, "_", "-" and ".", not hidden, so it cannot lead outside.
bool isPlainClientType(const QString& type)
{
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-][A-Za-z0-9_.-]*$"));
    return plainName.match(type).hasMatch();
}

} // namespace

Configuration::Configuration() : retryPrompt(askRetryInMessageBox) {}

bool Configuration::parseCommandLineOptions()
{
    return parseCommandLineOptions(QCoreApplication::arguments());
}

bool Configuration::parseCommandLineOptions(const QStringList& args)
{
    getUpdateChannel();
    startMode = 0;
    if (!rejectedAlphaRevno.isEmpty()) {
        emit fatalError(tr("Invalid version nr (%1)").arg(rejectedAlphaRevno));
        return false;
    }

    const int n = args.size();

    if (n >= 2 && args.at(1) == QLatin1String("--nouser")) {
        if (n > 3 && !getClientTypeVersion(args, 2))
            return false;
        if (n > 4 && args.at(4) != QLatin1String("#"))
            versionName = args.at(4);
        if (n > 5)
            news = args.at(5);
        if (!getDefaultParameters())
            return false;
        startMode = 1;
        return true;
    }

    if (n == 3)
        return getClientTypeVersion(args, 1);

    return getDefaultParameters();
}

void Configuration::getUpdateChannel()
{
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("Channel"));
    rejectedAlphaRevno.clear();
    if (!settings.value(QStringLiteral("alpha")).toString().isEmpty()) {
        updateChannel = Alpha;
        clientVersion = 0;
        // Missing, empty or 0: no version given. Anything else must be a valid version.
        const QString revno = settings.value(QStringLiteral("alphaRevno")).toString().trimmed();
        if (!revno.isEmpty() && revno != QLatin1String("0") && !parseVersionNumber(revno, &clientVersion))
            rejectedAlphaRevno = revno;
    } else {
        updateChannel = settings.value(QStringLiteral("beta"), false).toBool() ? Beta : Stable;
        clientVersion = 0;
    }
}

bool Configuration::getClientTypeVersion(const QStringList& args, int index)
{
    if (index < 0 || index >= args.size()) {
        emit fatalError(QStringLiteral("No client type specified"));
        return false;
    }
    if (!isPlainClientType(args.at(index))) {
        emit fatalError(tr("Invalid client type (%1)").arg(args.at(index)));
        return false;
    }
    clientType = args.at(index);
    if (index + 1 >= args.size()) {
        emit fatalError(QStringLiteral("No client version specified"));
        return false;
    }
    return getClientVersionFromString(args.at(index + 1), tr("Invalid version nr (%1)"));
}

bool Configuration::getClientVersionFromString(const QString& text, const QString& errorFormat)
{
    // A version already known (the Alpha channel's alphaRevno) wins over the text.
    if (clientVersion != 0)
        return true;

    if (parseVersionNumber(text, &clientVersion))
        return true;
    emit fatalError(errorFormat.arg(text));
    return false;
}

QPair<QString, QString> Configuration::getLatestClientVersion(UpdateChannel channel, QString& news)
{
    return queryLatestClientVersion(channel, news).value_or(QPair<QString, QString>());
}

std::optional<QPair<QString, QString>> Configuration::queryLatestClientVersion(UpdateChannel channel, QString& news)
{
    UpdateChecker checker;
    while (!checker.checkUpdate()) {
        if (!retryPrompt())
            return std::nullopt;
    }
    news = checker.newsText;
    return checker.getClientVersionByChannel(channel);
}

bool Configuration::getDefaultParameters()
{
    if (clientType.isEmpty())
        clientType = getUpdateType();
    if (clientVersion != 0)
        return true;

    const auto answer = queryLatestClientVersion(updateChannel, news);
    if (!answer) // the user gave the query up
        return false;
    const QPair<QString, QString>& latest = *answer;
    if (latest.first.isEmpty()) {
        emit fatalError(tr("Update server returned no version nr for the update channel"));
        return false;
    }
    if (!getClientVersionFromString(latest.first, tr("Update server returned invalid version nr (%1)")))
        return false;
    versionName = latest.second;
    versionOffered = true;
    // A reply may be forged or stale: the server's offer never takes the installation back.
    const std::optional<InstalledRelease> installed = UpdateIniData::installed();
    if (installed && installed->isNewerThan(clientVersion, clientType, updateChannel)) {
        failureExitCode = olderVersionExitCode;
        emit fatalError(tr("The update server offers version %1, older than the installed version %2: nothing is "
                           "installed.")
                            .arg(clientVersion)
                            .arg(installed->version));
        return false;
    }
    return true;
}

void Configuration::getProxyAndDownloadConcurrency()
{
    QSettings settings(settingsFilePath(), QSettings::IniFormat);
    settings.beginGroup(QStringLiteral("update"));
    proxy = settings.value(QStringLiteral("proxy")).toString();
    downloadConcurrency = settings.value(QStringLiteral("streams"), defaultStreams).toInt();
    if (downloadConcurrency < 1)
        downloadConcurrency = defaultStreams;
    // Anything but a positive number (absent, 0, negative, text) is no cap.
    maxKBps = qMax(0, settings.value(QStringLiteral("maxKBps"), 0).toInt());
}

bool Configuration::createTempDir()
{
    QString base = QDir::tempPath();
    if (base.isEmpty()) {
        emit fatalError(QStringLiteral("Unable to get temp directory."));
        return false;
    }
    if (!base.endsWith(QLatin1Char('/')))
        base += QLatin1Char('/');
    QByteArray pattern = QFile::encodeName(base + QLatin1String("voxmere_temp_XXXXXX"));
    if (createPrivateDirectory(pattern)) {
        tempDir = QFile::decodeName(pattern);
        return true;
    }
    emit fatalError(QStringLiteral("Unable to create temp directory. (%1: %2)")
                        .arg(QDir::tempPath(), QString::fromLocal8Bit(std::strerror(errno))));
    return false;
}

bool Configuration::initalizeStart(const QString& previousTempDir)
{
    if (previousTempDir.isEmpty())
        return createTempDir();
    tempDir = previousTempDir;
    return true;
}

QString Configuration::getAppRootPath()
{
    const QString& override = appRootPathOverride();
    return override.isEmpty() ? QCoreApplication::applicationDirPath() : override;
}

QString Configuration::getUpdateType()
{
    return QStringLiteral("client_linux_amd64");
}

QString Configuration::getClientBinaryName()
{
    return QStringLiteral("vx5client_runscript.sh");
}

const QString& Configuration::getSpecialFileRenamePrefix()
{
    static const QString prefix = QStringLiteral("_old_");
    return prefix;
}

QStringList Configuration::getSpecialFileNames()
{
    return {QStringLiteral("update"),
            QStringLiteral("libQtCore.so.4"),
            QStringLiteral("libQtGui.so.4"),
            QStringLiteral("libQtNetwork.so.4"),
            QStringLiteral("libqgif.so"),
            QStringLiteral("libqjpeg.so"),
            QStringLiteral("libqtaccessiblewidgets.so")};
}

bool Configuration::isSpecialFileName(const QString& fileName)
{
    return getSpecialFileNames().contains(fileName, Qt::CaseSensitive);
}

QString Configuration::settingsFilePath()
{
    return getAppRootPath() + QLatin1String("/update.ini");
}

void Configuration::setRetryPrompt(RetryPrompt prompt)
{
    retryPrompt = std::move(prompt);
}

void Configuration::setAppRootPathForTests(const QString& path)
{
    appRootPathOverride() = path;
}
