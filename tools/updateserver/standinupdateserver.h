#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QThread>

#include <atomic>

class QUdpSocket;

// What the stand-in update server answers.
struct StandInUpdateReplies
{
    QByteArray channels = "100#1.0.0,101#1.1.0-beta,102#1.2.0-alpha";
    QByteArray news;
    bool silentOnChannels = false; // never answer the channel list request
    bool silentOnNews = false;     // never answer the news request
    QByteArray banner;             // banner service reply "bannerUrl,clickUrl"; empty: never answer
    QByteArray forgedChannels;     // non-empty: sent first, from another port, as a channel list
};

// Requests seen, readable from any thread.
struct StandInUpdateCounters
{
    std::atomic<int> channelRequests{0};
    std::atomic<int> newsRequests{0};
    std::atomic<int> unknownRequests{0};
    std::atomic<int> bannerRequests{0};
};

// A stand-in for the update server's UDP services (version query and banner), on a
// loopback address.
class StandInUpdateServer : public QObject
{
    Q_OBJECT

public:
    StandInUpdateServer(const StandInUpdateReplies& replies, StandInUpdateCounters* counters,
                        QObject* parent = nullptr);

    // Binds both services; port 0 picks a free one.
    bool listen(const QHostAddress& address, quint16 versionPort, quint16 bannerPort = 0);
    quint16 versionPort() const;
    quint16 bannerPort() const;

private slots:
    void onVersionDatagrams();
    void onBannerDatagrams();

private:
    StandInUpdateReplies replies;
    StandInUpdateCounters* counters; // not owned
    QUdpSocket* versionSocket;       // owned (child)
    QUdpSocket* bannerSocket;        // owned (child)
    QUdpSocket* forgerSocket;        // owned (child)
};

// Runs a StandInUpdateServer on 127.0.0.1 in a thread of its own, so that a caller
// blocked in a synchronous query on its own thread still gets answers.
class BackgroundUpdateServer
{
public:
    explicit BackgroundUpdateServer(const StandInUpdateReplies& replies);
    // Stops the thread and waits for it.
    ~BackgroundUpdateServer();
    BackgroundUpdateServer(const BackgroundUpdateServer&) = delete;
    BackgroundUpdateServer& operator=(const BackgroundUpdateServer&) = delete;

    bool isListening() const { return port != 0; }
    quint16 versionPort() const { return port; }
    // "127.0.0.1:versionPort:bannerPort", the form the updater's server override takes.
    QByteArray address() const;
    const StandInUpdateCounters& counters() const { return requestCounters; }

private:
    StandInUpdateCounters requestCounters;
    QThread thread;
    quint16 port = 0;
    quint16 bannerPort = 0;
};
