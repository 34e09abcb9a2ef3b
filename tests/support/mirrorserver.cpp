#include "mirrorserver.h"

#include <QDir>
#include <QFile>
#include <QPointer>
#include <QUrl>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <memory>

namespace {

QByteArray statusLine(int status)
{
    return "HTTP/1.1 " + QByteArray::number(status) + " Test\r\n";
}

QByteArray headers(int status, qint64 contentLength, const QByteArray& extra = QByteArray())
{
    QByteArray text = statusLine(status) + extra;
    if (contentLength >= 0)
        text += "Content-Length: " + QByteArray::number(contentLength) + "\r\n";
    return text + "Connection: close\r\n\r\n";
}

void closeWhenWritten(QTcpSocket* socket)
{
    if (socket->bytesToWrite() == 0)
        socket->disconnectFromHost();
    else
        QObject::connect(socket, &QTcpSocket::bytesWritten, socket, [socket] {
            if (socket->bytesToWrite() == 0)
                socket->disconnectFromHost();
        });
}

} // namespace

MirrorServer::MirrorServer(QObject* parent) : QObject(parent), server(new QTcpServer(this))
{
    connect(server, &QTcpServer::newConnection, this, &MirrorServer::onNewConnection);
}

bool MirrorServer::listen()
{
    return server->listen(QHostAddress::LocalHost, 0);
}

QString MirrorServer::baseUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(server->serverPort());
}

int MirrorServer::totalRequests() const
{
    int total = 0;
    for (const int count : requests)
        total += count;
    return total;
}

int MirrorServer::openConnections() const
{
    return int(server->findChildren<QTcpSocket*>().size());
}

void MirrorServer::onNewConnection()
{
    while (QTcpSocket* socket = server->nextPendingConnection()) {
        connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        // Owned by the connection below: freed with it, whichever of socket and server
        // goes first.
        auto request = std::make_shared<QByteArray>();
        connect(socket, &QTcpSocket::readyRead, this, [this, socket, request] {
            request->append(socket->readAll());
            if (!request->contains("\r\n\r\n") || request->isEmpty())
                return;
            const QList<QByteArray> lines = request->left(request->indexOf("\r\n\r\n")).split('\n');
            request->clear();
            const QList<QByteArray> requestLine = lines.at(0).trimmed().split(' ');
            qint64 rangeStart = -1;
            for (const QByteArray& line : lines) {
                if (line.toLower().startsWith("range: bytes=") && line.trimmed().endsWith('-'))
                    rangeStart = line.trimmed().mid(13).chopped(1).toLongLong();
            }
            // Paths are kept and looked up decoded, as a web server maps them to files.
            answer(socket, requestLine.size() > 1 ? QUrl::fromPercentEncoding(requestLine.at(1)) : QString(),
                   rangeStart);
        });
    }
}

bool MirrorServer::content(const QString& path, QByteArray* body) const
{
    if (files.contains(path)) {
        *body = files.value(path);
        return true;
    }
    for (auto it = trees.cbegin(); it != trees.cend(); ++it) {
        if (!path.startsWith(it.key()))
            continue;
        QFile file(QDir(it.value()).filePath(path.mid(it.key().size())));
        if (file.open(QIODevice::ReadOnly)) {
            *body = file.readAll();
            return true;
        }
    }
    return false;
}

bool MirrorServer::ruleFor(const QString& path, Rule* rule) const
{
    if (rules.contains(path)) {
        *rule = rules.value(path);
        return true;
    }
    for (auto it = prefixRules.cbegin(); it != prefixRules.cend(); ++it) {
        if (path.startsWith(it.key())) {
            *rule = it.value();
            return true;
        }
    }
    return false;
}

void MirrorServer::send(QTcpSocket* socket, const QString& path, const QByteArray& head, const QByteArray& body)
{
    sent[path] += body.size();
    socket->write(head + body);
}

void MirrorServer::answer(QTcpSocket* socket, const QString& path, qint64 rangeStart)
{
    ++requests[path];
    QByteArray body;
    Rule rule;
    const bool hasRule = ruleFor(path, &rule);
    if (!content(path, &body) && !hasRule) {
        socket->write(headers(404, 0));
        closeWhenWritten(socket);
        return;
    }
    // A part from rangeStart on: 206 with its range, or 416 past the end.
    int status = 200;
    QByteArray range;
    const qint64 whole = body.size();
    if (rangeStart >= 0 && rangesEnabled && rule.behaviour != Behaviour::Status) {
        if (rule.behaviour == Behaviour::WrongRange)
            rangeStart = 0;
        if (rangeStart >= whole) {
            socket->write(headers(416, 0, "Content-Range: bytes */" + QByteArray::number(whole) + "\r\n"));
            closeWhenWritten(socket);
            return;
        }
        status = 206;
        range = "Content-Range: bytes " + QByteArray::number(rangeStart) + '-' + QByteArray::number(whole - 1) + '/' +
                QByteArray::number(whole) + "\r\n";
        body = body.mid(rangeStart);
    }
    switch (rule.behaviour) {
    case Behaviour::Serve:
    case Behaviour::WrongRange:
        send(socket, path, headers(status, body.size(), range), body);
        closeWhenWritten(socket);
        return;
    case Behaviour::Status: {
        QByteArray extra;
        if (rule.status / 100 == 3)
            extra = "Location: " + baseUrl().toUtf8() + "/elsewhere" + path.toUtf8() + "\r\n";
        else if (rule.status == 401)
            extra = "WWW-Authenticate: Basic realm=\"mirror\"\r\n";
        socket->write(headers(rule.status, 0, extra));
        closeWhenWritten(socket);
        return;
    }
    case Behaviour::StallAfter:
        send(socket, path, headers(status, body.size(), range), body.left(rule.bytes));
        return;
    case Behaviour::CloseAfter:
        send(socket, path, headers(status, body.size(), range), body.left(rule.bytes));
        socket->flush();
        socket->abort();
        return;
    case Behaviour::Corrupt:
        for (int i = body.size() / 3; i < body.size() && i < body.size() / 3 + 16; ++i)
            body[i] = char(body[i] ^ 0xff);
        send(socket, path, headers(status, body.size(), range), body);
        closeWhenWritten(socket);
        return;
    case Behaviour::Trickle:
        socket->write(headers(status, body.size(), range));
        trickle(socket, path, body, rule);
        return;
    case Behaviour::Oversize:
        send(socket, path, headers(200, -1), body + QByteArray(rule.bytes, 'x'));
        closeWhenWritten(socket);
        return;
    }
}

void MirrorServer::trickle(QTcpSocket* socket, const QString& path, QByteArray rest, const Rule& rule)
{
    if (rest.isEmpty()) {
        closeWhenWritten(socket);
        return;
    }
    send(socket, path, QByteArray(), rest.left(rule.bytes));
    rest.remove(0, rule.bytes);
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(rule.intervalMs, this, [this, guarded, path, rest, rule] {
        if (guarded)
            trickle(guarded, path, rest, rule);
    });
}
