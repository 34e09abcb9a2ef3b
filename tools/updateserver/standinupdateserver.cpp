#include "standinupdateserver.h"

#include <QNetworkDatagram>
#include <QSemaphore>
#include <QUdpSocket>

StandInUpdateServer::StandInUpdateServer(const StandInUpdateReplies& replies, StandInUpdateCounters* counters,
                                         QObject* parent)
    : QObject(parent), replies(replies), counters(counters), versionSocket(new QUdpSocket(this)),
      bannerSocket(new QUdpSocket(this)), forgerSocket(new QUdpSocket(this))
{
    connect(versionSocket, &QUdpSocket::readyRead, this, &StandInUpdateServer::onVersionDatagrams);
    connect(bannerSocket, &QUdpSocket::readyRead, this, &StandInUpdateServer::onBannerDatagrams);
}

bool StandInUpdateServer::listen(const QHostAddress& address, quint16 versionPort, quint16 bannerPort)
{
    return versionSocket->bind(address, versionPort) && bannerSocket->bind(address, bannerPort) &&
           forgerSocket->bind(address, 0);
}

quint16 StandInUpdateServer::bannerPort() const
{
    return bannerSocket->localPort();
}

void StandInUpdateServer::onBannerDatagrams()
{
    while (bannerSocket->hasPendingDatagrams()) {
        const QNetworkDatagram request = bannerSocket->receiveDatagram();
        if (request.data() != QByteArray("\x01\x01", 2)) {
            ++counters->unknownRequests;
            continue;
        }
        ++counters->bannerRequests;
        if (!replies.banner.isEmpty())
            bannerSocket->writeDatagram(request.makeReply(replies.banner));
    }
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
            if (!replies.forgedChannels.isEmpty())
                forgerSocket->writeDatagram(replies.forgedChannels, request.senderAddress(), request.senderPort());
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
        if (server->listen(QHostAddress::LocalHost, 0)) {
            port = server->versionPort();
            bannerPort = server->bannerPort();
        }
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
    return "127.0.0.1:" + QByteArray::number(port) + ':' + QByteArray::number(bannerPort);
}
