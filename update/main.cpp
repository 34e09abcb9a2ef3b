// The updater's entry point: hands over to an updater that already runs, repairs what an
// interrupted update left, loads the translations, reads what to install and shows the
// window. Exit codes: 0 done (or another updater runs), 1 the configuration failed,
// 2 the update could not be prepared, 3 (without a screen) the update failed, 4 the update
// server offered a version older than the installed one.
#include "configuration.h"
#include "mainwindow.h"
#include "singleinstancechecker.h"
#include "translations.h"
#include "updateengine.h"

#include <QApplication>
#include <QLocale>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace {

constexpr int autoStartDelayMs = 2000;

const char* const usage =
    "usage: update                                    the latest version of the channel in update.ini\n"
    "       update --nouser TYPE VERSION LABEL NEWS   as the client starts it (\"#\" for no label): starts\n"
    "                                                 by itself, starts the client when done\n"
    "       update TYPE VERSION                       a given version, started by a user\n"
    "       update --help | -h                        this text\n"
    "Reads update.ini and mirrors.ini beside the program. Exit codes: 0 done, 1 the command\n"
    "line or settings are not usable, 2 the update cannot be prepared, 3 without a screen: the\n"
    "update failed or was cancelled, 4 the update server offered an older version than the\n"
    "installed one.\n";

bool asksForHelp(int argc, char* argv[])
{
    return argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0);
}

} // namespace

int main(int argc, char* argv[])
{
    // Before anything that could query, hand over or need a screen.
    if (asksForHelp(argc, argv)) {
        std::fputs(usage, stdout);
        return 0;
    }
    QApplication app(argc, argv);

    // First: a running updater may still need its "_old_" copies to roll back.
    if (SingleInstanceChecker::checkExistingInstance(QStringLiteral("#")))
        return 0;
    for (const QString& line : UpdateEngine::removeLeftoversOfLastUpdate())
        std::fprintf(stderr, "update: %s\n", qPrintable(line));

    const Translations translations(QLocale::system().name());
    Configuration configuration;
    MainWindow window(configuration);
    if (window.handedOver())
        return 0;
    if (!configuration.parseCommandLineOptions())
        return configuration.failureExitCode;
    if (configuration.startMode == 1)
        QTimer::singleShot(autoStartDelayMs, &window, SLOT(onAutoStartUpdate()));
    window.setUIToConfigSpecs();
    window.show();
    window.setNews();
    return QApplication::exec();
}
