#pragma once

// No call from the client into Lua may run for ever. The outermost call takes its deadline
// from a coarse clock when it starts. A count hook, set on the state before any script
// runs (coroutines inherit it), looks at the clock every hundred to thousand instructions
// (every instruction once a period took long) and raises an error once the deadline has
// passed. From then on it fires at every instruction of
// the thread it stopped, so a script that catches the error with pcall and goes on is
// stopped again at its next instruction outside the pcall.
// Hooks do not reach into C functions: the plug-in's bounded replacements of the library
// functions that can work long look at the deadline themselves (enforceTimeLimit), and so
// does the plug-in's check after every garbage-collection cycle (lualimits.cpp), which
// catches instructions that copy much memory (concatenations). Lua 5.1 runs no hooks in
// finalisers nor in a message handler called for an error the hook raised: the plug-in's
// xpcall (lualimits.cpp) skips its handler once the time is up.

#include <cstdint>

struct lua_State;

constexpr int defaultTimeLimitMs = 2000;

// The limit of the calls to come (0: none); set before a new state's start-up call.
void setTimeLimit(int limitMs);
// On a new state, with or without a limit (the hook also stops scripts when the plug-in
// closes). Scripts cannot lift it: debug.sethook is refused (luasandbox.h).
void installTimeLimit(lua_State* state);

// The coarse monotonic clock the limit reads, in nanoseconds.
std::int64_t coarseClockNs();

// What the limit knows of the call in progress (inline below: every event passes there).
struct CallClock
{
    bool running = false;        // a call from the client is in progress
    std::int64_t limitNs = 0;    // of the state in use; 0: none
    std::int64_t deadlineNs = 0; // of the call in progress; 0: none
};
extern CallClock callClock;

// The outermost call from the client starts and ends; the end puts the state's main
// thread back to sparse checks.
inline void startTimeLimit()
{
    callClock.running = true;
    callClock.deadlineNs = callClock.limitNs != 0 ? coarseClockNs() + callClock.limitNs : 0;
}
void stopTimeLimit(lua_State* state);

// Whether the call in progress must stop: its time is up, or the plug-in is closing.
bool timeIsUp();
// Raises the limit's error when the call in progress must stop.
void enforceTimeLimit(lua_State* state);
// Raises it now: C code that knows it could not finish before the deadline.
int raiseTimeLimit(lua_State* state);
// Makes the hook fire at the next instruction of the thread (safe from anywhere, an
// allocation included), where it raises the error once the time is up.
void stopAtNextInstruction(lua_State* state);
// Milliseconds left to the call in progress (-1: no deadline).
long remainingMs();

// The plug-in is closing the state as soon as the running call returns: every script still
// running is stopped at its next check ("the plug-in is shutting down"). A new state clears it.
void requestStop();
void clearStopRequest();
extern bool stopAsked;
inline bool stopRequested()
{
    return stopAsked;
}
