#include "updatechecker.h"

#include <netdb.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

namespace {

// Closes the socket however the attempt ends.
class UdpSocket
{
public:
    UdpSocket() : fd(::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP)) {}
    ~UdpSocket()
    {
        if (fd >= 0)
            ::close(fd);
    }
    UdpSocket(const UdpSocket&) = delete;
    UdpSocket& operator=(const UdpSocket&) = delete;

    bool isValid() const { return fd >= 0; }

    bool setReceiveTimeout(int seconds)
    {
        timeval timeout{};
        timeout.tv_sec = seconds;
        return ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) == 0;
    }

    bool sendRequest(char command, const sockaddr* to, socklen_t toLength)
    {
        const char request[2] = {command, '\0'};
        return ::sendto(fd, request, sizeof request, 0, to, toLength) > 0;
    }

    // One datagram of at most maxBytes; its text ends at the first zero byte.
    bool receiveText(int maxBytes, QString* text)
    {
        QByteArray buffer(maxBytes, '\0');
        const ssize_t received = ::recv(fd, buffer.data(), size_t(maxBytes), 0);
        if (received < 0)
            return false;
        buffer.truncate(int(received));
        const int zero = buffer.indexOf('\0');
        if (zero >= 0)
            buffer.truncate(zero);
        *text = QString::fromUtf8(buffer);
        return true;
    }

private:
    int fd;
};

// The first IPv4 address of the host, with the port filled in.
bool resolve(const UpdateServer& server, sockaddr_storage* address, socklen_t* length)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* results = nullptr;
    const QByteArray port = QByteArray::number(server.versionPort);
    if (::getaddrinfo(server.host.constData(), port.constData(), &hints, &results) != 0 || !results)
        return false;
    std::memcpy(address, results->ai_addr, results->ai_addrlen);
    *length = results->ai_addrlen;
    ::freeaddrinfo(results);
    return true;
}

} // namespace

UpdateChecker::UpdateChecker(const UpdateServer& server) : server(server) {}

bool UpdateChecker::checkUpdate()
{
    channelList.clear();

    UdpSocket socket;
    if (!socket.isValid())
        return false;

    sockaddr_storage address{};
    socklen_t addressLength = 0;
    if (!resolve(server, &address, &addressLength))
        return false;
    const auto* to = reinterpret_cast<const sockaddr*>(&address);

    if (!socket.sendRequest('3', to, addressLength))
        return false;
    QString channels;
    if (!socket.setReceiveTimeout(receiveTimeoutSeconds) || !socket.receiveText(channelListMaxBytes, &channels))
        return false;
    channelList = parseChannelList(channels);

    if (!socket.sendRequest('*', to, addressLength))
        return false;
    return socket.receiveText(newsMaxBytes, &newsText);
}

QPair<QString, QString> UpdateChecker::getClientVersionByChannel(UpdateChannel channel) const
{
    return channelList.value(int(channel));
}

QList<QPair<QString, QString>> UpdateChecker::parseChannelList(const QString& text)
{
    QList<QPair<QString, QString>> entries;
    const QStringList parts = text.split(QLatin1Char(','));
    for (const QString& entry : parts) {
        const int hash = entry.indexOf(QLatin1Char('#'));
        if (hash < 0)
            entries.append({entry, QString()});
        else
            entries.append({entry.left(hash), entry.mid(hash + 1)});
    }
    return entries;
}
