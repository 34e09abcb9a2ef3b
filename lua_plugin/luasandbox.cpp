#include "luasandbox.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstring>

namespace {

lua_CFunction debugSetUpvalue = nullptr;
lua_CFunction debugSetEnvironment = nullptr;

int guardedSetUpvalue(lua_State* ls)
{
    if (lua_iscfunction(ls, 1))
        return luaL_argerror(ls, 1, "the upvalues of a C function cannot be changed");
    return debugSetUpvalue(ls);
}

int guardedSetEnvironment(lua_State* ls)
{
    if (lua_type(ls, 1) == LUA_TUSERDATA || lua_iscfunction(ls, 1))
        return luaL_argerror(ls, 1, "the environment of a userdata or C function cannot be changed");
    return debugSetEnvironment(ls);
}

// Raises the sandbox's refusal for the function named in its upvalue.
int refuseInSandbox(lua_State* ls)
{
    return luaL_error(ls, "%s is not available to scripts (sandbox in [Limits] of luaconfig.ini)",
                      lua_tostring(ls, lua_upvalueindex(1)));
}

void pushRefusal(lua_State* ls, const char* name)
{
    lua_pushstring(ls, name);                 // name
    lua_pushcclosure(ls, refuseInSandbox, 1); // refusal
}

// table.field = the refusal, when the table exists.
void refuse(lua_State* ls, const char* table, const char* field)
{
    lua_getglobal(ls, table); // table?
    if (lua_istable(ls, -1)) {
        lua_pushfstring(ls, "%s.%s", table, field);   // table, name
        pushRefusal(ls, lua_tostring(ls, -1));        // table, name, refusal
        lua_setfield(ls, -3, field);                  // table, name
        lua_pop(ls, 1);                               // table
    }
    lua_pop(ls, 1); // (empty)
}

// A package.loaders entry: explains, in require's list of places tried, why a native
// module was not looked for.
int nativeModulesRefused(lua_State* ls)
{
    lua_pushliteral(ls, "\n\tnative modules are not available to scripts (sandbox in [Limits] of luaconfig.ini)");
    return 1;
}

// The default input becomes the null device, so io.read and io.lines() find it empty
// instead of waiting on the client's standard input.
void emptyDefaultInput(lua_State* ls)
{
    lua_getglobal(ls, "io"); // io
    if (!lua_istable(ls, -1)) {
        lua_pop(ls, 1);
        return;
    }
    lua_getfield(ls, -1, "input");    // io, input
    lua_pushliteral(ls, "/dev/null"); // io, input, path
    if (lua_pcall(ls, 1, 1, 0) == 0)  // io, file or message
        lua_setfield(ls, -2, "stdin"); // io
    else
        lua_pop(ls, 1); // io: without a null device the input stays as it was
    lua_pop(ls, 1);     // (empty)
}

} // namespace

void guardDebugLibrary(lua_State* ls)
{
    lua_getglobal(ls, "debug"); // debug
    if (lua_istable(ls, -1)) {
        lua_getfield(ls, -1, "setupvalue"); // debug, setupvalue
        debugSetUpvalue = lua_tocfunction(ls, -1);
        lua_getfield(ls, -2, "setfenv"); // debug, setupvalue, setfenv
        debugSetEnvironment = lua_tocfunction(ls, -1);
        lua_pop(ls, 2); // debug
        if (debugSetUpvalue) {
            lua_pushcfunction(ls, guardedSetUpvalue); // debug, guard
            lua_setfield(ls, -2, "setupvalue");       // debug
        }
        if (debugSetEnvironment) {
            lua_pushcfunction(ls, guardedSetEnvironment); // debug, guard
            lua_setfield(ls, -2, "setfenv");              // debug
        }
    }
    lua_pop(ls, 1); // (empty)
}

void installSandbox(lua_State* ls)
{
    refuse(ls, "os", "exit");
    refuse(ls, "os", "execute");
    refuse(ls, "io", "popen");
    refuse(ls, "package", "loadlib");
    pushRefusal(ls, "newproxy");    // refusal
    lua_setglobal(ls, "newproxy"); // (empty)

    lua_getglobal(ls, "debug"); // debug
    if (lua_istable(ls, -1)) {
        lua_pushnil(ls); // debug, nil
        while (lua_next(ls, -2) != 0) { // debug, name, value
            lua_pop(ls, 1);             // debug, name
            const char* name = lua_tostring(ls, -1);
            if (std::strcmp(name, "traceback") != 0 && std::strcmp(name, "getinfo") != 0) {
                lua_pushvalue(ls, -1);                         // debug, name, name
                lua_pushfstring(ls, "debug.%s", name);         // debug, name, name, full name
                pushRefusal(ls, lua_tostring(ls, -1));         // debug, name, name, full name, refusal
                lua_replace(ls, -2);                           // debug, name, name, refusal
                lua_rawset(ls, -4);                            // debug, name (an existing key: next goes on)
            }
        }
    }
    lua_pop(ls, 1); // (empty)

    // Native modules: the C loader and the all-in-one loader give way to an explanation.
    lua_getglobal(ls, "package"); // package
    if (lua_istable(ls, -1)) {
        lua_getfield(ls, -1, "loaders"); // package, loaders
        if (lua_istable(ls, -1)) {
            lua_pushcfunction(ls, nativeModulesRefused); // package, loaders, explanation
            lua_rawseti(ls, -2, 3);                      // package, loaders
            lua_pushnil(ls);                             // package, loaders, nil
            lua_rawseti(ls, -2, 4);                      // package, loaders
        }
        lua_pop(ls, 1); // package
    }
    lua_pop(ls, 1); // (empty)

    emptyDefaultInput(ls);
}
