#pragma once

#include "eventexports.h"
#include "vx5functions.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QSet>
#include <QString>
#include <QStringList>

#include <functional>

// What a faked host entry answers: its code and, on success, its output.
struct FakeResult
{
    unsigned int code = ERROR_ok;
    QByteArray text;     // a string output (path getters default to the plug-in folder)
    double number = 0;   // a number output or return value
    QList<quint64> list; // a list output
    bool nullOutput = false; // hand out a null string or list instead

    // A result written as "text:T", "number:N", "list:1,2,3" or "null" (empty: no output).
    static FakeResult parse(unsigned int code, const QByteArray& output);
};

// The client's side of the plug-in contract, for trying and testing the plug-in without
// the client: loads the library with dlopen, looks its exports up by name, hands it a
// 206-entry function table whose entries record every call, and calls its lifecycle and
// event exports. One host at a time: the table's entries are plain C functions and
// find the host through a global.
//
// Every entry the vx5 table uses is a typed fake made from the same description as the
// plug-in's bindings: it records "name(decoded arguments)" and answers with the result
// set for its position. Memory it hands out is kept in a ledger that freeMemory settles.
// Other entries record "entry N" and return the code set for them.
class PluginHost
{
public:
    // pluginFolder: what the path getters report; it ends with a separator.
    explicit PluginHost(const QByteArray& pluginFolder);
    // Shuts the plug-in down if it is running, then unloads it.
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    bool load(const QString& libraryPath);
    QString errorString() const { return lastError; }
    void* symbol(const char* name) const;

    // Hands over the function table, registers the ID (unless empty) and calls init;
    // init's result.
    int start(const QByteArray& pluginId = "vx5-standin");
    void shutdown();
    // Shut down and start again, as a client does when it reloads a plug-in.
    int restart();
    bool isRunning() const { return running; }

    // Calls an event export; false (with errorString()) when it is unknown or the values
    // do not fit its arguments.
    bool fireEvent(const QByteArray& name, const QList<HostValue>& values, int* result);
    // Hands a console line to the plug-in when it starts with "/" and its command keyword.
    bool consoleLine(std::uint64_t connection, const QByteArray& line, int* result);

    // Menus the plug-in declares (vx5plugin_initMenus), one "type id text icon" line each,
    // and the menu icon; the memory goes back through vx5plugin_freeMemory.
    bool initMenus(QStringList* items, QByteArray* icon);
    bool menuClick(std::uint64_t connection, int type, int menuId, std::uint64_t value, int* result);
    // Opens the plug-in's configuration (vx5plugin_configure) with the given parent widget.
    bool configure(void* parentWidget);

    // Every host-table call the plug-in made, as "name(arguments)" or "entry N".
    QStringList calls;
    // What the entries answer, by position (ERROR_ok and empty output unless set).
    QMap<int, FakeResult> results;
    // What the client does while the plug-in calls the entry at a position, before it
    // answers (runs its event loop, say, in which the user presses a button).
    QMap<int, std::function<void()>> whileCalled;
    // Memory the fakes handed out that has not come back through freeMemory, and
    // releases of memory that was not handed out.
    QSet<void*> outstanding;
    QStringList ledgerErrors;

    const VX5Functions& functionTable() const { return table; }

private:
    template <typename Function> Function resolve(const char* name) const
    {
        return reinterpret_cast<Function>(symbol(name));
    }

    QByteArray folder;
    void* library = nullptr;
    VX5Functions table{};
    bool running = false;
    QString lastError;
};
