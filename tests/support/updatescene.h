#pragma once

#include <QByteArray>
#include <QMap>
#include <QPair>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class MirrorServer;
class QProcess;

// The files of one client version: relative path → content.
using ClientTree = QMap<QString, QByteArray>;
// What lies in a directory: relative path → (content, permission bits); directories end
// in "/" and have no content.
using TreeSnapshot = QMap<QString, QPair<QByteArray, int>>;

// Two client versions that exercise everything an update does: plain and packed files,
// files in a new sub-directory, a file only the older one has (deleted on update),
// executables of the client and libraries, and the updater itself.
// Writes the files of a tree below dir; withModes: programs and libraries get mode 0755.
bool writeTree(const QString& dir, const ClientTree& tree, bool withModes);

// size bytes that look random, the same for the same seed.
QByteArray seededBytes(int size, int seed);

ClientTree olderClient();
ClientTree newerClient();

// Release number n of a client whose updater is the real program (with n bytes of its
// own appended, so that every release has another one that still runs): files that
// change, come and go from release to release, and a library of the updater's own.
ClientTree clientRelease(const QByteArray& program, int n);

// A scratch world for whole updates: an installation directory, a temporary folder
// (TMPDIR points there while the scene lives), and a mirror tree with releases made by
// the release tool and signed with the test key, served by an in-process mirror as "m1".
class UpdateScene
{
public:
    UpdateScene();
    ~UpdateScene();
    UpdateScene(const UpdateScene&) = delete;
    UpdateScene& operator=(const UpdateScene&) = delete;

    bool isValid() const { return root.isValid(); }
    // With a space in its path, as installations in home folders often have.
    QString installDir() const { return root.filePath(QStringLiteral("my install")); }
    QString tempDir() const { return root.filePath(QStringLiteral("tmp")); }
    QString mirrorDir() const { return root.filePath(QStringLiteral("mirror")); }
    // XDG_STATE_HOME while the scene lives, and for the updaters it starts.
    QString stateDir() const { return root.filePath(QStringLiteral("state")); }

    // Builds the release of a version; the ones published before give the "delete"
    // section. *.so files are served packed. False with a message on failure.
    bool publish(int version, const ClientTree& tree, QString* error);
    // Lays a version out as the updater installs it (mode 0755 for programs and
    // libraries), with update.ini and a mirrors.ini that names the mirror.
    bool install(const ClientTree& tree, const QString& mirrorUrl);
    // Serves the mirror tree below "/m1/" of the server.
    void serve(MirrorServer& server) const;
    // Starts the update program that lies in the installation, offscreen, with this
    // scene's temporary and runtime folders and the given update server.
    void startUpdater(QProcess& process, const QStringList& arguments, const QByteArray& updateServer) const;
    // The same as a user who may read the installation but not change it (the superuser
    // starts it as "nobody"; others take their own write permission away).
    void startUpdaterWithoutWriteAccess(QProcess& process, const QStringList& arguments,
                                        const QByteArray& updateServer);

    // The installation as the release has it: every file with the mode the updater gives.
    static TreeSnapshot expected(const ClientTree& tree);
    // The installation without update.ini and mirrors.ini.
    TreeSnapshot installed() const;

private:
    void setUpdaterEnvironment(QProcess& process, const QByteArray& updateServer) const;

    QTemporaryDir root;
    QByteArray savedTmpDir;
    QByteArray savedStateDir;
    QStringList publishedTrees;
};

// A mirrors.ini naming each mirror (its group) with its base URL, in order.
using MirrorList = QList<QPair<QString, QString>>;
QByteArray mirrorsIni(const MirrorList& mirrors);

TreeSnapshot snapshot(const QString& dir);
// What differs between two snapshots, by path (empty when they are equal).
QString differences(const TreeSnapshot& actual, const TreeSnapshot& expected);
