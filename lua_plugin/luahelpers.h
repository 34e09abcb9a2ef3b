#pragma once

// The plug-in's one Lua state and the operations everything else works through.
//
// Lua is used as its C build: a Lua error longjmps. Functions here that call into Lua
// (directly or under lua_pcall) therefore hold no objects with destructors, and every
// entry into Lua from the host runs protected, so no script can reach Lua's panic
// handler and end the client.

#include "vx5functions.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstdint>
#include <tuple>
#include <utility>

extern lua_State* L;         // null before init, after shutdown, or when creation failed
extern char* pluginID;       // heap copy of the host's identifier, null until registered
extern VX5Functions vx5Functions;

// Room for any path the system can open.
constexpr std::size_t hostPathSize = 4096;
using HostPathGetter = void (*)(char* buffer, std::size_t bufferSize);
// Asks the host for a path (a missing entry gives ""). False when the path fills the
// buffer: the host may have cut it, and a cut path can name another file.
bool getHostPath(HostPathGetter getter, char (&buffer)[hostPathSize]);

// Loads and runs a script (the events script, "/lua load"): 0, or 1 after a line on
// standard output saying why not.
int loadLuaScript(const char* path);

// Every call from the client into Lua (events, console, menus, starting the state with its
// scripts and modules, closing it) is wrapped in these: the outermost one runs under the
// time limit.
void enterClientCall();
void leaveClientCall();
bool clientCallRunning();
// Runs action at once when no call from the client is in progress, otherwise as soon as
// the outermost one has returned; a later request replaces an earlier one. The state's
// lifecycle closes and restarts the state this way, never under a running script.
void runBetweenClientCalls(void (*action)());

// Makes the protected dispatcher of callProtected on a new state (under protection).
void registerDispatcher(lua_State* ls);

// Room for a number formatted as Lua formats it (LUA_NUMBER_FMT, "%.14g").
constexpr std::size_t numberTextSize = 32;
// The error object's text, read without running any Lua code: this is called outside
// protection, and lua_tostring on a number allocates, which can run a garbage-collection
// step whose finaliser raises, and an error there panics the state and ends the client.
const char* errorText(lua_State* ls, int index, char (&numberText)[numberTextSize]);
// An error's text is printed at most this long ("%.*s"): a script's message may be hundreds
// of megabytes, and writing it out after the call would outlast every limit.
constexpr int errorTextLength = 4096;

// Runs body under lua_cpcall with data pending for it; body takes the data with
// takeCallData(ls, body) as its first act. A script that gets hold of such a function
// and calls it finds no data pending for it and gets a Lua error. Returns lua_cpcall's
// status (with the error message on the stack when it failed).
int callInProtection(lua_State* ls, lua_CFunction body, void* data);
void* takeCallData(lua_State* ls, lua_CFunction body);

// Prints the formatted text to standard error; with a buffer (512 bytes), also writes it there.
void l_error(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));

constexpr int errorBufferSize = 512;

// Calls the global Lua function name (or "module.function": a function of a global table,
// else of a loaded module, modules[module]) with the arguments the
// format describes; see luahelpers.cpp. Returns 0 on success, 1 on any failure.
int callLuaFunction(char* errorBuffer, const char* name, const char* format, ...);

// An event handler's name (a global function's), with a registry reference to the state's
// Lua string of it: an event looks its handler up without making that string again, whose
// hashing alone cost as much as the rest of a dispatch. Each export keeps one for the
// plug-in's lifetime; the reference is made anew in each new state.
struct HandlerName
{
    const char* text;
    int ref = LUA_NOREF;
    unsigned state = 0; // the state the reference belongs to (0: none yet)
};

// One call of a Lua function under protection: callProtected looks name up and, when it
// is a function, runs body(state, data) with the function on the stack; body pushes the
// arguments, calls and copies the results, returning 0 on success. Every failure is
// reported as callLuaFunction reports it, and the stack is left as it was.
struct ProtectedCall
{
    char* errorBuffer;
    const char* name; // a global function, or "module.function"
    int (*body)(lua_State* state, void* data);
    void* data;
    int status;
    HandlerName* handler; // when not null, name is its text and the lookup uses its reference
};
int callProtected(ProtectedCall& call);

// The conversions of the argument letters, shared by the format and the typed path.
inline void pushLuaValue(lua_State* ls, std::uint64_t value) // 'u'
{
    // Lua numbers are doubles: the top bit is dropped to keep IDs positive.
    lua_pushnumber(ls, lua_Number(value & INT64_MAX));
}
inline void pushLuaValue(lua_State* ls, int value) // 'i', and 'a' promoted
{
    lua_pushnumber(ls, lua_Number(value));
}
inline void pushLuaValue(lua_State* ls, anyID value) // 'a'
{
    lua_pushnumber(ls, lua_Number(value));
}
inline void pushLuaValue(lua_State* ls, double value) // 'd'
{
    lua_pushnumber(ls, lua_Number(value));
}
inline void pushLuaValue(lua_State* ls, const char* value) // 's': null is nil
{
    if (value)
        lua_pushstring(ls, value);
    else
        lua_pushnil(ls);
}

// An int result: a number (or numeric string) within the int range, cut toward zero;
// anything else, NaN and out-of-range values included, is a wrong result type.
bool toIntResult(lua_State* ls, int index, int* out);
void reportWrongResultType(char* errorBuffer);

// The typed path of the event exports: the letters are the argument types (uint64_t
// 'u', anyID 'a', int 'i', double 'd', const char* 's'), chosen at compile time; with a
// result pointer, the handler's first result is copied as an 'i' result. Conversions,
// protection and messages are those of callLuaFunction.
template <typename... Args>
struct TypedCall
{
    std::tuple<Args...> arguments;
    int* result;

    static int body(lua_State* ls, void* data)
    {
        auto* call = static_cast<TypedCall*>(data);
        // A C function always has LUA_MINSTACK free slots; the function takes one.
        if constexpr (sizeof...(Args) >= LUA_MINSTACK)
            luaL_checkstack(ls, int(sizeof...(Args)), "too many arguments");
        std::apply([ls](auto... values) { (pushLuaValue(ls, values), ...); }, call->arguments); // function, arguments...
        lua_call(ls, int(sizeof...(Args)), call->result ? 1 : 0);                                  // result?
        if (call->result && !toIntResult(ls, -1, call->result)) {
            reportWrongResultType(nullptr);
            return 1;
        }
        return 0;
    }
};

template <typename... Args>
int callLuaHandler(int* result, HandlerName& handler, Args... arguments)
{
    TypedCall<Args...> typed{{arguments...}, result};
    ProtectedCall call{nullptr, handler.text, &TypedCall<Args...>::body, &typed, 1, &handler};
    return callProtected(call);
}
