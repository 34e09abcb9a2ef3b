// Benchmarks of the updater's file checks and unpacking, one operation per run:
//
//   bench_filecheck md5 FILE EXPECTED_MD5    MD5 check as after a download
//   bench_filecheck unzip SOURCE TARGET      unpack a gzip file as during installation
//
// Prints the wall time, the throughput over the input file and the peak resident memory.
#include "checksignaturetaskspecification.h"
#include "fileunziptaskspecification.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>

#include <sys/resource.h>

#include <cstdio>

namespace {

long peakResidentKiB()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4 || (args.at(1) != QLatin1String("md5") && args.at(1) != QLatin1String("unzip"))) {
        std::fprintf(stderr, "usage: bench_filecheck md5 FILE EXPECTED_MD5 | unzip SOURCE TARGET\n");
        return 2;
    }
    const qint64 inputSize = QFileInfo(args.at(2)).size();

    QElapsedTimer timer;
    timer.start();
    const bool ok = args.at(1) == QLatin1String("md5") ? CheckSigFunc(args.at(2), args.at(3)).run()
                                                       : FileUnzipFunc::unzipFile(args.at(3), args.at(2));
    const double seconds = timer.nsecsElapsed() / 1e9;

    std::printf("%s: %s in %.3f s, %.1f MiB/s of input, peak resident memory %.1f MiB\n", qPrintable(args.at(1)),
                ok ? "ok" : "FAILED", seconds, inputSize / 1048576.0 / seconds, peakResidentKiB() / 1024.0);
    return ok ? 0 : 1;
}
