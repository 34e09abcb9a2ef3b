#include "standinupdateserver.h"

#include <QNetworkDatagram>
#include <QSemaphore>
#include <QUdpSocket>

StandInUpdateServer::StandInUpdateServer(const StandInUpdateReplies& replies, StandInUpdateCounters* counters,
                                         QObject* parent)
    : QObject(parent), replies(replies), counters(counters), versionSocket(new QUdpSocket(this))
{
    connect(versionSocket, &QUdpSocket::readyRead, this, &StandInUpdateServer::onVersionDatagrams);
}

bool StandInUpdateServer::listen(const QHostAddress& address, quint16 port)
{
    return versionSocket->bind(address, port);
}

quint16 StandInUpdateServer::versionPort() const
{
    return versionSocket->localPort();
}

void StandInUpdateServer::onVersionDatagrams()
{
    while (versionSocket->hasPendingDatagrams()) {
        const QNetworkDatagram request = versionSocket->receiveDatagram();
        const QByteArray data = request.data();
        const char command = data.isEmpty() ? '\0' : data.at(0);
        if (command == '3') {
            ++counters->channelRequests;
            if (!replies.silentOnChannels)
                versionSocket->writeDatagram(request.makeReply(replies.channels));
        } else if (command == '*') {
            ++counters->newsRequests;
            if (!replies.silentOnNews)
                versionSocket->writeDatagram(request.makeReply(replies.news));
        } else {
            ++counters->unknownRequests;
        }
    }
}

BackgroundUpdateServer::BackgroundUpdateServer(const StandInUpdateReplies& replies)
{
    QSemaphore bound;
    // The server is created inside the thread so that its socket belongs to that thread.
    QObject::connect(&thread, &QThread::started, [this, replies, &bound] {
        auto* server = new StandInUpdateServer(replies, &requestCounters);
        QObject::connect(&thread, &QThread::finished, server, &QObject::deleteLater);
        if (server->listen(QHostAddress::LocalHost, 0))
            port = server->versionPort();
        bound.release();
    });
    thread.start();
    bound.acquire();
}

BackgroundUpdateServer::~BackgroundUpdateServer()
{
    thread.quit();
    thread.wait();
}

QByteArray BackgroundUpdateServer::address() const
{
    return "127.0.0.1:" + QByteArray::number(port);
}
