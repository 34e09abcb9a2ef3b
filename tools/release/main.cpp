// The publisher's release tool: makes the mirror tree of one client version from its
// files (see ReleaseBuilder).
#include "releasebuilder.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vx5-release"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Makes the mirror tree of one client version: MIRROR_DIR/VERSION/ with the signed product ini, "
        "the files (chosen ones gzip-packed), the changelog, and patches from the previous versions' files."));
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
        std::fprintf(stderr, "vx5-release: give --version, --key, TREE and MIRROR_DIR (see --help)\n");
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
    if (!builder.build()) {
        std::fprintf(stderr, "vx5-release: %s\n", qPrintable(builder.errorString()));
        return 1;
    }
    for (const QString& line : builder.log())
        std::printf("wrote %s\n", qPrintable(line));
    return 0;
}
