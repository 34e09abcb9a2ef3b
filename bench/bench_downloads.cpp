// Benchmarks of the updater's downloads and list compilation, one operation per run:
//
//   bench_downloads download BASE_URL TEMP_DIR LIST STREAMS
//       downloads and MD5-checks every file of LIST (lines "section relativePath md5 size")
//       from two mirror entries on BASE_URL (version 100), STREAMS at a time
//   bench_downloads compile APP_ROOT TEMP_DIR
//       compiles the installation lists of TEMP_DIR/client_linux_amd64.ini against APP_ROOT
//   bench_downloads update APP_ROOT VERSION
//       a whole update of the installation in APP_ROOT (its mirrors.ini names the mirror)
//       to VERSION through the update engine; the session directory goes below TMPDIR;
//       with BENCH_TRACE set, the engine's step lines are printed with their times; prints
//       when the first file was requested
//
// Prints the wall time and the peak resident memory. With BENCH_CA_FILE set, the certificates
// in that file are trusted beside the system's (a server on loopback with a certificate
// made for the run).
#include "configuration.h"
#include "downloadfilelisttaskspecification.h"
#include "makedownloadreplacelisttaskspecification.h"
#include "mirrors.h"
#include "updateengine.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QNetworkAccessManager>
#include <QSslConfiguration>
#include <QTimer>

#include <sys/resource.h>

#include <cstdio>

namespace {

double peakResidentMiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

// Runs the task to its end in the event loop, ticking it once a second like the engine.
TaskState run(TaskSpecification& task, double* seconds)
{
    QObject::connect(&task, &TaskSpecification::finished, qApp, &QCoreApplication::quit);
    QObject::connect(&task, &TaskSpecification::canceled, qApp, &QCoreApplication::quit);
    QObject::connect(&task, &TaskSpecification::message, [](const QString& text) {
        if (text.contains(QLatin1String("failed")) || text.contains(QLatin1String("returned")))
            std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&task] {
        quint64 done = 0, total = 0, speed = 0;
        bool downloading = false;
        task.timeTick(done, total, speed, downloading);
    });
    ticker.start(1000);
    QElapsedTimer timer;
    timer.start();
    QTimer::singleShot(0, &task, &TaskSpecification::execute);
    QCoreApplication::exec();
    *seconds = timer.nsecsElapsed() / 1e9;
    return task.getState();
}

int download(const QStringList& args)
{
    Configuration configuration;
    configuration.tempDir = args.at(3);
    configuration.downloadConcurrency = args.at(5).toInt();

    QList<FileDownloadSpecification> list;
    QFile listFile(args.at(4));
    if (!listFile.open(QIODevice::ReadOnly))
        return 2;
    while (!listFile.atEnd()) {
        const QList<QByteArray> fields = listFile.readLine().trimmed().split(' ');
        if (fields.size() == 4)
            list << FileDownloadSpecification{QString::fromUtf8(fields.at(0)), QString::fromUtf8(fields.at(1)),
                                              QString::fromUtf8(fields.at(2)), fields.at(3).toULongLong()};
    }

    // Two entries for the one server: an HTTP mirror serves 3 downloads at once.
    const QString ini = configuration.tempDir + QLatin1String("/mirrors.ini");
    QFile mirrorsIni(ini);
    mirrorsIni.open(QIODevice::WriteOnly);
    mirrorsIni.write("[mirrors]\nsize=2\n1\\mirror=a\n2\\mirror=b\n[a]\nurl=" + args.at(2).toUtf8() + "\n[b]\nurl=" +
                     args.at(2).toUtf8() + "\n");
    mirrorsIni.close();
    Mirrors mirrors(nullptr);
    mirrors.initDefault(ini, 100);
    mirrors.seedRandom(1);

    QNetworkAccessManager manager;
    DownloadFileListTaskSpecification task(&list, &manager, &mirrors, &configuration, nullptr, 1.0);
    double seconds = 0;
    const TaskState end = run(task, &seconds);
    std::printf("download: %s, %lld files in %.3f s, peak resident memory %.1f MiB\n",
                end == Finished ? "ok" : "FAILED", qlonglong(list.size()), seconds, peakResidentMiB());
    return end == Finished ? 0 : 1;
}

int compile(const QStringList& args)
{
    Configuration::setAppRootPathForTests(args.at(2));
    Configuration configuration;
    configuration.tempDir = args.at(3);
    configuration.clientType = Configuration::getUpdateType();
    FileSpecifications lists;
    MakeDownloadReplaceListTaskSpecification task(&configuration, lists, nullptr, 1.0);
    double seconds = 0;
    const TaskState end = run(task, &seconds);
    std::printf("compile: %s in %.3f s (%lld to download, %lld to install), peak resident memory %.1f MiB\n",
                end == Finished ? "ok" : "FAILED", seconds, qlonglong(lists.downloads.size()),
                qlonglong(lists.replaces.size()), peakResidentMiB());
    return end == Finished ? 0 : 1;
}

int update(const QStringList& args)
{
    Configuration::setAppRootPathForTests(args.at(2));
    Configuration configuration;
    configuration.clientType = Configuration::getUpdateType();
    configuration.clientVersion = args.at(3).toInt();
    UpdateEngine engine(configuration, nullptr);
    bool finished = false;
    QObject::connect(&engine, &UpdateEngine::updateFinished, [&finished] {
        finished = true;
        QCoreApplication::quit();
    });
    QObject::connect(&engine, &UpdateEngine::updateCanceled, qApp, &QCoreApplication::quit);
    QObject::connect(&engine, &UpdateEngine::error, [](const QString& text) { std::fprintf(stderr, "%s\n", qPrintable(text)); });
    QObject::connect(&engine, &UpdateEngine::fatalError, [](const QString& text) {
        std::fprintf(stderr, "%s\n", qPrintable(text));
    });
    QElapsedTimer timer;
    timer.start();
    if (qEnvironmentVariableIsSet("BENCH_TRACE"))
        QObject::connect(&engine, &UpdateEngine::message, [&timer](const QString& text) {
            if (!text.startsWith("Downloading files/") && !text.startsWith("add/"))
                std::fprintf(stderr, "%8.3f %s\n", timer.nsecsElapsed() / 1e9, qPrintable(text));
        });
    // What the update does before its first file download: the product ini, its signature,
    // the patch index and the lists.
    double firstFileSeconds = -1;
    QObject::connect(&engine, &UpdateEngine::message, [&timer, &firstFileSeconds](const QString& text) {
        if (firstFileSeconds < 0 && text.startsWith(QLatin1String("Downloading files/")))
            firstFileSeconds = timer.nsecsElapsed() / 1e9;
    });
    if (!engine.initialize())
        return 1;
    engine.startUpdate();
    QCoreApplication::exec();
    std::printf("update: %s in %.3f s (first file requested after %.3f s), peak resident memory %.1f MiB\n",
                finished ? "ok" : "FAILED", timer.nsecsElapsed() / 1e9, firstFileSeconds, peakResidentMiB());
    return finished ? 0 : 1;
}

void trustBenchCertificates()
{
    const QString path = qEnvironmentVariable("BENCH_CA_FILE");
    if (path.isEmpty())
        return;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    if (!configuration.addCaCertificates(path))
        std::fprintf(stderr, "no certificate in %s\n", qPrintable(path));
    QSslConfiguration::setDefaultConfiguration(configuration);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    trustBenchCertificates();
    const QStringList args = app.arguments();
    if (args.size() == 6 && args.at(1) == QLatin1String("download"))
        return download(args);
    if (args.size() == 4 && args.at(1) == QLatin1String("compile"))
        return compile(args);
    if (args.size() == 4 && args.at(1) == QLatin1String("update"))
        return update(args);
    std::fprintf(stderr, "usage: bench_downloads download BASE_URL TEMP_DIR LIST STREAMS | compile APP_ROOT TEMP_DIR"
                         " | update APP_ROOT VERSION\n");
    return 2;
}
