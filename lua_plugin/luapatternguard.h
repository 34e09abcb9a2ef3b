#pragma once

struct lua_State;

// Lua 5.1's pattern matcher recurses once per quantified item and capture of a pattern
// and has no depth limit: a long enough pattern overflows the C stack and takes the
// client down. This replaces string.find, match, gmatch and gsub (also reached as
// string methods) with guards that raise "pattern too complex" for such patterns and
// otherwise run the original function in the same call frame, so error messages and
// speed stay as they were. Call it after the string library is open, under protection.
void guardPatternFunctions(lua_State* state);

// The deepest recursion the matcher can reach for the pattern (up to its first zero
// byte, where Lua's matcher ends it too).
int patternRecursionDepth(const char* pattern);

constexpr int maxPatternRecursionDepth = 200;
