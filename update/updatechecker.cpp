#include "updatechecker.h"

#include <QDeadlineTimer>

#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

    bool sendRequest(char command, const sockaddr_in& to)
    {
        const char request[2] = {command, '\0'};
        return ::sendto(fd, request, sizeof request, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) > 0;
    }

    // The first datagram from the server within the time-out, at most maxBytes of it; its
    // text ends at the first zero byte. Anyone may send to our port: datagrams from any
    // other address or port are dropped, so a forged answer cannot choose the version.
    bool receiveText(const sockaddr_in& server, int timeoutSeconds, int maxBytes, QString* text)
    {
        const QDeadlineTimer deadline(qint64(timeoutSeconds) * 1000);
        QByteArray buffer(maxBytes, '\0');
        for (;;) {
            pollfd wait{fd, POLLIN, 0};
            const int ready = ::poll(&wait, 1, int(deadline.remainingTime()));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
            sockaddr_in sender{};
            socklen_t senderLength = sizeof sender;
            const ssize_t received = ::recvfrom(fd, buffer.data(), size_t(maxBytes), 0,
                                                reinterpret_cast<sockaddr*>(&sender), &senderLength);
            if (received < 0)
                return false;
            if (sender.sin_family != AF_INET || sender.sin_port != server.sin_port ||
                sender.sin_addr.s_addr != server.sin_addr.s_addr)
                continue;
            buffer.truncate(int(received));
            const int zero = buffer.indexOf('\0');
            if (zero >= 0)
                buffer.truncate(zero);
            *text = QString::fromUtf8(buffer);
            return true;
        }
    }

private:
    int fd;
};

// The first IPv4 address of the host, with the port filled in.
bool resolve(const UpdateServer& server, sockaddr_in* address)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    hints.ai_protocol = IPPROTO_UDP;
    addrinfo* results = nullptr;
    const QByteArray port = QByteArray::number(server.versionPort);
    if (::getaddrinfo(server.host.constData(), port.constData(), &hints, &results) != 0 || !results)
        return false;
    const bool found = results->ai_addrlen == sizeof *address;
    if (found)
        std::memcpy(address, results->ai_addr, sizeof *address);
    ::freeaddrinfo(results);
    return found;
}

} // namespace

UpdateChecker::UpdateChecker(const UpdateServer& server) : server(server) {}

bool UpdateChecker::checkUpdate()
{
    channelList.clear();

    UdpSocket socket;
    if (!socket.isValid())
        return false;

    sockaddr_in address{};
    if (!resolve(server, &address))
        return false;

    if (!socket.sendRequest('3', address))
        return false;
    QString channels;
    if (!socket.receiveText(address, receiveTimeoutSeconds, channelListMaxBytes, &channels))
        return false;
    channelList = parseChannelList(channels);

    if (!socket.sendRequest('*', address))
        return false;
    return socket.receiveText(address, receiveTimeoutSeconds, newsMaxBytes, &newsText);
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
