// The updater's entry point. It reads what to install (command line, update.ini and,
// when no version is given, the update server) and prints the plan.
#include "configuration.h"

#include <QApplication>

#include <cstdio>

namespace {

const char* channelName(UpdateChannel channel)
{
    switch (channel) {
    case Beta:
        return "Beta";
    case Alpha:
        return "Alpha";
    default:
        return "Stable";
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);

    Configuration config;
    QObject::connect(&config, &Configuration::fatalError,
                     [](const QString& text) { std::fprintf(stderr, "update: %s\n", qPrintable(text)); });
    if (!config.parseCommandLineOptions())
        return 1;
    config.getProxyAndDownloadConcurrency();

    std::printf("installation: %s\n", qPrintable(Configuration::getAppRootPath()));
    std::printf("channel: %s\n", channelName(config.updateChannel));
    std::printf("install: %s version %d%s\n", qPrintable(config.clientType), config.clientVersion,
                config.versionName.isEmpty() ? "" : qPrintable(QLatin1String(" (") + config.versionName + QLatin1Char(')')));
    std::printf("start mode: %s\n", config.startMode == 1 ? "automatic" : "user");
    std::printf("downloads at once: %d%s%s\n", config.downloadConcurrency, config.proxy.isEmpty() ? "" : ", proxy ",
                qPrintable(config.proxy));
    if (!config.news.isEmpty())
        std::printf("news: %s\n", qPrintable(config.news));
    return 0;
}
