#pragma once

#include <QFile>
#include <QString>

// The Details log on disk, where users and support look for it after the window is gone:
// $XDG_STATE_HOME/voxmere/update.log (~/.local/state/voxmere/update.log by default), never
// inside the installation. Each run starts a new log; the previous run's is kept as
// update.log.1. The log is opened as the session's files are: never through a link, never
// waiting on a FIFO, a regular file only. A log that cannot be written costs the update
// nothing.
class UpdateLog
{
public:
    // What one run may write; a line then says the log was cut.
    static constexpr qint64 maxBytes = 1 << 20;

    // Where the log goes, or "" when neither XDG_STATE_HOME nor HOME names an absolute folder.
    static QString path();

    // The line with the time; the first line of a run opens the log.
    void append(const QString& line);

private:
    bool open();

    QFile file;
    bool tried = false;
    qint64 written = 0;
};
