#include "pluginhost.h"

#include <QFile>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

PluginHost* currentHost = nullptr;
QByteArray currentFolder;

void record(const QString& call)
{
    if (currentHost)
        currentHost->calls.append(call);
}

void hostFreeMemory(void* pointer)
{
    record(QStringLiteral("freeMemory"));
    std::free(pointer);
}

void writePath(const char* getter, char* buffer, std::size_t size)
{
    record(QStringLiteral("%1(%2)").arg(QLatin1String(getter)).arg(size));
    if (size == 0)
        return;
    std::snprintf(buffer, size, "%s", currentFolder.constData());
}

void hostGetAppPath(char* buffer, std::size_t size) { writePath("getAppPath", buffer, size); }
void hostGetResourcesPath(char* buffer, std::size_t size) { writePath("getResourcesPath", buffer, size); }
void hostGetConfigPath(char* buffer, std::size_t size) { writePath("getConfigPath", buffer, size); }
void hostGetPluginPath(char* buffer, std::size_t size) { writePath("getPluginPath", buffer, size); }

void hostPrintMessageToCurrentTab(const char* message)
{
    record(QStringLiteral("printMessageToCurrentTab(%1)").arg(QString::fromUtf8(message)));
    std::printf("[current tab] %s\n", message);
    std::fflush(stdout);
}

// Stands in for every entry the host has no implementation for: records the call by
// position and returns the configured code. Arguments are not looked at.
template <int Entry>
unsigned int unimplementedEntry()
{
    record(QStringLiteral("entry %1").arg(Entry));
    return currentHost ? currentHost->returnCodes.value(Entry, ERROR_ok) : ERROR_ok;
}

constexpr int tableEntries = sizeof(VX5Functions) / sizeof(void*);

template <std::size_t... Entry>
void fillUnimplemented(void** entries, std::index_sequence<Entry...>)
{
    void* const stand_ins[] = {reinterpret_cast<void*>(&unimplementedEntry<int(Entry)>)...};
    for (int n = 0; n < tableEntries; ++n) {
        if (!entries[n])
            entries[n] = stand_ins[n];
    }
}

} // namespace

PluginHost::PluginHost(const QByteArray& pluginFolder) : folder(pluginFolder)
{
    table.freeMemory = hostFreeMemory;
    table.getAppPath = hostGetAppPath;
    table.getResourcesPath = hostGetResourcesPath;
    table.getConfigPath = hostGetConfigPath;
    table.getPluginPath = hostGetPluginPath;
    table.printMessageToCurrentTab = hostPrintMessageToCurrentTab;
    void* entries[tableEntries];
    std::memcpy(entries, &table, sizeof table);
    fillUnimplemented(entries, std::make_index_sequence<tableEntries>{});
    std::memcpy(&table, entries, sizeof table);
    currentHost = this;
    currentFolder = folder;
}

PluginHost::~PluginHost()
{
    if (running)
        shutdown();
    if (library)
        dlclose(library);
    if (currentHost == this)
        currentHost = nullptr;
}

bool PluginHost::load(const QString& libraryPath)
{
    library = dlopen(QFile::encodeName(libraryPath).constData(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        lastError = QString::fromLocal8Bit(dlerror());
        return false;
    }
    for (const char* name : {"vx5plugin_name", "vx5plugin_version", "vx5plugin_apiVersion", "vx5plugin_author",
                             "vx5plugin_description", "vx5plugin_setFunctionPointers", "vx5plugin_init",
                             "vx5plugin_shutdown"}) {
        if (!symbol(name)) {
            lastError = QStringLiteral("the plug-in lacks the export %1").arg(QLatin1String(name));
            return false;
        }
    }
    return true;
}

void* PluginHost::symbol(const char* name) const
{
    return library ? dlsym(library, name) : nullptr;
}

int PluginHost::start(const QByteArray& pluginId)
{
    resolve<void (*)(const VX5Functions)>("vx5plugin_setFunctionPointers")(table);
    if (auto registerId = resolve<void (*)(const char*)>("vx5plugin_registerPluginID"))
        registerId(pluginId.constData());
    running = true;
    return resolve<int (*)()>("vx5plugin_init")();
}

void PluginHost::shutdown()
{
    resolve<void (*)()>("vx5plugin_shutdown")();
    running = false;
}

int PluginHost::restart()
{
    shutdown();
    return start();
}

bool PluginHost::fireEvent(const QByteArray& name, const QList<HostValue>& values, int* result)
{
    const EventExport* event = findEventExport(name);
    if (!event) {
        lastError = QStringLiteral("no event export named %1").arg(QString::fromUtf8(name));
        return false;
    }
    void* function = symbol(event->name);
    if (!function) {
        lastError = QStringLiteral("the plug-in lacks the export %1").arg(QLatin1String(event->name));
        return false;
    }
    const QString problem = checkValues(*event, values);
    if (!problem.isEmpty()) {
        lastError = problem;
        return false;
    }
    *result = event->invoke(function, values);
    return true;
}

bool PluginHost::consoleLine(std::uint64_t connection, const QByteArray& line, int* result)
{
    const auto keyword = resolve<const char* (*)()>("vx5plugin_commandKeyword");
    const auto process = resolve<int (*)(std::uint64_t, const char*)>("vx5plugin_processCommand");
    if (!keyword || !process) {
        lastError = QStringLiteral("the plug-in offers no console command");
        return false;
    }
    const QByteArray prefix = QByteArray("/") + keyword();
    if (!line.startsWith(prefix) || (line.size() > prefix.size() && line.at(prefix.size()) != ' ')) {
        lastError = QStringLiteral("not a command of this plug-in: %1").arg(QString::fromUtf8(line));
        return false;
    }
    *result = process(connection, line.mid(prefix.size()).trimmed().constData());
    return true;
}
