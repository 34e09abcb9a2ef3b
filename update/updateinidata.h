#pragma once

#include "updatechannel.h"

#include <QString>

#include <optional>

class QSettings;

// What a completed update installed, recorded in [installed] of update.ini: its version,
// client type and channel, and whether its product ini named the release in signed lines
// (version= and type=). Updates do not go backwards from it unless a person asks.
struct InstalledRelease
{
    int version = 0;
    QString type;
    QString channel; // "stable", "beta" or "alpha"
    bool namesSigned = false;

    static QString channelName(UpdateChannel channel);
    // Whether version would go back from this release in the same client type and channel.
    bool isNewerThan(int version, const QString& type, UpdateChannel channel) const;
};

// The record of an unfinished update in the [current] group of update.ini: which version
// it installs, for which client type, and where its downloads lie. Each call opens the
// file anew and writes its changes back before it returns.
class UpdateIniData
{
public:
    static QString filename();
    // Valid: version a number, type and dir not empty, dir an existing directory. Then
    // stores what the non-null pointers ask for and returns true; otherwise stores nothing.
    static bool get(int* version, QString* type, QString* dir);
    // Note the order: dir before type (get has type first). False when the file could not
    // be written.
    static bool modify(int version, const QString& dir, const QString& type);
    // Removes the [current] group; the other groups stay.
    static void cleanup();
    // The end of a completed update: removes [current] and records the release installed,
    // in one write that reaches the disk before it takes update.ini's name.
    static bool complete(const InstalledRelease& release);
    // The release the last completed update recorded; nothing without a record (or with
    // one that is not whole).
    static std::optional<InstalledRelease> installed();

    // Why the recorded directory must not be resumed or emptied, or an empty text when it
    // may: it must be a real directory (not a link to one) named "voxmere_temp_" and a
    // suffix of letters and digits (a number for earlier updaters), directly in the
    // temporary folder, owned by the user running the updater.
    static QString sessionDirectoryProblem(const QString& dir);

private:
    static bool writeDurably(QSettings& settings);
};
