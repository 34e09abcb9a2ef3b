#include "luatimelimit.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <algorithm>
#include <cstdint>
#include <ctime>

namespace {

// Instructions between two looks at the clock. A call starts with the first count and
// grows it fourfold per look up to the sparse one, rare enough to cost nothing measurable;
// a period that took long (instructions that each copy megabytes: concatenations of
// large strings, which reuse their buffer and allocate nothing) makes the hook look at
// every instruction for the rest of the call, so that no period runs far past the deadline.
constexpr int firstCheckCount = 100;
constexpr int instructionsPerCheck = 1000;
constexpr std::int64_t slowPeriodNs = 20 * 1000000;

int limitMs = 0;            // of the state in use; 0: none
bool stopping = false;      // the hook fires at every instruction of some thread
bool countChanged = false;  // the main thread's count is not the first one any more
std::int64_t lastCheckNs = 0;

void limitHook(lua_State* ls, lua_Debug*);

// Stops the call: from now on the hook fires at every instruction of this thread.
int stopCall(lua_State* ls)
{
    stopAtNextInstruction(ls);
    if (stopAsked)
        return luaL_error(ls, "the plug-in is shutting down");
    return luaL_error(ls, "the script ran longer than its time limit of %d ms (timeLimitMs in [Limits] of "
                          "luaconfig.ini)", limitMs);
}

bool timeIsUpAt(std::int64_t now)
{
    return callClock.running && (stopAsked || (callClock.deadlineNs != 0 && now >= callClock.deadlineNs));
}

void limitHook(lua_State* ls, lua_Debug*)
{
    const std::int64_t now = coarseClockNs();
    if (timeIsUpAt(now)) {
        stopCall(ls);
        return;
    }
    const std::int64_t callStart = callClock.deadlineNs - callClock.limitNs;
    const bool slow = callClock.deadlineNs != 0 && now - std::max(lastCheckNs, callStart) > slowPeriodNs;
    lastCheckNs = now;
    const int count = lua_gethookcount(ls);
    // Dense for the rest of the call once slow; otherwise growing (also for a thread that
    // was stopped in an earlier call).
    const int wanted = slow || (stopping && count == 1) ? 1 : std::min(count * 4, instructionsPerCheck);
    if (wanted != count) {
        stopping = stopping || wanted == 1;
        countChanged = true;
        lua_sethook(ls, limitHook, LUA_MASKCOUNT, wanted);
    }
}

} // namespace

bool stopAsked = false; // the state closes when the running call returns

CallClock callClock;

void setTimeLimit(int limit)
{
    limitMs = limit > 0 ? limit : 0;
    callClock.limitNs = std::int64_t(limitMs) * 1000000;
}

void installTimeLimit(lua_State* state)
{
    lua_sethook(state, limitHook, LUA_MASKCOUNT, firstCheckCount);
}

// A coarse clock is enough for limits of many milliseconds and costs a few nanoseconds.
std::int64_t coarseClockNs()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &time);
    return std::int64_t(time.tv_sec) * 1000000000 + time.tv_nsec;
}

void stopTimeLimit(lua_State* state)
{
    callClock.running = false;
    if ((stopping || countChanged) && state)
        lua_sethook(state, limitHook, LUA_MASKCOUNT, firstCheckCount);
    stopping = false;
    countChanged = false;
}

bool timeIsUp()
{
    return timeIsUpAt(coarseClockNs());
}

void enforceTimeLimit(lua_State* state)
{
    if (timeIsUp())
        stopCall(state);
}

void stopAtNextInstruction(lua_State* state)
{
    stopping = true;
    lua_sethook(state, limitHook, LUA_MASKCOUNT, 1);
}

int raiseTimeLimit(lua_State* state)
{
    return stopCall(state);
}

long remainingMs()
{
    if (!callClock.running || callClock.deadlineNs == 0)
        return -1;
    const std::int64_t left = callClock.deadlineNs - coarseClockNs();
    return left > 0 ? long(left / 1000000) : 0;
}

void requestStop()
{
    stopAsked = true;
}

void clearStopRequest()
{
    stopAsked = false;
}
