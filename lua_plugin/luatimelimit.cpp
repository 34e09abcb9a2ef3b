#include "luatimelimit.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <ctime>

namespace {

// Instructions between two looks at the clock: rare enough to cost nothing measurable,
// often enough to stop a loop within a millisecond or so.
constexpr int instructionsPerCheck = 10000;

int limitMs = 0;        // of the state in use; 0: none
timespec span{};        // the limit as a time span
timespec deadline{};

// A coarse clock is enough for limits of many milliseconds and costs a few nanoseconds.
timespec now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &time);
    return time;
}

// Whether the call in progress has run out of time; its first look sets the deadline.
bool expired()
{
    const timespec time = now();
    if (!callClock.deadlineSet) {
        deadline = {time.tv_sec + span.tv_sec, time.tv_nsec + span.tv_nsec};
        if (deadline.tv_nsec >= 1000000000L) {
            deadline.tv_sec += 1;
            deadline.tv_nsec -= 1000000000L;
        }
        callClock.deadlineSet = true;
        return false;
    }
    return time.tv_sec > deadline.tv_sec || (time.tv_sec == deadline.tv_sec && time.tv_nsec >= deadline.tv_nsec);
}

void limitHook(lua_State* ls, lua_Debug*);

// Stops the call: from now on the hook fires at every instruction of this thread.
int stopCall(lua_State* ls)
{
    callClock.stopping = true;
    lua_sethook(ls, limitHook, LUA_MASKCOUNT, 1);
    return luaL_error(ls, "the script ran longer than its time limit of %d ms (timeLimitMs in [Limits] of "
                          "luaconfig.ini)", limitMs);
}

void limitHook(lua_State* ls, lua_Debug*)
{
    if (!callClock.running || !expired()) {
        // Back to sparse checks for a thread that was stopped in an earlier call.
        if (lua_gethookcount(ls) != instructionsPerCheck)
            lua_sethook(ls, limitHook, LUA_MASKCOUNT, instructionsPerCheck);
        return;
    }
    stopCall(ls);
}

int refuseSetHook(lua_State* ls)
{
    return luaL_error(ls, "debug.sethook is not available: the plug-in's time limit uses the hook");
}

// An error raised by the hook leaves hooks off until a pcall catches it, and Lua calls a
// message handler before that: a handler that loops would never be stopped. Once the time
// is up, xpcall's handler is therefore not run; the error goes on as it is.
int limitedMessageHandler(lua_State* ls)
{
    if (callClock.running && expired())
        return 1;                             // message
    lua_pushvalue(ls, lua_upvalueindex(1));   // message, handler
    lua_insert(ls, 1);                        // handler, message
    lua_call(ls, lua_gettop(ls) - 1, 1);      // result
    return 1;
}

// xpcall as the base library makes it, with the handler above around the script's.
int limitedXpcall(lua_State* ls)
{
    luaL_checkany(ls, 2);
    lua_settop(ls, 2);                               // function, handler
    lua_pushcclosure(ls, limitedMessageHandler, 1); // function, limited handler
    lua_insert(ls, 1);                               // limited handler, function
    const int status = lua_pcall(ls, 0, LUA_MULTRET, 1); // limited handler, results...
    lua_pushboolean(ls, status == 0);                // limited handler, results..., ok
    lua_replace(ls, 1);                              // ok, results...
    return lua_gettop(ls);
}

} // namespace

CallClock callClock;

void installTimeLimit(lua_State* state, int limit)
{
    limitMs = limit > 0 ? limit : 0;
    span = {limitMs / 1000, long(limitMs % 1000) * 1000000L};
    if (limitMs == 0)
        return;
    lua_sethook(state, limitHook, LUA_MASKCOUNT, instructionsPerCheck);
    lua_getglobal(state, "debug"); // debug
    if (lua_istable(state, -1)) {
        lua_pushcfunction(state, refuseSetHook); // debug, refusal
        lua_setfield(state, -2, "sethook");      // debug
    }
    lua_pop(state, 1);                     // (empty)
    lua_pushcfunction(state, limitedXpcall); // xpcall
    lua_setglobal(state, "xpcall");          // (empty)
}

void restoreSparseChecks(lua_State* state)
{
    if (state)
        lua_sethook(state, limitHook, LUA_MASKCOUNT, instructionsPerCheck);
    callClock.stopping = false;
}

void enforceTimeLimit(lua_State* state)
{
    if (callClock.running && limitMs > 0 && expired())
        stopCall(state);
}
