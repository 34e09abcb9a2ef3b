#pragma once

// No call from the client into Lua may run for ever. A count hook, set on the state
// before any script runs (coroutines inherit it), looks at the clock every few thousand
// instructions and raises an error once the call has run longer than the limit. From then
// on it fires at every instruction of the thread it stopped, so a script that catches the
// error with pcall and goes on is stopped again at its next instruction outside the pcall.
// Hooks do not reach into C functions: code that works long in C (the pattern matcher)
// asks enforceTimeLimit() itself. Lua 5.1 runs no hooks in finalisers (__gc) nor in a
// message handler called for an error the hook raised: xpcall is replaced so that its
// handler is skipped once the time is up; finalisers stay outside the limit.

struct lua_State;

constexpr int defaultTimeLimitMs = 2000;

// On a new state; 0: no limit (no hook at all). debug.sethook, which would remove the
// hook, is replaced by a function that refuses, and xpcall as said above.
void installTimeLimit(lua_State* state, int limitMs);
// What the limit knows of the call in progress. The clock is read lazily (at the hook's
// first look, every few thousand instructions), so that the many short calls an event
// brings cost no clock reading at all.
struct CallClock
{
    bool running = false;     // a call from the client is in progress
    bool deadlineSet = false; // its deadline has been taken from the clock
    bool stopping = false;    // the hook fires at every instruction of some thread
};
extern CallClock callClock;

void restoreSparseChecks(lua_State* state);

// The outermost call from the client starts and ends; the end puts the state's main
// thread back to sparse checks.
inline void startTimeLimit()
{
    callClock.running = true;
    callClock.deadlineSet = false;
}
inline void stopTimeLimit(lua_State* state)
{
    callClock.running = false;
    if (callClock.stopping)
        restoreSparseChecks(state);
}
// Raises the limit's error when the call in progress has run out of time.
void enforceTimeLimit(lua_State* state);
