#include "updatelog.h"

#include "sessionentry.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

#include <unistd.h>

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
    // The previous run's log is kept when it can be; when not, the new one starts all the same.
    const QString previous = log + QLatin1String(".1");
    QFile::remove(previous);
    QFile::rename(log, previous);
    // Never through a link, never waiting on a FIFO, a regular file only.
    const int fd = openSessionFile(log, false);
    if (fd < 0)
        return false;
    if (file.open(fd, QIODevice::WriteOnly | QIODevice::Text, QFileDevice::AutoCloseHandle))
        return true;
    ::close(fd);
    return false;
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
