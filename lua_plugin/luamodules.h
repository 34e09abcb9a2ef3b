#pragma once

// The plug-in's settings file, luaconfig.ini in the client's configuration folder, and
// the Lua modules: folders of the plug-in's "lua_plugin" folder that hold an "init.lua".
// The module dialog and the loader both use these, so what the dialog lists and switches
// is exactly what loads.

#include <QMap>
#include <QString>
#include <QStringList>

#include "luahelpers.h"

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
// timeLimitMs of [Limits]: the time limit of every call into Lua; 0 for none.
int configuredTimeLimitMs();

// Runs the init.lua of every module that is on, each as a call of its own (with its own
// time limit), and keeps what it returns in the global table "modules" under the module's
// name (true when it returns nothing). Prints a line per module.
void loadLuaModules();
