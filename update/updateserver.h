#pragma once

#include <QByteArray>
#include <QtGlobal>

// Where the update server's UDP services (version query, banner) are reached.
//
// Production always uses the built-in host and ports. For tests and the demo only,
// the environment variable VX5_UPDATE_SERVER may name another place in the form
// "host[:versionPort[:bannerPort]]" (for example "127.0.0.1:40000:40001").
struct UpdateServer
{
    static constexpr const char* defaultHost = "update.voxmere.com";
    static constexpr quint16 defaultVersionPort = 17384;
    static constexpr quint16 defaultBannerPort = 2009;
    static constexpr const char* overrideVariable = "VX5_UPDATE_SERVER";

    QByteArray host = defaultHost;
    quint16 versionPort = defaultVersionPort;
    quint16 bannerPort = defaultBannerPort;

    // The built-in server, or the one named by VX5_UPDATE_SERVER when that is set.
    static UpdateServer fromEnvironment();
};
