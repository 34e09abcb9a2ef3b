#include "banner.h"

#include <QHostInfo>
#include <QNetworkDatagram>
#include <QTimerEvent>
#include <QUdpSocket>

Banner::Banner(QObject* parent, const UpdateServer& server)
    : QObject(parent), server(server), socket(new QUdpSocket(this))
{
    socket->bind(QHostAddress::AnyIPv4, 0);
    connect(socket, &QUdpSocket::readyRead, this, &Banner::onReadyRead);
    connect(socket, &QUdpSocket::errorOccurred, this, &Banner::onError);
}

void Banner::run()
{
    // An address needs no lookup, and leaves no lookup running when the program ends at once
    // (a configuration that cannot be used), whose pending answer would never be freed.
    const QHostAddress address(QString::fromLatin1(server.host));
    if (address.isNull()) {
        QHostInfo::lookupHost(QString::fromLatin1(server.host), this, &Banner::onResolved);
        return;
    }
    QHostInfo info;
    info.setAddresses({address});
    onResolved(info);
}

void Banner::onResolved(const QHostInfo& info)
{
    if (info.error() != QHostInfo::NoError)
        return;
    const QList<QHostAddress> addresses = info.addresses();
    for (const QHostAddress& address : addresses) {
        if (address.protocol() == QAbstractSocket::IPv4Protocol) {
            serverAddress = address;
            sendRequest();
            return;
        }
    }
}

void Banner::sendRequest()
{
    static const QByteArray request("\x01\x01", 2);
    if (socket->writeDatagram(request, serverAddress, server.bannerPort) != request.size())
        retryTimer.stop();
    else
        retryTimer.start(retryIntervalMs, this);
}

void Banner::timerEvent(QTimerEvent* event)
{
    if (event->timerId() != retryTimer.timerId()) {
        QObject::timerEvent(event);
        return;
    }
    if (attempts++ == 0)
        sendRequest();
    else
        retryTimer.stop();
}

void Banner::onReadyRead()
{
    while (socket->hasPendingDatagrams()) {
        const QNetworkDatagram reply = socket->receiveDatagram(maxReplyBytes);
        // Anyone can send to our port; only the server's answer counts, and only once.
        if (found || !reply.isValid() || reply.senderPort() != server.bannerPort ||
            !reply.senderAddress().isEqual(serverAddress, QHostAddress::ConvertV4MappedToIPv4))
            continue;
        retryTimer.stop();
        const QStringList parts = QString::fromLatin1(reply.data()).split(QLatin1Char(','));
        if (parts.size() != 2)
            continue;
        found = true;
        emit bannerFound(parts.at(0), parts.at(1));
    }
}

void Banner::onError(QAbstractSocket::SocketError)
{
    retryTimer.stop();
}
