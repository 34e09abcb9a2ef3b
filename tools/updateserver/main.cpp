// Stand-in for the update server's UDP services, for trying the updater without the
// real servers. Listens on a loopback address and prints the port it got.
#include "standinupdateserver.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx5-update-server"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Answers the updater's version query on a loopback address."));
    parser.addHelpOption();
    const QCommandLineOption addressOption(QStringLiteral("address"), QStringLiteral("Loopback address to bind."),
                                           QStringLiteral("address"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption portOption(QStringLiteral("version-port"),
                                        QStringLiteral("UDP port of the version service (0 picks one)."),
                                        QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption bannerPortOption(QStringLiteral("banner-port"),
                                              QStringLiteral("UDP port of the banner service (0 picks one)."),
                                              QStringLiteral("port"), QStringLiteral("0"));
    const QCommandLineOption bannerOption(QStringLiteral("banner"),
                                          QStringLiteral("Banner reply: image URL, a comma, click URL."),
                                          QStringLiteral("text"));
    const QCommandLineOption channelsOption(QStringLiteral("channels"),
                                            QStringLiteral("Channel list reply, e.g. 100#1.0,101#1.1-beta."),
                                            QStringLiteral("text"));
    const QCommandLineOption newsOption(QStringLiteral("news"), QStringLiteral("News reply."), QStringLiteral("text"));
    const QCommandLineOption silentOption(QStringLiteral("silent-on"),
                                          QStringLiteral("Never answer this request: channels or news."),
                                          QStringLiteral("request"));
    parser.addOptions({addressOption, portOption, bannerPortOption, bannerOption, channelsOption, newsOption,
                       silentOption});
    parser.process(app);

    StandInUpdateReplies replies;
    if (parser.isSet(channelsOption))
        replies.channels = parser.value(channelsOption).toUtf8();
    if (parser.isSet(newsOption))
        replies.news = parser.value(newsOption).toUtf8();
    if (parser.isSet(bannerOption))
        replies.banner = parser.value(bannerOption).toUtf8();
    for (const QString& request : parser.values(silentOption)) {
        if (request == QLatin1String("channels")) {
            replies.silentOnChannels = true;
        } else if (request == QLatin1String("news")) {
            replies.silentOnNews = true;
        } else {
            std::fprintf(stderr, "vx5-update-server: --silent-on takes channels or news, not %s\n", qPrintable(request));
            return 2;
        }
    }

    bool portOk = false;
    bool bannerPortOk = false;
    const uint port = parser.value(portOption).toUInt(&portOk);
    const uint bannerPort = parser.value(bannerPortOption).toUInt(&bannerPortOk);
    const QHostAddress address(parser.value(addressOption));
    if (!portOk || port > 65535 || !bannerPortOk || bannerPort > 65535 || address.isNull()) {
        std::fprintf(stderr, "vx5-update-server: invalid address or port\n");
        return 2;
    }

    StandInUpdateCounters counters;
    StandInUpdateServer server(replies, &counters);
    if (!server.listen(address, quint16(port), quint16(bannerPort))) {
        std::fprintf(stderr, "vx5-update-server: cannot bind %s:%u and %u\n", qPrintable(address.toString()), port,
                     bannerPort);
        return 1;
    }
    std::printf("version service listening on %s:%u\n", qPrintable(address.toString()), unsigned(server.versionPort()));
    std::printf("banner service listening on %s:%u\n", qPrintable(address.toString()), unsigned(server.bannerPort()));
    std::fflush(stdout);
    return app.exec();
}
