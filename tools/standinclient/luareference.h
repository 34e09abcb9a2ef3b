#pragma once

#include <QList>
#include <QString>

// A Lua function the plug-in calls: an event handler (or the menu handler), with the
// values Lua receives (the letters as callLuaFunction takes them) and their names.
struct LuaHandler
{
    const char* name;
    const char* format;     // argument letters, then ">" and result letters
    const char* parameters; // the names, comma-separated
    const char* summary;
};

// Every handler the plug-in calls, in the client's order of the event exports.
const QList<LuaHandler>& luaHandlers();

// The reference for script authors, in Markdown, made from the handler table and the
// vx5 function table; and the same as definitions for the Lua language server.
QString luaReference();
QString luaDefinitions();
// The text of the reference's section "What scripts get" (without its heading), made from
// the sandbox's table; README holds it too.
QString luaSandboxReference();
