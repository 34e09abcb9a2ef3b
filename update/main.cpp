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

namespace {

constexpr int autoStartDelayMs = 2000;

} // namespace

int main(int argc, char* argv[])
{
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
