#include "hostcommands.h"

HostCommands::HostCommands(PluginHost& host, Output output) : host(host), output(std::move(output)) {}

QList<HostValue> HostCommands::tokenize(const QByteArray& text, QString* error)
{
    QList<HostValue> values;
    int at = 0;
    const int size = int(text.size());
    while (at < size) {
        if (text.at(at) == ' ' || text.at(at) == '\t') {
            ++at;
            continue;
        }
        HostValue value;
        if (text.at(at) != '"') {
            const int start = at;
            while (at < size && text.at(at) != ' ' && text.at(at) != '\t')
                ++at;
            value.text = text.mid(start, at - start);
            value.isNil = value.text == "nil";
            values.append(value);
            continue;
        }
        ++at; // opening quote
        bool closed = false;
        while (at < size) {
            const char c = text.at(at++);
            if (c == '"') {
                closed = true;
                break;
            }
            if (c == '\\' && at < size) {
                const char escaped = text.at(at++);
                value.text.append(escaped == 'n' ? '\n' : escaped);
            } else {
                value.text.append(c);
            }
        }
        if (!closed) {
            *error = QStringLiteral("unterminated string");
            return {};
        }
        values.append(value);
    }
    return values;
}

void HostCommands::fail(const QString& text)
{
    ++failed;
    output(QStringLiteral("error: ") + text);
}

bool HostCommands::run(const QByteArray& rawLine)
{
    const QByteArray line = rawLine.trimmed();
    if (line.isEmpty() || line.startsWith('#'))
        return true;
    const int blank = line.indexOf(' ');
    const QByteArray command = blank < 0 ? line : line.left(blank);
    const QByteArray rest = blank < 0 ? QByteArray() : line.mid(blank + 1).trimmed();

    if (command == "event") {
        QString error;
        QList<HostValue> values = tokenize(rest, &error);
        if (!error.isEmpty() || values.isEmpty()) {
            fail(error.isEmpty() ? QStringLiteral("event needs a name") : error);
            return true;
        }
        const QByteArray name = values.takeFirst().text;
        int result = 0;
        if (host.fireEvent(name, values, &result))
            output(QStringLiteral("%1 -> %2").arg(QString::fromUtf8(name)).arg(result));
        else
            fail(host.errorString());
    } else if (command == "console") {
        int result = 0;
        if (host.consoleLine(1, rest, &result))
            output(QStringLiteral("console -> %1").arg(result));
        else
            fail(host.errorString());
    } else if (command == "start") {
        output(QStringLiteral("init -> %1").arg(host.start()));
    } else if (command == "shutdown") {
        host.shutdown();
    } else if (command == "restart") {
        output(QStringLiteral("init -> %1").arg(host.restart()));
    } else if (command == "calls") {
        for (const QString& call : std::as_const(host.calls))
            output(QStringLiteral("call ") + call);
        host.calls.clear();
    } else if (command == "events") {
        for (const EventExport& event : eventExports())
            output(QStringLiteral("%1 %2").arg(QLatin1String(event.name), QLatin1String(event.letters)));
    } else if (command == "help") {
        output(QStringLiteral("commands: event NAME ARG..., console /lua ..., start, shutdown, restart, calls, "
                              "events, help, quit"));
    } else if (command == "quit") {
        return false;
    } else {
        fail(QStringLiteral("unknown command: %1").arg(QString::fromUtf8(command)));
    }
    return true;
}
