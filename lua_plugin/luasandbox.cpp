#include "luasandbox.h"

#include "luaboundedlib.h"
#include "luafiles.h"
#include "lualimits.h"
#include "luapatternguard.h"
#include "luasandboxtable.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <array>
#include <cstring>
#include <string_view>
#include <utility>

// Lua is used as its C build: these functions raise Lua errors (longjmp) and hold no objects
// with destructors.

namespace {

enum class Source { Library, Checked, Bound, Sandboxed, Made };
enum class Made { none, globals, later, lock, fileMethods, loaded, newTable, stringLibrary };

struct Row
{
    const char* name;
    Source source;
    lua_CFunction function;
    Made made;
};

#define LIBRARY Source::Library, nullptr, Made::none
#define CHECKED Source::Checked, nullptr, Made::none
#define BOUND(function) Source::Bound, function, Made::none
#define SANDBOXED(function) Source::Sandboxed, function, Made::none
#define MADE(what) Source::Made, nullptr, Made::what
#define VX5_ROW(name, source, time, memory, reach) Row{name, source},
#define VX5_ROW_NAME(name, source, time, memory, reach)
#define VX5_REFUSED_NAME(name, why) name,
#define VX5_NO_REFUSAL(name, why)

constexpr Row rows[] = {VX5_SANDBOX_ROWS(VX5_ROW, VX5_NO_REFUSAL)};
constexpr const char* refusedNames[] = {VX5_SANDBOX_ROWS(VX5_ROW_NAME, VX5_REFUSED_NAME)};
constexpr std::size_t rowCount = sizeof rows / sizeof rows[0];

constexpr char fileHandle[] = "FILE*"; // the io library's metatable name

bool sandboxOn = false;
lua_CFunction libraryGetInfo = nullptr;

// ---- CHECKED rows: Lua's own function, then a look at the clock.

lua_CFunction rowOriginals[rowCount] = {};

template <std::size_t Index>
int checkedAfter(lua_State* ls)
{
    const int results = rowOriginals[Index](ls);
    enforceTimeLimit(ls);
    return results;
}

template <std::size_t... Index>
constexpr std::array<lua_CFunction, rowCount> makeCheckedWrappers(std::index_sequence<Index...>)
{
    return {checkedAfter<Index>...};
}
constexpr auto checkedWrappers = makeCheckedWrappers(std::make_index_sequence<rowCount>{});

// ---- Where a row's name leads.

enum class Place { Global, Library, FileMethod, FileMeta, StringMeta };

struct Path
{
    Place place;
    const char* table;      // the library's name (Place::Library)
    std::size_t tableLength;
    const char* field;
};

Path splitName(const char* name)
{
    if (const char* colon = std::strchr(name, ':')) {
        const bool file = std::string_view(name, std::size_t(colon - name)) == "file";
        const bool meta = colon[1] == '_' && colon[2] == '_';
        return {file ? (meta ? Place::FileMeta : Place::FileMethod) : Place::StringMeta, nullptr, 0, colon + 1};
    }
    if (const char* dot = std::strchr(name, '.'))
        return {Place::Library, name, std::size_t(dot - name), dot + 1};
    return {Place::Global, nullptr, 0, name};
}

// The tables rows go to (absolute stack indices).
struct Target
{
    int globals;
    int fileMethods;
    int fileMeta;
    int stringMeta;
};

// Pushes the library table of that name, made in the globals when there is none yet.
void pushLibraryTable(lua_State* ls, const char* name, std::size_t length, int globals)
{
    lua_pushlstring(ls, name, length); // name
    lua_rawget(ls, globals);           // library?
    if (lua_istable(ls, -1))
        return;
    lua_pop(ls, 1);                    // (empty)
    lua_newtable(ls);                  // library
    lua_pushlstring(ls, name, length); // library, name
    lua_pushvalue(ls, -2);             // library, name, library
    lua_rawset(ls, globals);           // library
}

// Pushes the table a path's value goes to.
void pushContainer(lua_State* ls, const Path& path, const Target& target)
{
    switch (path.place) {
    case Place::Global: lua_pushvalue(ls, target.globals); return;
    case Place::FileMethod: lua_pushvalue(ls, target.fileMethods); return;
    case Place::FileMeta: lua_pushvalue(ls, target.fileMeta); return;
    case Place::StringMeta: lua_pushvalue(ls, target.stringMeta); return;
    case Place::Library: pushLibraryTable(ls, path.table, path.tableLength, target.globals); return;
    }
}

// Stores the value on top of the stack where the name leads, and pops it.
void storeAt(lua_State* ls, const char* name, const Target& target)
{
    const Path path = splitName(name);
    pushContainer(ls, path, target); // value, container
    lua_insert(ls, -2);              // container, value
    lua_setfield(ls, -2, path.field); // container
    lua_pop(ls, 1);                  // (empty)
}

// Pushes what the full library holds at the name (for file rows, the file metatable's).
void pushLibraryValue(lua_State* ls, const char* name, const Target& library)
{
    const Path path = splitName(name);
    if (path.place == Place::FileMethod || path.place == Place::FileMeta) {
        lua_getfield(ls, library.fileMeta, path.field);
        return;
    }
    if (path.place == Place::Library) {
        lua_pushlstring(ls, path.table, path.tableLength); // name
        lua_rawget(ls, library.globals);                    // library
        lua_getfield(ls, -1, path.field);                   // library, value
        lua_remove(ls, -2);                                 // value
        return;
    }
    lua_getfield(ls, library.globals, path.field);
}

int refuseInSandbox(lua_State* ls)
{
    return luaL_error(ls, "%s is not available to scripts (sandbox in [Limits] of luaconfig.ini)",
                      lua_tostring(ls, lua_upvalueindex(1)));
}

void clearTable(lua_State* ls, int table)
{
    lua_pushnil(ls);                   // key
    while (lua_next(ls, table) != 0) { // key, value
        lua_pop(ls, 1);                // key
        lua_pushvalue(ls, -1);         // key, key
        lua_pushnil(ls);               // key, key, nil
        lua_rawset(ls, table);         // key (clearing a field while traversing is allowed)
    }
}

void pushMadeValue(lua_State* ls, Made made, const Target& sandbox, int loaded)
{
    switch (made) {
    case Made::globals: lua_pushvalue(ls, sandbox.globals); return;
    case Made::lock: lua_pushboolean(ls, 0); return;
    case Made::fileMethods: lua_pushvalue(ls, sandbox.fileMethods); return;
    case Made::loaded: lua_pushvalue(ls, loaded); return;
    case Made::newTable: lua_newtable(ls); return;
    case Made::stringLibrary: pushLibraryTable(ls, "string", std::strlen("string"), sandbox.globals); return;
    case Made::none:
    case Made::later: lua_pushnil(ls); return;
    }
}

// Rows that take Lua's own function keep it for their wrapper.
void pushRowFunction(lua_State* ls, std::size_t index, const Target& library)
{
    if (rows[index].source != Source::Checked) {
        lua_pushcfunction(ls, rows[index].function);
        return;
    }
    pushLibraryValue(ls, rows[index].name, library);
    rowOriginals[index] = lua_tocfunction(ls, -1);
    lua_pop(ls, 1);
    lua_pushcfunction(ls, checkedWrappers[index]);
}

// New globals from the rows alone; the metatables of strings and files rebuilt and locked;
// package.loaded (also require's and luaL_register's) holding only what the globals hold.
void buildSandbox(lua_State* ls)
{
    const int base = lua_gettop(ls);
    lua_pushvalue(ls, LUA_GLOBALSINDEX); // library globals
    luaL_getmetatable(ls, fileHandle);   // ..., file metatable
    lua_pushliteral(ls, "");             // ..., file metatable, ""
    lua_getmetatable(ls, -1);            // ..., file metatable, "", string metatable
    lua_remove(ls, -2);                  // ..., file metatable, string metatable
    lua_newtable(ls);                    // ..., sandbox globals
    lua_newtable(ls);                    // ..., file methods
    lua_newtable(ls);                    // ..., file metatable fields to come
    lua_newtable(ls);                    // ..., loaded
    const Target library{base + 1, 0, base + 2, 0};
    const Target sandbox{base + 4, base + 5, base + 6, base + 3};
    const int loaded = base + 7;

    clearTable(ls, sandbox.stringMeta);
    for (std::size_t n = 0; n < rowCount; ++n) {
        const Row& row = rows[n];
        if (row.source == Source::Made && row.made == Made::later)
            continue;
        if (row.source == Source::Library)
            pushLibraryValue(ls, row.name, library);
        else if (row.source == Source::Made)
            pushMadeValue(ls, row.made, sandbox, loaded);
        else
            pushRowFunction(ls, n, library);
        storeAt(ls, row.name, sandbox);
    }
    for (const char* name : refusedNames) {
        lua_pushstring(ls, name);                 // name
        lua_pushcclosure(ls, refuseInSandbox, 1); // refusal
        storeAt(ls, name, sandbox);
    }

    // The files' metatable is the registry's, which every file holds: it is emptied and
    // takes the rows' fields.
    clearTable(ls, library.fileMeta);
    lua_pushnil(ls);                                 // key
    while (lua_next(ls, sandbox.fileMeta) != 0) {    // key, value
        lua_pushvalue(ls, -2);                       // key, value, key
        lua_insert(ls, -2);                          // key, key, value
        lua_rawset(ls, library.fileMeta);            // key
    }

    // package.loaded: the libraries the globals hold, and nothing of the full library.
    lua_pushnil(ls);                               // key
    while (lua_next(ls, sandbox.globals) != 0) {   // key, value
        if (lua_istable(ls, -1)) {
            lua_pushvalue(ls, -2);                 // key, value, key
            lua_insert(ls, -2);                    // key, key, value
            lua_rawset(ls, loaded);                // key
        } else {
            lua_pop(ls, 1);                        // key
        }
    }
    lua_pushvalue(ls, loaded);                     // ..., loaded
    lua_setfield(ls, LUA_REGISTRYINDEX, "_LOADED"); // ...
    lua_pushvalue(ls, sandbox.globals);            // ..., sandbox globals
    lua_replace(ls, LUA_GLOBALSINDEX);             // ...
    lua_settop(ls, base);
}

// ---- Without the sandbox: the library as Lua has it, with the bounded rows in place.

lua_CFunction debugSetUpvalue = nullptr;
lua_CFunction debugSetEnvironment = nullptr;
lua_CFunction debugGetEnvironment = nullptr;
lua_CFunction debugSetLocal = nullptr;

int guardedSetUpvalue(lua_State* ls)
{
    if (lua_iscfunction(ls, 1))
        return luaL_argerror(ls, 1, "the upvalues of a C function cannot be changed");
    return debugSetUpvalue(ls);
}

bool isUserdataOrCFunction(lua_State* ls, int index)
{
    return lua_type(ls, index) == LUA_TUSERDATA || lua_iscfunction(ls, index);
}

int guardedSetEnvironment(lua_State* ls)
{
    if (isUserdataOrCFunction(ls, 1))
        return luaL_argerror(ls, 1, "the environment of a userdata or C function cannot be changed");
    return debugSetEnvironment(ls);
}

int guardedGetEnvironment(lua_State* ls)
{
    if (isUserdataOrCFunction(ls, 1))
        return luaL_argerror(ls, 1, "the environment of a userdata or C function is not handed out");
    return debugGetEnvironment(ls);
}

int guardedSetLocal(lua_State* ls)
{
    const int arg = lua_type(ls, 1) == LUA_TTHREAD ? 1 : 0;
    lua_State* frames = arg ? lua_tothread(ls, 1) : ls;
    lua_Debug frame{};
    if (lua_getstack(frames, int(luaL_checkinteger(ls, arg + 1)), &frame) && lua_getinfo(frames, "S", &frame) &&
        frame.what[0] == 'C')
        return luaL_argerror(ls, arg + 1, "the locals of a C function cannot be changed");
    return debugSetLocal(ls);
}

int refuseSetHook(lua_State* ls)
{
    return luaL_error(ls, "debug.sethook is not available: the plug-in's time limit uses the hook");
}

// debug.name = guard, keeping Lua's own function for it.
void guard(lua_State* ls, int debug, const char* name, lua_CFunction guardFunction, lua_CFunction* library)
{
    lua_getfield(ls, debug, name); // original
    if (library)
        *library = lua_tocfunction(ls, -1);
    lua_pop(ls, 1);
    lua_pushcfunction(ls, guardFunction);
    lua_setfield(ls, debug, name);
}

void boundFullLibrary(lua_State* ls)
{
    const int base = lua_gettop(ls);
    lua_pushvalue(ls, LUA_GLOBALSINDEX); // globals
    luaL_getmetatable(ls, fileHandle);   // globals, file metatable (its own __index)
    const Target library{base + 1, base + 2, base + 2, 0};
    for (std::size_t n = 0; n < rowCount; ++n) {
        if (rows[n].source != Source::Bound && rows[n].source != Source::Checked)
            continue;
        pushRowFunction(ls, n, library);
        storeAt(ls, rows[n].name, library);
    }

    lua_getglobal(ls, "debug"); // ..., debug
    const int debug = lua_gettop(ls);
    guard(ls, debug, "setupvalue", guardedSetUpvalue, &debugSetUpvalue);
    guard(ls, debug, "setfenv", guardedSetEnvironment, &debugSetEnvironment);
    guard(ls, debug, "getfenv", guardedGetEnvironment, &debugGetEnvironment);
    guard(ls, debug, "setlocal", guardedSetLocal, &debugSetLocal);
    guard(ls, debug, "sethook", refuseSetHook, nullptr);

    // require's loader of Lua files.
    lua_getglobal(ls, "package");              // ..., package
    lua_getfield(ls, -1, "loaders");           // ..., package, loaders
    lua_pushvalue(ls, -2);                     // ..., package, loaders, package
    lua_pushcclosure(ls, boundedLuaLoader, 1); // ..., package, loaders, loader
    lua_rawseti(ls, -2, 2);                    // ..., package, loaders
    lua_settop(ls, base);
}

} // namespace

void installScriptLibrary(lua_State* ls, bool sandbox)
{
    sandboxOn = sandbox;
    takeLibraryOriginals(ls);
    takePatternOriginals(ls);
    lua_getglobal(ls, "debug");        // debug
    lua_getfield(ls, -1, "getinfo");   // debug, getinfo
    libraryGetInfo = lua_tocfunction(ls, -1);
    lua_pop(ls, 2);                    // (empty)
    installScriptFiles(ls);
    if (sandbox)
        buildSandbox(ls);
    else
        boundFullLibrary(ls);
}

bool sandboxActive()
{
    return sandboxOn;
}

int boundedGetInfo(lua_State* ls)
{
    const int arg = lua_type(ls, 1) == LUA_TTHREAD ? 1 : 0;
    const char* options = luaL_optstring(ls, arg + 2, "flnSu");
    // '>' takes the function from the top of the stack, whatever is there: Lua would crash.
    if (std::strchr(options, '>') || (sandboxOn && std::strchr(options, 'L')))
        return luaL_argerror(ls, arg + 2, "invalid option");
    const int results = libraryGetInfo(ls);
    if (sandboxOn && lua_istable(ls, -1)) {
        lua_getfield(ls, -1, "func"); // info, func?
        const bool cFunction = lua_iscfunction(ls, -1);
        lua_pop(ls, 1); // info
        if (cFunction) {
            lua_pushnil(ls);               // info, nil
            lua_setfield(ls, -2, "func");  // info
        }
    }
    return results;
}
