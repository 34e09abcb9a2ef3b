// Stand-in for the voice-chat client: loads the plug-in as the client does and runs
// commands from a file or standard input, so scripts can be tried without the client.
#include "hostcommands.h"
#include "luareference.h"

#include <QApplication>
#include <QFile>

#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    if (argc == 2 && (std::strcmp(argv[1], "--reference") == 0 || std::strcmp(argv[1], "--definitions") == 0)) {
        const QString text = std::strcmp(argv[1], "--reference") == 0 ? luaReference() : luaDefinitions();
        std::fputs(text.toUtf8().constData(), stdout);
        return 0;
    }
    if (argc < 3 || argc > 4 || std::strcmp(argv[1], "--help") == 0) {
        std::fprintf(stderr,
                     "usage: vx5-client PLUGIN_LIBRARY PLUGIN_FOLDER/ [COMMAND_FILE]\n"
                     "       vx5-client --reference | --definitions\n"
                     "Loads the plug-in, starts it with PLUGIN_FOLDER as the client's plug-in path and runs\n"
                     "commands from COMMAND_FILE or standard input (\"help\" lists them). The stand-in\n"
                     "reports PLUGIN_FOLDER for every folder the client has: scripts lie in\n"
                     "PLUGIN_FOLDER/lua_plugin/, and the plug-in reads its settings (limits, modules) from\n"
                     "PLUGIN_FOLDER/luaconfig.ini. Exit code 1 when the plug-in did not start or a command\n"
                     "failed. --reference prints the reference for script authors (Markdown), --definitions\n"
                     "the same for the Lua language server.\n");
        return 2;
    }
    // The module dialog (configure) needs a GUI application; without a display it is
    // made offscreen.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

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
    const int started = host.start();
    std::printf("init -> %d\n", started);
    if (started != 0)
        std::fprintf(stderr, "vx5-client: the plug-in did not start (settings: %sluaconfig.ini)\n", folder.constData());
    std::fflush(stdout);
    while (!input.atEnd()) {
        if (!commands.run(input.readLine()))
            break;
    }
    if (host.isRunning())
        host.shutdown();
    return started == 0 && commands.failures() == 0 ? 0 : 1;
}
