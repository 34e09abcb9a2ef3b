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

// "answer ENTRY CODE [OUTPUT]": what the client function at ENTRY answers from now on.
void HostCommands::setAnswer(const QByteArray& text)
{
    const QList<QByteArray> words = text.split(' ');
    bool entryOk = false;
    bool codeOk = false;
    const int entry = words.value(0).toInt(&entryOk);
    const uint code = words.value(1).toUInt(&codeOk);
    if (!entryOk || !codeOk || entry < 0 || entry >= 206) {
        fail(QStringLiteral("answer takes a table position (0-205), a code and an output"));
        return;
    }
    const QByteArray output = text.mid(words.value(0).size() + words.value(1).size() + 2);
    host.results.insert(entry, FakeResult::parse(code, output));
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
    } else if (command == "menus") {
        QStringList items;
        QByteArray icon;
        if (!host.initMenus(&items, &icon)) {
            fail(host.errorString());
            return true;
        }
        output(QStringLiteral("menu icon: %1").arg(QString::fromUtf8(icon)));
        for (const QString& item : std::as_const(items))
            output(QStringLiteral("menu item: ") + item);
    } else if (command == "menu") {
        const QList<QByteArray> words = rest.split(' ');
        int result = 0;
        if (words.size() != 2)
            fail(QStringLiteral("menu takes a type and a menu ID"));
        else if (host.menuClick(1, words.at(0).toInt(), words.at(1).toInt(), 0, &result))
            output(QStringLiteral("onMenuItemEvent -> %1").arg(result));
        else
            fail(host.errorString());
    } else if (command == "configure") {
        if (!host.configure(nullptr))
            fail(host.errorString());
    } else if (command == "answer") {
        setAnswer(rest);
    } else if (command == "ledger") {
        output(QStringLiteral("memory handed out and not released: %1 block(s)").arg(host.outstanding.size()));
        for (const QString& error : std::as_const(host.ledgerErrors))
            output(QStringLiteral("ledger error: ") + error);
    } else if (command == "help") {
        output(QStringLiteral("commands: event NAME ARG..., console /lua ..., menus, menu TYPE ID, configure, "
                              "answer ENTRY CODE [text:T | number:N | list:1,2 | null], ledger, start, shutdown, "
                              "restart, calls, events, help, quit"));
    } else if (command == "quit") {
        return false;
    } else {
        fail(QStringLiteral("unknown command: %1").arg(QString::fromUtf8(command)));
    }
    return true;
}
