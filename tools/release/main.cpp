// The publisher's release tool: makes the mirror tree of one client version from its
// files (see ReleaseBuilder).
#include "releasebuilder.h"
#include "signing.h"
#include "tomcryptutil.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>

#include <cstdio>

#include <unistd.h>

namespace {

// A key that cannot be read is the builder's to report.
bool signsWithTestKey(const QString& keyPath)
{
    try {
        crypt_init();
        return signingKeyFingerprint(QFile::encodeName(keyPath).toStdString()) == testAndDemoKeyFingerprint;
    } catch (const crypt_exception&) {
        return false;
    }
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx5-release"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes the mirror tree of one client version: MIRROR_DIR/VERSION/ with the signed product ini, "
        "the files (chosen ones gzip-packed), the changelog, and patches from the previous versions' files. "
        "Checks every input before it writes anything (exit 2 for a mistake, 1 for a failure while writing); "
        "on a terminal, says what it does file by file on standard error; ends with a summary."));
    parser.addHelpOption();
    const QCommandLineOption versionOption(QStringLiteral("version"), QStringLiteral("Version number."),
                                           QStringLiteral("number"));
    const QCommandLineOption keyOption(QStringLiteral("key"), QStringLiteral("Private key that signs the product ini."),
                                       QStringLiteral("file"));
    const QCommandLineOption packOption(QStringLiteral("pack"),
                                        QStringLiteral("Serve matching files gzip-packed (a wildcard on the file "
                                                       "name or relative path; repeatable)."),
                                        QStringLiteral("pattern"));
    const QCommandLineOption previousOption(QStringLiteral("previous"),
                                            QStringLiteral("Tree of an earlier version: its files missing here are "
                                                           "deleted on update (repeatable)."),
                                            QStringLiteral("dir"));
    const QCommandLineOption changelogOption(QStringLiteral("changelog"), QStringLiteral("Changelog text file."),
                                             QStringLiteral("file"));
    const QCommandLineOption typeOption(QStringLiteral("type"), QStringLiteral("Client type (product ini name)."),
                                        QStringLiteral("type"), QStringLiteral("client_linux_amd64"));
    const QCommandLineOption sectionOption(QStringLiteral("section"),
                                           QStringLiteral("Folder of the files on the mirror."),
                                           QStringLiteral("name"), QStringLiteral("files"));
    const QCommandLineOption noPatchesOption(QStringLiteral("no-patches"),
                                             QStringLiteral("Publish no patches from the previous trees' files."));
    const QCommandLineOption patchLevelOption(
        QStringLiteral("patch-level"),
        QStringLiteral("zstd level of the patches, 1 to %1 (default %2).").arg(FilePatch::maxLevel()).arg(FilePatch::defaultLevel),
        QStringLiteral("level"), QString::number(FilePatch::defaultLevel));
    parser.addOptions({versionOption, keyOption, packOption, previousOption, changelogOption, typeOption,
                       sectionOption, noPatchesOption, patchLevelOption});
    parser.addPositionalArgument(QStringLiteral("TREE"), QStringLiteral("The client version's files."));
    parser.addPositionalArgument(QStringLiteral("MIRROR_DIR"), QStringLiteral("Root of the mirror tree."));
    parser.process(app);

    bool versionOk = false;
    bool levelOk = false;
    ReleaseOptions options;
    options.version = parser.value(versionOption).toInt(&versionOk);
    options.patchLevel = parser.value(patchLevelOption).toInt(&levelOk);
    if (parser.positionalArguments().size() != 2 || !versionOk || !parser.isSet(keyOption)) {
        std::fprintf(stderr, "vx5-release: give --version (a number), --key, TREE and MIRROR_DIR (see --help)\n");
        return 2;
    }
    if (!levelOk || options.patchLevel < 1 || options.patchLevel > FilePatch::maxLevel()) {
        std::fprintf(stderr, "vx5-release: --patch-level must be 1 to %d\n", FilePatch::maxLevel());
        return 2;
    }
    options.makePatches = !parser.isSet(noPatchesOption);
    options.treeDir = parser.positionalArguments().at(0);
    options.mirrorDir = parser.positionalArguments().at(1);
    options.privateKeyPath = parser.value(keyOption);
    options.packPatterns = parser.values(packOption);
    options.previousTreeDirs = parser.values(previousOption);
    options.changelogPath = parser.value(changelogOption);
    options.clientType = parser.value(typeOption);
    options.section = parser.value(sectionOption);

    ReleaseBuilder builder(options);
    // Progress is for a person watching; a log or a pipe gets the result only.
    if (::isatty(STDERR_FILENO))
        builder.setProgress([](const QString& line) { std::fprintf(stderr, "%s\n", qPrintable(line)); });
    if (signsWithTestKey(options.privateKeyPath))
        std::fprintf(stderr, "vx5-release: warning: %s is the project's test-and-demo key, whose private half is "
                             "public: never publish a real release signed with it\n",
                     qPrintable(options.privateKeyPath));
    if (!builder.build()) {
        std::fprintf(stderr, "vx5-release: %s\n", qPrintable(builder.errorString()));
        return builder.inputMistake() ? 2 : 1;
    }
    for (const QString& line : builder.log())
        std::printf("wrote %s\n", qPrintable(line));
    std::printf("%s\n", qPrintable(builder.summary()));
    return 0;
}
