#include "updatelog.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

QString UpdateLog::path()
{
    // The XDG rule: a relative XDG_STATE_HOME is to be ignored.
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!QDir::isAbsolutePath(state)) {
        const QString home = qEnvironmentVariable("HOME");
        if (!QDir::isAbsolutePath(home))
            return QString();
        state = home + QLatin1String("/.local/state");
    }
    return QDir::cleanPath(state + QLatin1String("/voxmere/update.log"));
}

bool UpdateLog::open()
{
    tried = true;
    const QString log = path();
    if (log.isEmpty() || !QDir().mkpath(QFileInfo(log).path()))
        return false;
    const QString previous = log + QLatin1String(".1");
    QFile::remove(previous);
    QFile::rename(log, previous);
    file.setFileName(log);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text);
}

void UpdateLog::append(const QString& line)
{
    if (!tried)
        open();
    if (!file.isOpen() || written >= maxBytes)
        return;
    QByteArray text = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss ")).toUtf8() +
                      line.toUtf8() + '\n';
    if (written + text.size() > maxBytes)
        text = "(the log ends here: it reached its limit of " + QByteArray::number(maxBytes) + " bytes)\n";
    written += file.write(text) >= 0 ? text.size() : maxBytes; // a failed write ends the log
    file.flush();
}
