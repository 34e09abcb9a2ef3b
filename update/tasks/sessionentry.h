#pragma once

// The update's session folder (in the temporary folder) holds what this updater left:
// downloads, partial downloads and the product ini. Anything may stand there instead (an
// earlier updater's leftovers, a crash, a careless hand): a FIFO would freeze the updater, a
// symbolic link would lead its writes and reads outside the folder, a folder where a file
// goes would fail that version on every run. Before a file there is continued, reused or
// written, its path is cleared: nothing but real folders on the way, and a regular file or
// nothing at its end.

#include <QString>
#include <QStringList>

// Removes what stands in the way of a regular file at root/relativePath: anything but a
// real folder where a folder of the path goes (the folder is made anew), and anything but
// a regular file at its end (a folder with all it holds, never following a link). Returns
// a line for the log per removal.
QStringList clearSessionPath(const QString& root, const QString& relativePath);

// Opens a file of the session folder for writing (appending, or from its start) without
// following a link and without waiting on a FIFO; anything but a regular file is refused.
// The descriptor, or -1 with errno set.
int openSessionFile(const QString& path, bool append);

// Writes all of it; false, with the system's words, when the disk refuses (a short write
// is followed by one that says why).
bool writeAllTo(int fd, const char* data, qint64 size, QString* refusal);
