#pragma once

#include <QString>

// What keeps an installation whole through a power cut. A cut loses what was written but
// not yet flushed, while renames and deletions that came later may survive; so, for every
// name that new data takes, the data goes to the disk before the name:
// 1. A staged file ("_new_" + name, unpacked, copied, or hard-linked from the download) is
//    flushed (fdatasync) by the thread-pool body that made it, before its check and swap.
// 2. Only then does it take the installed name (the installed file is kept under its
//    "_old_" name by a hard link, and the staged file renamed over the name).
// 3. When every file is in place, each directory that gained or changed an entry is
//    flushed (fsync), before any "_old_" copy or obsolete file is deleted.
// 4. The session record is written through a file flushed before it is renamed over
//    update.ini; the installation directory is flushed after it, so that the record
//    neither survives the update nor disappears before it.
// A cut at any moment thus leaves every installed name on the old or the new, whole file.

// fdatasync of a file; false (with errno set) when it fails.
bool flushFileData(const QString& path);
// fsync of a directory: its entries reach the disk.
bool flushDirectory(const QString& path);
