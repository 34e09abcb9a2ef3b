#include "luahelpers.h"

#include "luaboundedlib.h"
#include "lualimits.h"

#include <climits>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>


lua_State* L = nullptr;
char* pluginID = nullptr;
VX5Functions vx5Functions;

namespace {

static_assert(hostPathSize == PATH_MAX, "a host path buffer holds any path");

// Registry reference of the protected dispatcher below, made once per state so that a
// dispatch allocates no closure.
int dispatcherRef = LUA_NOREF;
// Numbers the states the dispatcher was made in, so that a handler's name reference made
// in an earlier state is never used in a later one.
unsigned dispatcherState = 0;

// The plug-in's protected functions get their data from here, not from a Lua argument:
// a script can reach such a function (in the registry, or on the call stack through the
// debug library) and call it with any value, but it finds no data meant for it.
lua_CFunction pendingBody = nullptr;
void* pendingData = nullptr;

// Calls from the client into Lua that have not returned yet, and what is to happen to the
// state once the outermost has returned.
int clientCalls = 0;
void (*pendingAction)() = nullptr;


// One format-driven dispatch: what callLuaFunction hands to its protected body.
struct Dispatch {
    char* errorBuffer;
    const char* format;
    va_list* args;
};

void reportInvalidOption(char* errorBuffer, char option)
{
    l_error(errorBuffer, "Error running Lua function: Invalid option (%c)\n", option);
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
        case 'u':
            pushLuaValue(ls, va_arg(*call->args, std::uint64_t));
            break;
        case 'i':
        case 'a': // 16-bit IDs arrive promoted to int
            pushLuaValue(ls, va_arg(*call->args, int));
            break;
        case 'd':
            pushLuaValue(ls, va_arg(*call->args, double));
            break;
        case 's':
            pushLuaValue(ls, va_arg(*call->args, const char*));
            break;
        default:
            reportInvalidOption(call->errorBuffer, *letter);
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
            // A value outside the int range counts as a wrong result type.
            if (!toIntResult(ls, index, va_arg(*call->args, int*)))
                break;
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
            reportInvalidOption(call->errorBuffer, letters[n]);
            return false;
        }
        reportWrongResultType(call->errorBuffer);
        return false;
    }
    return true;
}

// The protected body of callLuaFunction: pushes by the format, call, results.
int formatDispatch(lua_State* ls, void* data)
{
    auto* call = static_cast<Dispatch*>(data);
    const char* cursor = call->format;
    const int argumentCount = pushArguments(ls, call, &cursor); // function, arguments...
    if (argumentCount < 0)
        return 1;
    const char* resultLetters = *cursor == '>' ? cursor + 1 : cursor;
    const int resultCount = int(std::strlen(resultLetters));
    lua_call(ls, argumentCount, resultCount); // results...
    return copyResults(ls, call, resultLetters, resultCount) ? 0 : 1;
}

// Whether the value just looked up for the global name is a function; reports it when not.
bool foundGlobalFunction(lua_State* ls, char* errorBuffer, const char* name)
{
    if (lua_isfunction(ls, -1))
        return true;
    l_error(errorBuffer, "Error running Lua function: Function '%s' not found\n", name);
    return false;
}

// Pushes the function that name designates, or reports why there is none.
bool pushLuaFunction(lua_State* ls, char* errorBuffer, const char* name)
{
    const char* dot = std::strchr(name, '.');
    if (!dot) {
        lua_getglobal(ls, name); // function?
        return foundGlobalFunction(ls, errorBuffer, name);
    }

    const int prefixLength = int(dot - name);
    lua_pushlstring(ls, name, std::size_t(prefixLength)); // prefix
    lua_pushvalue(ls, -1);                                // prefix, prefix
    lua_gettable(ls, LUA_GLOBALSINDEX);                   // prefix, global?
    if (!lua_istable(ls, -1)) {
        // Not a global table: a loaded module, as modules holds what its init.lua returned.
        lua_pop(ls, 1);                 // prefix
        lua_getglobal(ls, "modules");   // prefix, modules?
        if (lua_istable(ls, -1)) {
            lua_pushvalue(ls, -2);      // prefix, modules, prefix
            lua_gettable(ls, -2);       // prefix, modules, module?
            lua_remove(ls, -2);         // prefix, module?
        }
    }
    if (!lua_istable(ls, -1)) {
        l_error(errorBuffer, "Error running Lua function: Module '%.*s' not found\n", prefixLength, name);
        return false;
    }
    // Everything after the first dot, further dots included, names the field.
    lua_getfield(ls, -1, dot + 1); // prefix, module, function?
    if (lua_isfunction(ls, -1))
        return true;
    l_error(errorBuffer, "Error running Lua function: Function '%s' not found in module '%.*s'\n", dot + 1,
            prefixLength, name);
    return false;
}

// Pushes the global function an event handler's name designates (as lua_getglobal finds
// it, metamethods included), or reports why there is none.
bool pushHandler(lua_State* ls, char* errorBuffer, HandlerName& handler)
{
    if (handler.state != dispatcherState) {
        lua_pushstring(ls, handler.text);              // name
        handler.ref = luaL_ref(ls, LUA_REGISTRYINDEX); // (empty)
        handler.state = dispatcherState;
    }
    lua_rawgeti(ls, LUA_REGISTRYINDEX, handler.ref); // name
    lua_gettable(ls, LUA_GLOBALSINDEX);              // function?
    return foundGlobalFunction(ls, errorBuffer, handler.text);
}

// Runs under lua_pcall with the ProtectedCall pending: the lookup, the pushes and the call
// itself may raise (a metatable on the globals, a full stack, the handler), and every such
// error ends in callProtected instead of Lua's panic handler.
int dispatchProtected(lua_State* ls)
{
    auto* call = static_cast<ProtectedCall*>(takeCallData(ls, dispatchProtected));
    const bool found = call->handler ? pushHandler(ls, call->errorBuffer, *call->handler)
                                     : pushLuaFunction(ls, call->errorBuffer, call->name); // function?
    if (found)
        call->status = call->body(ls, call->data);
    return 0;
}

} // namespace

void registerDispatcher(lua_State* ls)
{
    ++dispatcherState;
    lua_pushcfunction(ls, dispatchProtected); // dispatcher
    dispatcherRef = luaL_ref(ls, LUA_REGISTRYINDEX);
}

const char* errorText(lua_State* ls, int index, char (&numberText)[numberTextSize])
{
    switch (lua_type(ls, index)) {
    case LUA_TSTRING:
        return lua_tostring(ls, index); // a string converts to itself: no allocation
    case LUA_TNUMBER:
        std::snprintf(numberText, sizeof numberText, LUA_NUMBER_FMT, lua_tonumber(ls, index));
        return numberText;
    default:
        return "(error object is not a string)";
    }
}

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

namespace {

// Runs call (a lua_pcall or lua_cpcall of body) with body's data pending and the memory cap
// in force; after a failure that a refused allocation caused, the garbage is collected.
template <typename Call>
int runWithPendingData(lua_State* ls, lua_CFunction body, void* data, Call call)
{
    pendingBody = body;
    pendingData = data;
    enterProtectedLua();
    const int status = call();
    leaveProtectedLua();
    if (status != 0)
        collectAfterRefusal(ls);
    pendingBody = nullptr;
    pendingData = nullptr;
    return status;
}

} // namespace

int callInProtection(lua_State* ls, lua_CFunction body, void* data)
{
    return runWithPendingData(ls, body, data, [ls, body] { return lua_cpcall(ls, body, nullptr); });
}

void* takeCallData(lua_State* ls, lua_CFunction body)
{
    if (pendingBody != body || !pendingData)
        luaL_error(ls, "this function of the plug-in cannot be called from a script");
    void* data = pendingData;
    pendingBody = nullptr;
    pendingData = nullptr;
    return data;
}

void enterClientCall()
{
    if (clientCalls++ > 0)
        return;
    // Here rather than when the last call ended: a string result stays valid until the
    // next call into Lua.
    if (collectionPending)
        collectBetweenCalls(L);
    startTimeLimit();
}

void leaveClientCall()
{
    if (--clientCalls > 0)
        return;
    stopTimeLimit(L);
    if (void (*action)() = pendingAction) {
        pendingAction = nullptr;
        action(); // no call runs now
    }
}

bool clientCallRunning()
{
    return clientCalls > 0;
}

void runBetweenClientCalls(void (*action)())
{
    if (clientCalls > 0)
        pendingAction = action;
    else
        action();
}

bool getHostPath(HostPathGetter getter, char (&buffer)[hostPathSize])
{
    buffer[0] = '\0';
    if (getter)
        getter(buffer, sizeof buffer);
    buffer[sizeof buffer - 1] = '\0';
    return std::strlen(buffer) + 1 < sizeof buffer;
}

void reportWrongResultType(char* errorBuffer)
{
    l_error(errorBuffer, "Error running Lua function: Wrong result type\n");
}

bool toIntResult(lua_State* ls, int index, int* out)
{
    if (lua_type(ls, index) != LUA_TNUMBER && !lua_isnumber(ls, index)) // numeric strings count
        return false;
    const lua_Number value = lua_tonumber(ls, index);
    if (!(value > lua_Number(INT_MIN) - 1 && value < lua_Number(INT_MAX) + 1))
        return false;
    *out = int(value);
    return true;
}

int callProtected(ProtectedCall& call)
{
    // Once the plug-in closes the state, no script runs any more.
    if (!L || stopRequested())
        return 1;
    // The host may call us from inside a vx5 call, where the stack has less room left;
    // between calls the stack is empty and has LUA_MINSTACK slots free.
    if (clientCalls > 0 && !lua_checkstack(L, 2)) {
        l_error(call.errorBuffer, "Error running Lua function '%s': %s\n", call.name, "stack overflow");
        return 1;
    }
    call.status = 1;
    enterClientCall();
    lua_rawgeti(L, LUA_REGISTRYINDEX, dispatcherRef); // dispatcher
    const int failed = runWithPendingData(L, dispatchProtected, &call, [] { return lua_pcall(L, 0, 0, 0); }); // message?
    if (failed) {
        char numberText[numberTextSize];
        l_error(call.errorBuffer, "Error running Lua function '%s': %.*s\n", call.name, errorTextLength,
                errorText(L, -1, numberText));
        call.status = 1;
        lua_pop(L, 1); // (as found)
    }
    leaveClientCall();
    return call.status;
}

int callLuaFunction(char* errorBuffer, const char* name, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    Dispatch dispatch{errorBuffer, format, &args};
    ProtectedCall call{errorBuffer, name, formatDispatch, &dispatch, 1, nullptr};
    const int status = callProtected(call);
    va_end(args);
    return status;
}

namespace {

// Loads and runs the script whose path is pending. Protected as a whole: loading
// allocates, and with it a garbage-collection step may run a finaliser of an earlier
// script that raises.
int loadProtected(lua_State* ls)
{
    const char* path = static_cast<const char*>(takeCallData(ls, loadProtected));
    loadBoundedFile(ls, path); // chunk
    // A script's results are of no use to anyone; dropping them keeps the stack balanced.
    lua_call(ls, 0, 0); // (empty)
    return 0;
}

} // namespace

int loadLuaScript(const char* path)
{
    if (!L || stopRequested()) {
        std::printf("No Lua state when trying to load lua script.\n");
        return 1;
    }
    const int top = lua_gettop(L);
    enterClientCall();
    // The path is only read.
    const int status = callInProtection(L, loadProtected, const_cast<char*>(path)); // message?
    if (status != 0) {
        char numberText[numberTextSize];
        std::printf("Failed to load lua script: %s\n%.*s\n", path, errorTextLength, errorText(L, -1, numberText));
    }
    lua_settop(L, top);
    leaveClientCall();
    return status == 0 ? 0 : 1;
}
