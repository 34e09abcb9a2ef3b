#pragma once

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A download mirror on 127.0.0.1 for tests: serves files by path (and parts of them, as
// "Range: bytes=N-" asks) and, per path, can misbehave the ways real mirrors do. Counts requests per path. Paths are the decoded
// request paths ("/a b", not "/a%20b").
class MirrorServer : public QObject
{
    Q_OBJECT

public:
    enum class Behaviour {
        Serve,      // 200 with Content-Length and the body
        Status,     // answer `status` (302 with a Location, 401 with a challenge, …), no body
        StallAfter, // send the headers and `bytes` of the body, then nothing
        CloseAfter, // send the headers and `bytes` of the body, then close
        Corrupt,    // serve the body with some bytes changed
        Trickle,    // send `bytes` every `intervalMs`
        Oversize,   // no Content-Length; the body and `bytes` more, then close
        WrongRange  // asked for a part, answer 206 with another part (from byte 0)
    };
    struct Rule
    {
        Behaviour behaviour = Behaviour::Serve;
        int status = 200;
        qint64 bytes = 0;
        int intervalMs = 0;
    };

    explicit MirrorServer(QObject* parent = nullptr);
    bool listen();
    QString baseUrl() const; // "http://127.0.0.1:PORT"

    void setFile(const QString& path, const QByteArray& content) { files.insert(path, content); }
    // Serves the files below dir at paths beginning with prefix (read when asked for).
    void serveTree(const QString& prefix, const QString& dir) { trees.insert(prefix, dir); }
    void setRule(const QString& path, const Rule& rule) { rules.insert(path, rule); }
    // A rule for every path that begins with prefix (a whole misbehaving mirror).
    void setPrefixRule(const QString& prefix, const Rule& rule) { prefixRules.insert(prefix, rule); }
    int requestCount(const QString& path) const { return requests.value(path); }
    int totalRequests() const;
    // Connections not closed yet: a client that died counts until its socket is gone.
    int openConnections() const;
    // Body bytes sent for a path, over all requests.
    qint64 bodyBytesSent(const QString& path) const { return sent.value(path); }
    // Whether "Range: bytes=N-" is answered with 206 and the rest (by default), or ignored.
    void setRangesEnabled(bool enabled) { rangesEnabled = enabled; }

private:
    void onNewConnection();
    // rangeStart: the first byte a "Range: bytes=N-" asked for, or -1.
    void answer(QTcpSocket* socket, const QString& path, qint64 rangeStart);
    void send(QTcpSocket* socket, const QString& path, const QByteArray& head, const QByteArray& body);
    void trickle(QTcpSocket* socket, const QString& path, QByteArray rest, const Rule& rule);
    bool ruleFor(const QString& path, Rule* rule) const;

    QTcpServer* server; // owned (child)
    // The content served at a path: set, or read from a served tree; false if none.
    bool content(const QString& path, QByteArray* body) const;

    QHash<QString, QByteArray> files;
    QHash<QString, QString> trees;
    QHash<QString, Rule> rules;
    QHash<QString, Rule> prefixRules;
    QHash<QString, int> requests;
    QHash<QString, qint64> sent;
    bool rangesEnabled = true;
};
