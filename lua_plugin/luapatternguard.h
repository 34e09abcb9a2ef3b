#pragma once

#include <cstddef>

struct lua_State;

// Lua 5.1's pattern matcher (string.find, match, gmatch, gsub) can take the client down
// two ways, and Lua's count hook reaches neither, since the matcher is C:
// - it recurses once per quantified item and capture of a pattern, with no depth limit:
//   a long pattern overflows the C stack;
// - it backtracks without memory: a pattern of many optional items against a subject it
//   almost matches takes exponential time ("a?" forty times, then "a" forty times, on forty
//   a's runs for hours).
// guardPatternFunctions replaces the four functions (also reached as string methods) with
// guards that refuse such calls with a Lua error ("pattern too complex", "pattern too
// complex for this subject") and otherwise run Lua's own function in the same call frame,
// so results, error messages and speed stay as they were. The second rule is decided by
// counting: when a cheap bound on the matcher's work exceeds a budget, the guard replays
// the matcher's search on the actual subject, counting its steps, and refuses the call
// when they would exceed the budget. A call that passes also answers to the time limit.
// Call it after the string library is open, under protection.
void guardPatternFunctions(lua_State* state);

// The deepest recursion the matcher can reach for the pattern (up to its first zero
// byte, where Lua's matcher ends it too).
int patternRecursionDepth(const char* pattern);

constexpr int maxPatternRecursionDepth = 200;
// Steps of the matcher (calls, characters compared or scanned) one call may take: about
// a twentieth of a second on this kind of machine.
constexpr long patternStepBudget = 10000000;

// Which search a guarded function makes, for the count.
enum class PatternSearch { Find, GlobalMatch, Substitute };

// Whether Lua's matcher would finish the search within the step budget: find and match
// from init (0-based, already clamped) with the pattern's anchor, gmatch over the whole
// subject, gsub with at most maxReplacements. Malformed patterns count as cheap: the
// real function reports them.
bool patternSearchFitsBudget(PatternSearch search, const char* subject, std::size_t length, const char* pattern,
                             std::size_t init, long maxReplacements, long budget);
