// Stand-in for the voice-chat client: loads the plug-in as the client does and runs
// commands from a file or standard input, so scripts can be tried without the client.
#include "hostcommands.h"

#include <QCoreApplication>
#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc < 3 || argc > 4 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr,
                     "usage: vx5-client PLUGIN_LIBRARY PLUGIN_FOLDER/ [COMMAND_FILE]\n"
                     "Loads the plug-in, starts it with PLUGIN_FOLDER as the client's plug-in path and runs\n"
                     "commands from COMMAND_FILE or standard input (\"help\" lists them).\n");
        return 2;
    }
    QCoreApplication app(argc, argv);

    QByteArray folder(argv[2]);
    if (!folder.endsWith('/'))
        folder.append('/');

    PluginHost host(folder);
    if (!host.load(QString::fromLocal8Bit(argv[1]))) {
        std::fprintf(stderr, "vx5-client: %s\n", qPrintable(host.errorString()));
        return 1;
    }

    QFile input;
    const bool opened = argc == 4 ? (input.setFileName(QString::fromLocal8Bit(argv[3])), input.open(QIODevice::ReadOnly))
                                  : input.open(stdin, QIODevice::ReadOnly);
    if (!opened) {
        std::fprintf(stderr, "vx5-client: cannot read %s\n", argc == 4 ? argv[3] : "standard input");
        return 1;
    }

    HostCommands commands(host, [](const QString& line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    });
    std::printf("init -> %d\n", host.start());
    std::fflush(stdout);
    while (!input.atEnd()) {
        if (!commands.run(input.readLine()))
            break;
    }
    if (host.isRunning())
        host.shutdown();
    return commands.failures() == 0 ? 0 : 1;
}
