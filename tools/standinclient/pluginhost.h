#pragma once

#include "eventexports.h"
#include "vx5functions.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>

// The client's side of the plug-in contract, for trying and testing the plug-in without
// the client: loads the library with dlopen, looks its exports up by name, hands it a
// 206-entry function table whose entries record every call, and calls its lifecycle and
// event exports. One host at a time: the table's entries are plain C functions and
// find the host through a global. Entries without an implementation of their own record
// "entry N" and return the error code set for them (ERROR_ok unless told otherwise).
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

    // Hands over the function table, registers the ID and calls init; init's result.
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

    // Every host-table call the plug-in made, as "name(arguments)" or "entry N".
    QStringList calls;
    // Error codes returned by the entries that have no implementation of their own.
    QMap<int, unsigned int> returnCodes;

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
