#pragma once

#include <cstddef>
#include <cstdint>

struct lua_State;

// Lua 5.1's pattern matcher (string.find, match, gmatch, gsub) can take the client down
// two ways, and Lua's count hook reaches neither, since the matcher is C:
// - it recurses once per quantified item and capture of a pattern, with no depth limit:
//   a long pattern overflows the C stack;
// - it backtracks without memory: a pattern of many optional items against a subject it
//   almost matches takes exponential time ("a?" forty times, then "a" forty times, on forty
//   a's runs for hours).
// The guards below stand for the four functions (also reached as string methods): they
// refuse the first kind with a Lua error ("pattern too complex") and otherwise run Lua's own
// function in the same call frame, so results, error messages and speed stay as they were.
// The second kind answers to the time limit: when a cheap bound on the matcher's work is
// large, the guard first replays the matcher's search on the actual subject, counting its
// steps, until the call's deadline at the latest. The call ends with the time limit's error
// when the count reaches the deadline, or when Lua's search after it could not end within a
// small margin past the deadline (it takes about as long as the count, at most twice).
// gmatch's iterator is guarded each time it runs, against the deadline of the call it runs
// in. Without a time limit nothing is counted or refused.
int guardedFind(lua_State* state);
int guardedMatch(lua_State* state);
int guardedGmatch(lua_State* state);
int guardedGsub(lua_State* state);
// Takes Lua's own four functions from the string library, before the guards replace them.
void takePatternOriginals(lua_State* state);

// The deepest recursion the matcher can reach for the pattern (up to its first zero
// byte, where Lua's matcher ends it too).
int patternRecursionDepth(const char* pattern);

constexpr int maxPatternRecursionDepth = 200;
// Calls whose bound stays below this many matcher steps (some tens of milliseconds on
// this kind of machine) run without a count.
constexpr long patternStepsWithoutCount = 10000000;

// Which search a guarded function makes, for the count.
enum class PatternSearch { Find, NextMatch, Substitute };

// Whether the count of Lua's search ends before deadlineNs (of coarseClockNs()): find and
// match from init (0-based, already clamped) with the pattern's anchor, gmatch's next match
// from init, gsub with at most maxReplacements. Malformed patterns count as cheap: the
// real function reports them.
bool patternSearchFinishesBy(PatternSearch search, const char* subject, std::size_t length, const char* pattern,
                             std::size_t init, long maxReplacements, std::int64_t deadlineNs);
