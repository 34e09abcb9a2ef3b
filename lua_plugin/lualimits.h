#pragma once

// What no script may exceed, in one place: the memory the state holds, the time a call
// from the client may take, and (with the sandbox) the library functions that could end,
// block or outlive the client's calls. The state's lifecycle makes a state with
// newLimitedState and puts the rest in place with installLimits; everything else of the
// plug-in only asks whether the time is up (luatimelimit.h).

#include "luatimelimit.h"

#include <cstddef>

struct lua_State;

constexpr int defaultMemoryMB = 256;

// [Limits] of luaconfig.ini.
struct LuaLimits
{
    int timeLimitMs = defaultTimeLimitMs; // 0: none
    int memoryMB = defaultMemoryMB;       // 0: no cap
    bool sandbox = true;
};

// A state whose allocator counts every byte Lua holds and refuses what would pass the
// cap: the script gets Lua's ordinary "not enough memory" error and the client's own
// memory is left alone. Null when the state cannot be made.
lua_State* newLimitedState(const LuaLimits& limits);
// Closes the state (its finalisers run) and gives what it held back to the system.
void closeLimitedState(lua_State* state);

// Under protection, with the standard libraries open and before any script runs: what
// scripts get (luasandbox.h: the sandbox, or the full library with its bounded functions),
// the time limit, and a check after every collection cycle that looks at the time limit
// and paces the collector to the cap.
void installLimits(lua_State* state, const LuaLimits& limits);

// pcall and xpcall as scripts get them: after an error that a refused allocation caused,
// the garbage is collected, so that a script that caught "not enough memory" can go on at
// once (Lua 5.1 collects nothing when memory runs out); xpcall's message handler is not run
// once the time is up.
int limitedPcall(lua_State* state);
int limitedXpcall(lua_State* state);

// What the state holds now, and what a script may still take (SIZE_MAX without a cap).
std::size_t luaMemoryInUse();
std::size_t luaMemoryLeft();
// Whether size bytes can still be taken, after collecting the garbage when they could
// not: for C functions about to make something large.
bool roomFor(lua_State* state, std::size_t size);

// Set when an allocation was refused, or when the garbage since the last collection cycle
// may fill half of what is left under the cap.
extern bool collectionPending;
// After an error, when a collection is pending: collects the garbage (under protection
// when called from outside Lua), so that the state works on.
void collectAfterRefusal(lua_State* state);
// Before a call from the client, when a collection is pending: collects the garbage.
void collectBetweenCalls(lua_State* state);

// The cap is enforced only while Lua runs under protection (a call from the client, a
// protected body of the plug-in): a refusal outside would reach Lua's panic handler.
// The plug-in's own few allocations between calls are never refused. Inline: every event
// passes here.
extern int protectedLuaDepth;
inline void enterProtectedLua()
{
    ++protectedLuaDepth;
}
inline void leaveProtectedLua()
{
    --protectedLuaDepth;
}
