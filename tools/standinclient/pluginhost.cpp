#include "pluginhost.h"

#include "vx5hostapi.h"

#include <QDir>
#include <QFile>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <tuple>
#include <type_traits>
#include <utility>

namespace {

using namespace vx5api;

PluginHost* currentHost = nullptr;
QByteArray currentFolder;

void record(const QString& call)
{
    if (currentHost)
        currentHost->calls.append(call);
}

FakeResult resultFor(int entry)
{
    if (currentHost && currentHost->results.contains(entry))
        return currentHost->results.value(entry);
    FakeResult result;
    if (entry >= 178 && entry <= 181) // the path getters report the plug-in folder
        result.text = currentFolder;
    return result;
}

void* handOut(std::size_t size)
{
    void* memory = std::malloc(size);
    if (currentHost)
        currentHost->outstanding.insert(memory);
    return memory;
}

void hostFreeMemory(void* pointer)
{
    record(QStringLiteral("freeMemory"));
    if (currentHost && pointer && !currentHost->outstanding.remove(pointer)) {
        currentHost->ledgerErrors << QStringLiteral("freeMemory of memory the client did not hand out");
        return; // freeing it could corrupt the heap
    }
    std::free(pointer);
}

// The sub-folders of a folder, one a line, as the client's getDirectories lists them.
QByteArray subfolders(const char* path)
{
    const QStringList names = QDir(QFile::decodeName(path)).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name);
    return QFile::encodeName(names.join(QLatin1Char('\n')));
}

QString quoted(const char* text)
{
    return text ? QLatin1Char('"') + QString::fromUtf8(text) + QLatin1Char('"') : QStringLiteral("null");
}

template <typename Item>
QString listText(const Item* items)
{
    if (!items)
        return QStringLiteral("null");
    QStringList shown;
    for (int n = 0; items[n] != 0; ++n)
        shown << QString::number(items[n]);
    return QLatin1Char('{') + shown.join(QLatin1String(", ")) + QLatin1Char('}');
}

// An argument as the call record shows it; outputs show as "out".
template <P Kind, typename Value>
QString argumentText(Value value)
{
    if constexpr (Kind == Str || Kind == Tag || Kind == PluginId) {
        return quoted(value);
    } else if constexpr (Kind == List64 || Kind == List16) {
        return listText(value);
    } else if constexpr (Kind == Names) {
        QStringList shown;
        for (int n = 0; value && value[n] && value[n][0]; ++n)
            shown << quoted(value[n]);
        return QLatin1Char('{') + shown.join(QLatin1String(", ")) + QLatin1Char('}');
    } else if constexpr (isOutput(Kind)) {
        return QStringLiteral("out");
    } else {
        return QString::number(value);
    }
}

// Fills output I from the result; the buffer of a BufPtr is as large as the next argument says.
template <std::size_t Row, std::size_t I, typename Arguments>
void fillOutput(Arguments& arguments, const FakeResult& result)
{
    constexpr P kind = hostFunctions[Row].params[I];
    auto& argument = std::get<I>(arguments);
    if constexpr (kind == OutStr) {
        if (result.nullOutput) {
            *argument = nullptr;
            return;
        }
        *argument = static_cast<char*>(handOut(std::size_t(result.text.size()) + 1));
        std::memcpy(*argument, result.text.constData(), std::size_t(result.text.size()) + 1);
    } else if constexpr (kind == OutList64 || kind == OutList16) {
        using Item = std::remove_pointer_t<std::remove_pointer_t<std::remove_reference_t<decltype(argument)>>>;
        if (result.nullOutput) {
            *argument = nullptr;
            return;
        }
        auto* items = static_cast<Item*>(handOut((std::size_t(result.list.size()) + 1) * sizeof(Item)));
        for (int n = 0; n < result.list.size(); ++n)
            items[n] = Item(result.list.at(n));
        items[result.list.size()] = 0;
        *argument = items;
    } else if constexpr (kind == BufPtr) {
        const std::size_t size = std::get<I + 1>(arguments);
        if (size > 0)
            std::snprintf(argument, size, "%s", result.text.constData());
    } else if constexpr (isOutput(kind)) {
        *argument = std::remove_pointer_t<std::remove_reference_t<decltype(argument)>>(result.number);
    }
}

// The fake of one host entry of the vx5 table, with the entry's own C signature.
template <std::size_t Row, typename Index = std::make_index_sequence<paramCount(hostFunctions[Row])>>
struct Fake;
template <std::size_t Row, std::size_t... I>
struct Fake<Row, std::index_sequence<I...>>
{
    static typename Signature<Row>::Return call(typename CType<hostFunctions[Row].params[I]>::type... values)
    {
        constexpr const HostFunction& function = hostFunctions[Row];
        QStringList shown;
        (void)(shown << ... << argumentText<function.params[I]>(values));
        record(QLatin1String(function.name) + QLatin1Char('(') + shown.join(QLatin1String(", ")) + QLatin1Char(')'));
        if (currentHost && currentHost->whileCalled.contains(function.entry))
            currentHost->whileCalled.value(function.entry)();
        FakeResult result = resultFor(function.entry);
        if constexpr (function.entry == 187) { // getDirectories: a client lists the folder
            if (!currentHost || !currentHost->results.contains(187))
                result.text = subfolders(std::get<0>(std::forward_as_tuple(values...)));
        }
        auto arguments = std::forward_as_tuple(values...);
        if (result.code == ERROR_ok)
            (fillOutput<Row, I>(arguments, result), ...);
        if constexpr (function.entry == 184) {
            std::printf("[current tab] %s\n", std::get<0>(arguments));
            std::fflush(stdout);
        }
        if constexpr (function.returns == R::Code)
            return result.code;
        else if constexpr (function.returns == R::U64)
            return std::uint64_t(result.number);
    }
};

template <std::size_t... Row>
void installFakes(void** entries, std::index_sequence<Row...>)
{
    ((entries[hostFunctions[Row].entry] = reinterpret_cast<void*>(&Fake<Row>::call)), ...);
}

// Stands in for every entry the host has no implementation for: records the call by
// position and returns the configured code. Arguments are not looked at.
template <int Entry>
unsigned int unimplementedEntry()
{
    record(QStringLiteral("entry %1").arg(Entry));
    return resultFor(Entry).code;
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
    void* entries[tableEntries];
    std::memcpy(entries, &table, sizeof table);
    installFakes(entries, std::make_index_sequence<hostFunctionCount>{});
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
    auto registerId = resolve<void (*)(const char*)>("vx5plugin_registerPluginID");
    if (registerId && !pluginId.isEmpty())
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

FakeResult FakeResult::parse(unsigned int code, const QByteArray& output)
{
    FakeResult result;
    result.code = code;
    if (output == "null")
        result.nullOutput = true;
    else if (output.startsWith("text:"))
        result.text = output.mid(5);
    else if (output.startsWith("number:"))
        result.number = output.mid(7).toDouble();
    else if (output.startsWith("list:"))
        for (const QByteArray& item : output.mid(5).split(','))
            result.list << item.toULongLong();
    return result;
}

bool PluginHost::initMenus(QStringList* items, QByteArray* icon)
{
    const auto init = resolve<void (*)(MenuItem***, char**)>("vx5plugin_initMenus");
    const auto release = resolve<void (*)(void*)>("vx5plugin_freeMemory");
    if (!init || !release) {
        lastError = QStringLiteral("the plug-in offers no menus");
        return false;
    }
    MenuItem** list = nullptr;
    char* iconText = nullptr;
    init(&list, &iconText);
    for (int n = 0; list && list[n]; ++n) {
        *items << QStringLiteral("%1 %2 %3 %4")
                      .arg(QString::number(list[n]->type), QString::number(list[n]->id),
                           QString::fromUtf8(list[n]->text), QString::fromUtf8(list[n]->icon));
        release(list[n]);
    }
    release(list);
    *icon = iconText ? QByteArray(iconText) : QByteArray();
    release(iconText);
    return true;
}

bool PluginHost::menuClick(std::uint64_t connection, int type, int menuId, std::uint64_t value, int* result)
{
    const auto click = resolve<int (*)(std::uint64_t, int, int, std::uint64_t)>("vx5plugin_onMenuItemEvent");
    if (!click) {
        lastError = QStringLiteral("the plug-in offers no menus");
        return false;
    }
    *result = click(connection, type, menuId, value);
    return true;
}

bool PluginHost::configure(void* parentWidget)
{
    const auto offers = resolve<int (*)()>("vx5plugin_offersConfigure");
    const auto open = resolve<void (*)(void*, void*)>("vx5plugin_configure");
    if (!offers || !open || offers() == 0) {
        lastError = QStringLiteral("the plug-in offers no configuration");
        return false;
    }
    open(nullptr, parentWidget);
    return true;
}
