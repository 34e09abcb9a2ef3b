#pragma once

#include "pluginhost.h"

#include <functional>

// The stand-in client's command language, one command per line:
//   event NAME ARG...   call an event export (NAME with or without "vx5plugin_");
//                       strings in double quotes, nil for a null string
//   console /lua ...    hand a console line to the plug-in
//   menus               ask the plug-in for its menus (createMenus) and list them
//   menu TYPE ID        click a menu item
//   configure           open the plug-in's module dialog
//   answer ENTRY CODE [text:T | number:N | list:1,2 | null]
//                       what the client function at that table position answers
//   ledger              memory the client handed out that the plug-in did not release
//   start | shutdown | restart
//   calls               print and forget the host-table calls made so far
//   events              list the event exports and their argument letters
//   help | quit
// Blank lines and lines starting with "#" are skipped.
class HostCommands
{
public:
    using Output = std::function<void(const QString&)>;

    HostCommands(PluginHost& host, Output output);

    // Runs one line; false once "quit" was given.
    bool run(const QByteArray& line);
    int failures() const { return failed; }

    // Splits arguments at blanks; "double quoted" text may hold blanks, \" and \\.
    static QList<HostValue> tokenize(const QByteArray& text, QString* error);

private:
    void fail(const QString& text);
    void setAnswer(const QByteArray& text);

    PluginHost& host; // not owned
    Output output;
    int failed = 0;
};
