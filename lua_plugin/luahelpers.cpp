#include "luahelpers.h"

#include "vx5lualib.h"

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

lua_State* L = nullptr;
char* pluginID = nullptr;
VX5Functions vx5Functions;

namespace {

constexpr std::size_t pluginPathSize = 128;
constexpr std::size_t luaPathEntrySize = 158;

// Registry reference of the protected dispatcher below, made once per state so that a
// dispatch allocates no closure.
int dispatcherRef = LUA_NOREF;

const char* errorText(lua_State* ls, int index)
{
    const char* text = lua_tostring(ls, index);
    return text ? text : "(error object is not a string)";
}

// One dispatch, shared between callLuaFunction and the protected function it runs.
struct Dispatch {
    char* errorBuffer;
    const char* name;
    const char* format;
    va_list* args;
    int result;
};

// Pushes the function that name designates, or reports why there is none.
bool pushFunction(lua_State* ls, const Dispatch* call)
{
    const char* dot = std::strchr(call->name, '.');
    if (!dot) {
        lua_getglobal(ls, call->name); // function?
        if (lua_isfunction(ls, -1))
            return true;
        l_error(call->errorBuffer, "Error running Lua function: Function '%s' not found\n", call->name);
        return false;
    }

    const int prefixLength = int(dot - call->name);
    lua_pushlstring(ls, call->name, std::size_t(prefixLength)); // prefix
    lua_gettable(ls, LUA_GLOBALSINDEX);                         // module?
    if (!lua_istable(ls, -1)) {
        l_error(call->errorBuffer, "Error running Lua function: Module '%.*s' not found\n", prefixLength, call->name);
        return false;
    }
    // Everything after the first dot, further dots included, names the field.
    lua_getfield(ls, -1, dot + 1); // module, function?
    if (lua_isfunction(ls, -1))
        return true;
    l_error(call->errorBuffer, "Error running Lua function: Function '%s' not found in module '%.*s'\n", dot + 1,
            prefixLength, call->name);
    return false;
}

void reportInvalidOption(const Dispatch* call, char option)
{
    l_error(call->errorBuffer, "Error running Lua function: Invalid option (%c)\n", option);
}

// Pushes one value per argument letter; returns the count, or -1 after an invalid letter.
int pushArguments(lua_State* ls, Dispatch* call, const char** cursor)
{
    int count = 0;
    const char* letter = *cursor;
    // Room for every argument at once: the same overflow error as growing push by push.
    luaL_checkstack(ls, int(std::strcspn(letter, ">")), "too many arguments");
    for (; *letter && *letter != '>'; ++letter, ++count) {
        switch (*letter) {
        case 'u': // Lua numbers are doubles: the top bit is dropped to keep IDs positive.
            lua_pushnumber(ls, lua_Number(va_arg(*call->args, std::uint64_t) & INT64_MAX));
            break;
        case 'i':
        case 'a': // 16-bit IDs arrive promoted to int
            lua_pushnumber(ls, lua_Number(va_arg(*call->args, int)));
            break;
        case 'd':
            lua_pushnumber(ls, lua_Number(va_arg(*call->args, double)));
            break;
        case 's': {
            const char* text = va_arg(*call->args, const char*);
            if (text)
                lua_pushstring(ls, text);
            else
                lua_pushnil(ls);
            break;
        }
        default:
            reportInvalidOption(call, *letter);
            return -1;
        }
    }
    *cursor = letter;
    return count;
}

// Copies the results (on top of the stack, first result lowest) to the result pointers.
bool copyResults(lua_State* ls, Dispatch* call, const char* letters, int count)
{
    for (int n = 0; n < count; ++n) {
        const int index = -count + n;
        switch (letters[n]) {
        case 'i':
            if (!lua_isnumber(ls, index))
                break;
            // Cut toward zero, as a C conversion does.
            *va_arg(*call->args, int*) = int(lua_tonumber(ls, index));
            continue;
        case 'd':
            if (!lua_isnumber(ls, index))
                break;
            *va_arg(*call->args, double*) = double(lua_tonumber(ls, index));
            continue;
        case 's':
            if (!lua_isstring(ls, index))
                break;
            // Points into the Lua string: valid while Lua keeps it, not beyond.
            *va_arg(*call->args, const char**) = lua_tostring(ls, index);
            continue;
        default:
            reportInvalidOption(call, letters[n]);
            return false;
        }
        l_error(call->errorBuffer, "Error running Lua function: Wrong result type\n");
        return false;
    }
    return true;
}

// Runs under lua_pcall with the Dispatch as light userdata: the lookup, the pushes and
// the call itself may raise (a metatable on the globals, a full stack, the handler),
// and every such error ends in callLuaFunction instead of Lua's panic handler.
int dispatchProtected(lua_State* ls)
{
    auto* call = static_cast<Dispatch*>(lua_touserdata(ls, 1));
    lua_settop(ls, 0); // (empty)

    if (!pushFunction(ls, call)) // function
        return 0;

    const char* cursor = call->format;
    const int argumentCount = pushArguments(ls, call, &cursor); // function, arguments...
    if (argumentCount < 0)
        return 0;

    const char* resultLetters = *cursor == '>' ? cursor + 1 : cursor;
    const int resultCount = int(std::strlen(resultLetters));
    lua_call(ls, argumentCount, resultCount); // results...

    if (copyResults(ls, call, resultLetters, resultCount))
        call->result = 0;
    return 0;
}

int openState(lua_State* ls)
{
    luaL_openlibs(ls);
    registerVX5Lib(ls);
    lua_pushcfunction(ls, dispatchProtected); // dispatcher
    dispatcherRef = luaL_ref(ls, LUA_REGISTRYINDEX);
    return 0;
}

} // namespace

void l_error(char* buffer, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    if (buffer) {
        va_start(args, format);
        std::vsnprintf(buffer, errorBufferSize, format, args);
        va_end(args);
    }
}

int callLuaFunction(char* errorBuffer, const char* name, const char* format, ...)
{
    if (!L)
        return 1;
    // The host may call us from inside a vx5 call, where the stack has less room left.
    if (!lua_checkstack(L, 2)) {
        l_error(errorBuffer, "Error running Lua function '%s': %s\n", name, "stack overflow");
        return 1;
    }

    va_list args;
    va_start(args, format);
    Dispatch call{errorBuffer, name, format, &args, 1};
    const int top = lua_gettop(L);
    lua_rawgeti(L, LUA_REGISTRYINDEX, dispatcherRef); // dispatcher
    lua_pushlightuserdata(L, &call);                  // dispatcher, call
    if (lua_pcall(L, 1, 0, 0) != 0) {                 // message?
        l_error(errorBuffer, "Error running Lua function '%s': %s\n", name, errorText(L, -1));
        call.result = 1;
    }
    lua_settop(L, top);
    va_end(args);
    return call.result;
}

int initLua()
{
    std::printf("Initializing Lua interpreter\n");

    char path[pluginPathSize] = "";
    if (vx5Functions.getPluginPath)
        vx5Functions.getPluginPath(path, sizeof path);
    path[sizeof path - 1] = '\0';

    // putenv keeps a pointer to the entry, so it lives as long as the process.
    static char luaPathEntry[luaPathEntrySize];
    std::snprintf(luaPathEntry, sizeof luaPathEntry, "LUA_PATH=%slua_plugin/?.lua", path);
    putenv(luaPathEntry);

    const std::size_t length = std::strlen(path);
    std::snprintf(path + length, sizeof path - length, "%s", "lua_plugin/vx5events.lua");

    L = luaL_newstate();
    if (!L) {
        std::printf("Failed to create Lua state. Aborting...\n");
        return 1;
    }
    if (lua_cpcall(L, openState, nullptr) != 0) {
        std::printf("Failed to open the Lua libraries: %s\n", errorText(L, -1));
        closeLua();
        return 1;
    }
    return loadLuaScript(path);
}

void closeLua()
{
    std::printf("Shutting down Lua interpreter\n");
    if (L) {
        lua_close(L);
        L = nullptr;
    }
}

int loadLuaScript(const char* path)
{
    if (!L) {
        std::printf("No Lua state when trying to load lua script.\n");
        return 1;
    }
    const int top = lua_gettop(L);
    int status = luaL_loadfile(L, path); // chunk or message
    if (status == 0)
        status = lua_pcall(L, 0, LUA_MULTRET, 0); // results... or message
    if (status != 0)
        std::printf("Failed to load lua script: %s\n%s\n", path, errorText(L, -1));
    // A script's results are of no use to anyone; dropping them keeps the stack balanced.
    lua_settop(L, top);
    return status == 0 ? 0 : 1;
}
