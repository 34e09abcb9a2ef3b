#include "singleinstancechecker.h"

#include <QCoreApplication>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

QString SingleInstanceChecker::getLocalServerName()
{
    QString key = QCoreApplication::applicationFilePath().toLower() + QDir::homePath();
    key.remove(QLatin1Char('/'));
    key.remove(QLatin1Char(':'));
    const quint16 crc = qChecksum(key.toUtf8(), Qt::ChecksumIso3309);
    return QStringLiteral("VX5ClientUpdate") + QString::number(crc, 16);
}

QString SingleInstanceChecker::getLocalServerPath()
{
    // The runtime directory belongs to the user alone (Qt makes sure of its mode), so no
    // other user can take the name first.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return QDir(runtime).filePath(getLocalServerName());
}

bool SingleInstanceChecker::checkExistingInstance(const QString& message)
{
    QLocalSocket socket;
    socket.connectToServer(getLocalServerPath(), QIODevice::ReadWrite);
    if (!socket.waitForConnected(waitMs))
        return false;
    if (socket.write(message.toLocal8Bit()) <= 0)
        return false;
    return socket.waitForBytesWritten(waitMs);
}

SingleInstanceChecker::SingleInstanceChecker(QObject* parent) : QObject(parent), server(new QLocalServer(this))
{
    connect(server, &QLocalServer::newConnection, this, &SingleInstanceChecker::onNewConnection);
    // No access options: with them the socket is made elsewhere and renamed into place,
    // which would silently take the name from a running updater. The runtime directory
    // keeps other users out.
    const QString path = getLocalServerPath();
    if (server->listen(path) || server->serverError() != QAbstractSocket::AddressInUseError)
        return;
    // Taken: by a running updater (it has started since the check at start-up), or by the
    // socket file of one that crashed.
    if (checkExistingInstance(QStringLiteral("#"))) {
        otherInstanceRuns = true;
        return;
    }
    QLocalServer::removeServer(path);
    server->listen(path);
}

bool SingleInstanceChecker::isListening() const
{
    return server->isListening();
}

void SingleInstanceChecker::onNewConnection()
{
    if (client) {
        disconnect(client, nullptr, this, nullptr);
        client->deleteLater();
    }
    client = server->nextPendingConnection();
    if (client)
        connect(client, &QLocalSocket::readyRead, this, &SingleInstanceChecker::onReadyRead);
}

void SingleInstanceChecker::onReadyRead()
{
    if (!client)
        return;
    QByteArray data = client->readAll();
    const int zero = int(data.indexOf('\0'));
    if (zero >= 0)
        data.truncate(zero);
    // Not inside its own signal: the socket goes when control is back in the event loop.
    disconnect(client, nullptr, this, nullptr);
    client->deleteLater();
    client = nullptr;
    emit otherInstanceActivate(QString::fromLocal8Bit(data));
}
