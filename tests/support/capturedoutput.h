#pragma once

#include <QByteArray>
#include <QTemporaryFile>

#include <cstdio>
#include <unistd.h>

// Captures what the code under test writes to standard output and standard error
// (C stdio and plain writes alike) while the object lives.
class CapturedOutput
{
public:
    CapturedOutput() : out(capture(STDOUT_FILENO, outFile)), err(capture(STDERR_FILENO, errFile)) {}
    ~CapturedOutput() { stop(); }
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    QByteArray standardOutput()
    {
        stop();
        return outFile.readAll();
    }
    QByteArray standardError()
    {
        stop();
        return errFile.readAll();
    }

private:
    static int capture(int fd, QTemporaryFile& file)
    {
        file.open();
        std::fflush(nullptr);
        const int saved = ::dup(fd);
        ::dup2(file.handle(), fd);
        return saved;
    }
    void stop()
    {
        if (out < 0)
            return;
        std::fflush(nullptr);
        ::dup2(out, STDOUT_FILENO);
        ::dup2(err, STDERR_FILENO);
        ::close(out);
        ::close(err);
        out = err = -1;
        outFile.seek(0);
        errFile.seek(0);
    }

    QTemporaryFile outFile;
    QTemporaryFile errFile;
    int out;
    int err;
};
