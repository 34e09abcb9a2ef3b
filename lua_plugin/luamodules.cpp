#include "luamodules.h"

#include "luafiles.h"
#include "luahelpers.h"
#include "luaboundedlib.h"
#include "luatimelimit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <algorithm>
#include <cstdio>

namespace {

const QString configFile = QStringLiteral("luaconfig.ini");

QString modulesFolder()
{
    const QString plugins = hostFolderPath(vx5Functions.getPluginPath);
    return plugins.isEmpty() ? QString() : plugins + QLatin1String("lua_plugin/");
}

// One module to load: its init.lua and its name, as bytes.
struct ModuleLoad
{
    const char* path;
    const char* name;
    std::size_t nameLength;
    bool alreadyLoaded; // set when "modules" already holds the name
};

// Protected: makes the global table "modules" when there is none.
int makeModulesTable(lua_State* ls)
{
    takeCallData(ls, makeModulesTable);
    lua_getglobal(ls, "modules"); // modules?
    if (!lua_istable(ls, -1)) {
        lua_newtable(ls);            // ?, modules
        lua_setglobal(ls, "modules"); // ?
    }
    return 0;
}

// Protected: runs one module's init.lua and keeps its result in "modules".
int loadModuleProtected(lua_State* ls)
{
    auto* module = static_cast<ModuleLoad*>(takeCallData(ls, loadModuleProtected));
    lua_getglobal(ls, "modules");                          // modules
    lua_pushlstring(ls, module->name, module->nameLength); // modules, name
    lua_gettable(ls, -2);                                  // modules, loaded?
    module->alreadyLoaded = !lua_isnil(ls, -1);
    lua_pop(ls, 1); // modules
    if (module->alreadyLoaded)
        return 0;
    loadBoundedFile(ls, module->path); // modules, chunk
    lua_call(ls, 0, 1);                // modules, result
    if (lua_isnil(ls, -1)) {
        lua_pop(ls, 1);          // modules
        lua_pushboolean(ls, 1); // modules, true
    }
    lua_pushlstring(ls, module->name, module->nameLength); // modules, result, name
    lua_insert(ls, -2);                                    // modules, name, result
    lua_settable(ls, -3);                                  // modules
    return 0;
}

// The module folders in folder, as the file system lists them. The scripts' data folder
// holds what scripts write, never a module.
QStringList moduleNamesIn(const QString& folder)
{
    if (folder.isEmpty())
        return {};
    const QDir modules(folder);
    QStringList names;
    for (const QString& name : modules.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Unsorted)) {
        if (name != QLatin1String(scriptDataFolder) && QFileInfo(modules.filePath(name + QLatin1String("/init.lua"))).isFile())
            names << name;
    }
    return names;
}

} // namespace

QString hostFolderPath(HostPathGetter getter)
{
    char path[hostPathSize];
    return getHostPath(getter, path) ? QFile::decodeName(path) : QString();
}

QString luaConfigFilePath()
{
    const QString config = hostFolderPath(vx5Functions.getConfigPath);
    return config.isEmpty() ? QString() : config + configFile;
}

QStringList luaModuleNames()
{
    return moduleNamesIn(modulesFolder());
}

QMap<QString, bool> storedModuleChoices()
{
    QMap<QString, bool> choices;
    const QString path = luaConfigFilePath();
    if (path.isEmpty())
        return choices;
    // The array's elements are the groups "1", "2", ... up to its size; the size alone
    // is not trusted (a corrupt file may claim two billion).
    QSettings settings(path, QSettings::IniFormat);
    settings.beginGroup(luaModulesGroup);
    const int size = settings.value(QStringLiteral("size")).toInt();
    QList<int> elements;
    for (const QString& group : settings.childGroups()) {
        bool ok = false;
        const int index = group.toInt(&ok);
        if (ok && index >= 1 && index <= size && group == QString::number(index))
            elements << index;
    }
    std::sort(elements.begin(), elements.end());
    for (const int index : std::as_const(elements)) {
        const QString element = QString::number(index) + QLatin1Char('/');
        const QString on = settings.value(element + QLatin1String("on")).toString();
        const QString off = settings.value(element + QLatin1String("off")).toString();
        if (!on.isEmpty())
            choices.insert(on, true);
        else if (!off.isEmpty())
            choices.insert(off, false);
    }
    return choices;
}

namespace {

// A whole number of at least 0 from [Limits], or the default with a line saying why.
int limitSetting(const QSettings& settings, const char* key, int defaultValue)
{
    const QVariant value = settings.value(QLatin1String("Limits/") + QLatin1String(key));
    if (!value.isValid())
        return defaultValue;
    bool ok = false;
    const int number = value.toString().trimmed().toInt(&ok);
    if (ok && number >= 0)
        return number;
    std::printf("LUA_PLUGIN: %s in [Limits] of %s is no whole number; it is %d\n", key,
                qPrintable(settings.fileName()), defaultValue);
    return defaultValue;
}

bool switchSetting(const QSettings& settings, const char* key, bool defaultValue)
{
    const QVariant value = settings.value(QLatin1String("Limits/") + QLatin1String(key));
    if (!value.isValid())
        return defaultValue;
    const QString text = value.toString().trimmed().toLower();
    for (const char* yes : {"true", "1", "yes", "on"}) {
        if (text == QLatin1String(yes))
            return true;
    }
    for (const char* no : {"false", "0", "no", "off"}) {
        if (text == QLatin1String(no))
            return false;
    }
    std::printf("LUA_PLUGIN: %s in [Limits] of %s is \"%s\", neither true nor false (true, yes, on, 1 / false, "
                "no, off, 0); it is %s\n",
                key, qPrintable(settings.fileName()), qPrintable(value.toString()), defaultValue ? "true" : "false");
    return defaultValue;
}

} // namespace

LuaLimits configuredLuaLimits()
{
    LuaLimits limits;
    const QString path = luaConfigFilePath();
    if (path.isEmpty())
        return limits;
    const QSettings settings(path, QSettings::IniFormat);
    limits.timeLimitMs = limitSetting(settings, "timeLimitMs", limits.timeLimitMs);
    limits.memoryMB = limitSetting(settings, "memoryMB", limits.memoryMB);
    limits.sandbox = switchSetting(settings, "sandbox", limits.sandbox);
    return limits;
}

void loadLuaModules()
{
    lua_State* const state = L;
    if (!state)
        return;
    const int top = lua_gettop(state);
    enterClientCall();
    const bool made = callInProtection(state, makeModulesTable, state) == 0; // no data: the state stands in
    lua_settop(state, top);
    if (!made) {
        leaveClientCall();
        return;
    }

    const QString folder = modulesFolder();
    const QMap<QString, bool> choices = storedModuleChoices();
    for (const QString& name : moduleNamesIn(folder)) {
        if (!choices.value(name, true)) // a module nobody switched off is on
            continue;
        const QByteArray path = QFile::encodeName(folder + name + QLatin1String("/init.lua"));
        const QByteArray key = QFile::encodeName(name);
        if (timeIsUp()) {
            std::printf("Lua: module %s not loaded: the start-up time limit was used up\n", key.constData());
            continue;
        }
        ModuleLoad module{path.constData(), key.constData(), std::size_t(key.size()), false};
        char numberText[numberTextSize];
        if (callInProtection(state, loadModuleProtected, &module) != 0)
            std::printf("Lua: module %s failed: %.*s\n", key.constData(), errorTextLength,
                        errorText(state, -1, numberText));
        else if (module.alreadyLoaded)
            std::printf("Lua: module %s was already loaded by the events script\n", key.constData());
        else
            std::printf("Lua: module %s loaded\n", key.constData());
        lua_settop(state, top);
    }
    leaveClientCall();
}
