#include "updatescene.h"

#include "filereplacetaskspecification.h"
#include "mirrorserver.h"
#include "releasebuilder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QStringList settingsFiles{QStringLiteral("update.ini"), QStringLiteral("mirrors.ini")};

mode_t currentUmask()
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}

int plainMode()
{
    return int(0666 & ~currentUmask());
}

int directoryMode()
{
    return int(0777 & ~currentUmask());
}

int modeFor(const QString& relativePath)
{
    return FileReplaceTaskSpecification::isExecutableFileName(QFileInfo(relativePath).fileName()) ? 0755
                                                                                                  : plainMode();
}

} // namespace

bool writeTree(const QString& dir, const ClientTree& tree, bool withModes)
{
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        const QString path = QDir(dir).filePath(it.key());
        QFile file(path);
        if (!QDir().mkpath(QFileInfo(path).path()) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(it.value()) != it.value().size())
            return false;
        file.close();
        if (withModes && ::chmod(QFile::encodeName(path).constData(), mode_t(modeFor(it.key()))) != 0)
            return false;
    }
    return true;
}

QByteArray seededBytes(int size, int seed)
{
    QByteArray data(size, Qt::Uninitialized);
    quint32 state = quint32(seed) * 2654435761u + 1;
    for (char& c : data) {
        state = state * 1664525u + 1013904223u;
        c = char(state >> 24);
    }
    return data;
}

ClientTree olderClient()
{
    return {{"update", "#!/bin/sh\necho updater 1\n"},
            {"vx5client_runscript.sh", "#!/bin/sh\nexec ./vx5client_linux_amd64 \"$@\"\n"},
            {"vx5client_linux_amd64", seededBytes(50000, 1)},
            {"plugins/libvx5.so", seededBytes(40000, 2)},
            {"plugins/lua_plugin/vx5events.lua", "print('events 1')\n"},
            {"sounds/old-chime.wav", seededBytes(3000, 3)},
            {"readme.txt", "Voxmere 1\n"},
            {"unchanged.dat", seededBytes(8000, 4)}};
}

ClientTree newerClient()
{
    return {{"update", "#!/bin/sh\necho updater 2\n"},
            // Leaves a mark where it lies, so that a test sees the client was started.
            {"vx5client_runscript.sh", "#!/bin/sh\necho started > \"$(dirname \"$0\")/client-started\"\n"},
            {"vx5client_linux_amd64", seededBytes(60000, 11)},
            {"plugins/libvx5.so", seededBytes(45000, 12)},
            {"plugins/lua_plugin/vx5events.lua", "print('events 2')\n"},
            {"sounds/new/deeper/chime.wav", seededBytes(5000, 13)},
            {"readme.txt", "Voxmere 2, with a longer text than before\n"},
            {"unchanged.dat", seededBytes(8000, 4)}};
}

ClientTree clientRelease(const QByteArray& program, int n)
{
    ClientTree tree{{"update", program + QByteArray(n, char(n))},
                    {"libQtCore.so.4", seededBytes(20000 + n, 100 + n)},
                    {"vx5client_runscript.sh", "#!/bin/sh\necho started > \"$(dirname \"$0\")/client-started\"\n"},
                    {"vx5client_linux_amd64", seededBytes(40000 + n * 1000, 200 + n)},
                    {"plugins/libvx5.so", seededBytes(30000, 300 + n)},
                    {"readme.txt", "Voxmere release " + QByteArray::number(n) + "\n"},
                    {"data/stable.dat", seededBytes(5000, 1)},
                    // Names that URLs and settings files treat specially, one of them packed.
                    {"names/#1 50% off?.txt", "release " + QByteArray::number(n) + "\n"},
                    {"names/\xc3\xbcn\xc3\xaf" "code & [brackets];x=y.dat", seededBytes(2000, 500 + n)},
                    {"names/lib %41#.so", seededBytes(3000, 600 + n)}};
    for (int k = 1; k <= n; ++k) // a file more with every release
        tree.insert("added/in-release-" + QByteArray::number(k) + ".txt", "since " + QByteArray::number(k) + "\n");
    if (n % 2 == 1) // comes and goes
        tree.insert("sounds/odd-releases.wav", seededBytes(3000, 400));
    if (n < 3) // gone from release 3 on
        tree.insert("old/only-early.txt", "early\n");
    return tree;
}

UpdateScene::UpdateScene() : savedTmpDir(qgetenv("TMPDIR")), savedStateDir(qgetenv("XDG_STATE_HOME"))
{
    QDir(root.path()).mkpath(QStringLiteral("my install"));
    QDir(root.path()).mkpath(QStringLiteral("tmp"));
    QDir(root.path()).mkpath(QStringLiteral("mirror"));
    QDir(root.path()).mkpath(QStringLiteral("runtime"));
    QFile::setPermissions(root.filePath(QStringLiteral("runtime")), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                                        QFileDevice::ExeOwner);
    qputenv("TMPDIR", QFile::encodeName(tempDir()));
    qputenv("XDG_STATE_HOME", QFile::encodeName(stateDir()));
}

UpdateScene::~UpdateScene()
{
    ::chmod(QFile::encodeName(installDir()).constData(), 0755); // so that it can be removed
    for (const auto& [name, saved] : {std::pair{"TMPDIR", savedTmpDir}, std::pair{"XDG_STATE_HOME", savedStateDir}}) {
        if (saved.isNull())
            qunsetenv(name);
        else
            qputenv(name, saved);
    }
}

bool UpdateScene::publish(int version, const ClientTree& tree, QString* error)
{
    const QString treeDir = root.filePath(QStringLiteral("trees/%1").arg(version));
    if (!writeTree(treeDir, tree, false)) {
        *error = QStringLiteral("could not write %1").arg(treeDir);
        return false;
    }
    ReleaseOptions options;
    options.treeDir = treeDir;
    options.mirrorDir = mirrorDir();
    options.version = version;
    options.privateKeyPath = QStringLiteral(VX5_TEST_PRIVATE_KEY);
    options.packPatterns = {QStringLiteral("*.so")};
    options.previousTreeDirs = publishedTrees;
    // Patches as a publisher makes them, at a level fast enough for programs of many
    // megabytes (the sanitizers' builds) in every test.
    options.patchLevel = 3;
    ReleaseBuilder builder(options);
    if (!builder.build()) {
        *error = builder.errorString();
        return false;
    }
    publishedTrees << treeDir;
    return true;
}

bool UpdateScene::install(const ClientTree& tree, const QString& mirrorUrl)
{
    const ClientTree settings{
        {"update.ini", "[update]\nstreams=3\n"},
        {"mirrors.ini", mirrorsIni({{"m1", mirrorUrl}})}};
    return writeTree(installDir(), tree, true) && writeTree(installDir(), settings, false);
}

void UpdateScene::startUpdater(QProcess& process, const QStringList& arguments, const QByteArray& updateServer) const
{
    setUpdaterEnvironment(process, updateServer);
    process.start(QDir(installDir()).filePath(QStringLiteral("update")), arguments);
}

void UpdateScene::setUpdaterEnvironment(QProcess& process, const QByteArray& updateServer) const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", root.filePath(QStringLiteral("runtime")));
    environment.insert("TMPDIR", tempDir());
    environment.insert("XDG_STATE_HOME", stateDir());
    environment.insert("VX5_UPDATE_SERVER", QString::fromLatin1(updateServer));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::MergedChannels);
}

void UpdateScene::startUpdaterWithoutWriteAccess(QProcess& process, const QStringList& arguments,
                                                 const QByteArray& updateServer)
{
    setUpdaterEnvironment(process, updateServer);
    const QString program = QDir(installDir()).filePath(QStringLiteral("update"));
    if (::getuid() == 0) {
        // The scene's folders open to "nobody", the installation still root's own.
        ::chmod(QFile::encodeName(root.path()).constData(), 0755);
        ::chmod(QFile::encodeName(tempDir()).constData(), 01777);
        process.start(QStringLiteral("setpriv"),
                      QStringList{"--reuid=65534", "--regid=65534", "--clear-groups", "--", program} + arguments);
        return;
    }
    ::chmod(QFile::encodeName(installDir()).constData(), 0555);
    ::chmod(QFile::encodeName(QDir(installDir()).filePath(QStringLiteral("update.ini"))).constData(), 0444);
    process.start(program, arguments);
}

void UpdateScene::serve(MirrorServer& server) const
{
    server.serveTree(QStringLiteral("/m1/"), mirrorDir());
}

TreeSnapshot UpdateScene::expected(const ClientTree& tree)
{
    TreeSnapshot files;
    for (auto it = tree.cbegin(); it != tree.cend(); ++it) {
        files.insert(it.key(), {it.value(), modeFor(it.key())});
        for (QString dir = QFileInfo(it.key()).path(); dir != QLatin1String("."); dir = QFileInfo(dir).path())
            files.insert(dir + QLatin1Char('/'), {QByteArray(), directoryMode()});
    }
    return files;
}

TreeSnapshot UpdateScene::installed() const
{
    TreeSnapshot files = snapshot(installDir());
    for (const QString& name : settingsFiles)
        files.remove(name);
    return files;
}

QByteArray mirrorsIni(const MirrorList& mirrors)
{
    QByteArray list = "[mirrors]\nsize=" + QByteArray::number(mirrors.size()) + "\n";
    QByteArray groups;
    for (int n = 0; n < mirrors.size(); ++n) {
        const QByteArray name = mirrors.at(n).first.toUtf8();
        list += QByteArray::number(n + 1) + "\\mirror=" + name + "\n";
        groups += "[" + name + "]\nurl=" + mirrors.at(n).second.toUtf8() + "\n";
    }
    return list + groups;
}

TreeSnapshot snapshot(const QString& dir)
{
    TreeSnapshot files;
    const QDir root(dir);
    QDirIterator it(dir, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        struct stat info{};
        ::lstat(QFile::encodeName(path).constData(), &info);
        const int mode = int(info.st_mode & 07777);
        if (S_ISDIR(info.st_mode)) {
            files.insert(root.relativeFilePath(path) + QLatin1Char('/'), {QByteArray(), mode});
            continue;
        }
        QFile file(path);
        files.insert(root.relativeFilePath(path),
                     {file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)"), mode});
    }
    return files;
}

QString differences(const TreeSnapshot& actual, const TreeSnapshot& expected)
{
    QStringList lines;
    for (auto it = actual.cbegin(); it != actual.cend(); ++it) {
        if (!expected.contains(it.key()))
            lines << QStringLiteral("extra %1").arg(it.key());
        else if (expected.value(it.key()).first != it.value().first)
            lines << QStringLiteral("other content %1").arg(it.key());
        else if (expected.value(it.key()).second != it.value().second)
            lines << QStringLiteral("mode %1 instead of %2: %3")
                         .arg(QString::number(it.value().second, 8), QString::number(expected.value(it.key()).second, 8),
                              it.key());
    }
    for (auto it = expected.cbegin(); it != expected.cend(); ++it) {
        if (!actual.contains(it.key()))
            lines << QStringLiteral("missing %1").arg(it.key());
    }
    return lines.join(QLatin1Char('\n'));
}
