#include "luapatternguard.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// One past the end of the single-character class at p, as the matcher reads it:
// "%x", a set "[...]" (its first character never closes it), or one character. A
// malformed set runs to the end; the original function reports it.
const char* classEnd(const char* p)
{
    if (*p == '%')
        return p[1] ? p + 2 : p + 1;
    if (*p != '[')
        return p + 1;
    ++p;
    if (*p == '^')
        ++p;
    do {
        if (!*p)
            return p;
        if (*p++ == '%' && *p)
            ++p;
    } while (*p != ']');
    return p + 1;
}

bool isQuantifier(char c)
{
    return c == '?' || c == '*' || c == '+' || c == '-';
}

// The wrapper: upvalue 1 is the original C function, upvalue 2 true for find, whose
// plain search (fourth argument true) never runs the matcher.
int guardedPatternFunction(lua_State* ls)
{
    if (lua_type(ls, 2) == LUA_TSTRING) {
        const bool plainFind = lua_toboolean(ls, lua_upvalueindex(2)) && lua_toboolean(ls, 4);
        if (!plainFind && patternRecursionDepth(lua_tostring(ls, 2)) > maxPatternRecursionDepth)
            return luaL_error(ls, "pattern too complex");
    }
    // Run in this frame: argument errors keep naming the function the script called.
    return lua_tocfunction(ls, lua_upvalueindex(1))(ls);
}

} // namespace

int patternRecursionDepth(const char* p)
{
    int depth = 0;
    if (*p == '^')
        ++p;
    while (*p) {
        if (*p == '(' || *p == ')') { // a capture's start and end each add a level
            ++depth;
            ++p;
            continue;
        }
        if (p[0] == '%' && p[1] == 'b') { // balance match: no recursion, no quantifier
            for (int skip = 0; skip < 4 && *p; ++skip)
                ++p;
            continue;
        }
        if (p[0] == '%' && p[1] == 'f') { // frontier: a set, no quantifier
            p = *(p + 2) ? classEnd(p + 2) : p + 2;
            continue;
        }
        const char* end = classEnd(p);
        if (isQuantifier(*end)) {
            ++depth;
            ++end;
        }
        p = end;
    }
    return depth;
}

void guardPatternFunctions(lua_State* ls)
{
    static const char* const names[] = {"find", "match", "gmatch", "gsub"};
    lua_getglobal(ls, "string"); // string
    for (const char* name : names) {
        lua_getfield(ls, -1, name);                   // string, original
        lua_pushboolean(ls, name == names[0]);        // string, original, isFind
        lua_pushcclosure(ls, guardedPatternFunction, 2); // string, guard
        lua_setfield(ls, -2, name);                   // string
    }
    lua_pop(ls, 1); // (empty)
}
