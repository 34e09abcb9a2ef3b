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
            const QList<QByteArray> requestLine = request->left(request->indexOf("\r\n")).split(' ');
            request->clear();
            // Paths are kept and looked up decoded, as a web server maps them to files.
            answer(socket, requestLine.size() > 1 ? QUrl::fromPercentEncoding(requestLine.at(1)) : QString());
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

void MirrorServer::answer(QTcpSocket* socket, const QString& path)
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
    switch (rule.behaviour) {
    case Behaviour::Serve:
        socket->write(headers(200, body.size()) + body);
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
        socket->write(headers(200, body.size()) + body.left(rule.bytes));
        return;
    case Behaviour::CloseAfter:
        socket->write(headers(200, body.size()) + body.left(rule.bytes));
        socket->flush();
        socket->abort();
        return;
    case Behaviour::Corrupt:
        for (int i = body.size() / 3; i < body.size() && i < body.size() / 3 + 16; ++i)
            body[i] = char(body[i] ^ 0xff);
        socket->write(headers(200, body.size()) + body);
        closeWhenWritten(socket);
        return;
    case Behaviour::Trickle:
        socket->write(headers(200, body.size()));
        trickle(socket, body, rule);
        return;
    case Behaviour::Oversize:
        socket->write(headers(200, -1) + body + QByteArray(rule.bytes, 'x'));
        closeWhenWritten(socket);
        return;
    }
}

void MirrorServer::trickle(QTcpSocket* socket, QByteArray rest, const Rule& rule)
{
    if (rest.isEmpty()) {
        closeWhenWritten(socket);
        return;
    }
    socket->write(rest.left(rule.bytes));
    rest.remove(0, rule.bytes);
    QPointer<QTcpSocket> guarded(socket);
    QTimer::singleShot(rule.intervalMs, this, [this, guarded, rest, rule] {
        if (guarded)
            trickle(guarded, rest, rule);
    });
}
