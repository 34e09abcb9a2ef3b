#pragma once

// The plug-in's settings file, luaconfig.ini in the client's configuration folder, and
// the Lua modules: folders of the plug-in's "lua_plugin" folder that hold an "init.lua".
// The module dialog and the loader both use these, so what the dialog lists and switches
// is exactly what loads.

#include <QMap>
#include <QString>
#include <QStringList>

#include "luahelpers.h"
#include "lualimits.h"

// The settings array of the module choices in luaconfig.ini.
inline const QString luaModulesGroup = QStringLiteral("Modules");

// A folder the host reports (ending in a separator), or "" when it does not fit a path
// buffer: a cut path would name another folder.
QString hostFolderPath(HostPathGetter getter);
// Empty when the client's configuration path does not fit.
QString luaConfigFilePath();
// The module folders, in the order the file system lists them.
QStringList luaModuleNames();
// The choices of the [Modules] array (name → on). Only the elements present are read,
// whatever size the file claims.
QMap<QString, bool> storedModuleChoices();
// [Limits] of luaconfig.ini: timeLimitMs, memoryMB and sandbox; a value that is no
// number (or no boolean) keeps its default, with a line on standard output.
LuaLimits configuredLuaLimits();

// Runs the init.lua of every module that is on and keeps what it returns in the global
// table "modules" under the module's name (true when it returns nothing). A module the
// events script already put there is not loaded again. Modules share the start-up's time
// limit: once it is used up, the rest are not loaded. Prints a line per module.
void loadLuaModules();
