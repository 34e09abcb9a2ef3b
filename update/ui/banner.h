#pragma once

#include "updateserver.h"

#include <QAbstractSocket>
#include <QBasicTimer>
#include <QHostAddress>
#include <QObject>

class QHostInfo;
class QUdpSocket;

// Asks the update server's banner service which banner to show: one 2-byte request,
// sent once more after 5 seconds without an answer, and given up silently 5 seconds
// later. Only a reply from the server's own address and port counts, and only the first.
class Banner : public QObject
{
    Q_OBJECT

public:
    static constexpr int retryIntervalMs = 5000;
    static constexpr int maxReplyBytes = 1024;

    explicit Banner(QObject* parent, const UpdateServer& server = UpdateServer::fromEnvironment());

    void run();

signals:
    void bannerFound(QString bannerUrl, QString clickUrl);

protected:
    void timerEvent(QTimerEvent* event) override;

private slots:
    void onResolved(const QHostInfo& info);
    void onReadyRead();
    void onError(QAbstractSocket::SocketError error);

private:
    void sendRequest();

    UpdateServer server;
    QUdpSocket* socket; // owned (child)
    QHostAddress serverAddress;
    QBasicTimer retryTimer;
    int attempts = 0;
    bool found = false;
};
