#include "updateserver.h"

#include <QList>

namespace {

// A malformed or zero port keeps the default rather than sending to port 0.
quint16 portOr(const QByteArray& text, quint16 fallback)
{
    bool ok = false;
    const uint port = text.toUInt(&ok);
    return ok && port > 0 && port <= 65535 ? quint16(port) : fallback;
}

} // namespace

UpdateServer UpdateServer::fromEnvironment()
{
    UpdateServer server;
    const QByteArray value = qgetenv(overrideVariable).trimmed();
    if (value.isEmpty())
        return server;

    const QList<QByteArray> parts = value.split(':');
    if (!parts.at(0).isEmpty())
        server.host = parts.at(0);
    if (parts.size() > 1)
        server.versionPort = portOr(parts.at(1), defaultVersionPort);
    if (parts.size() > 2)
        server.bannerPort = portOr(parts.at(2), defaultBannerPort);
    return server;
}
