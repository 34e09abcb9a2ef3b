#pragma once

// What scripts get, made from the rows of luasandboxtable.h on a new state (under
// protection, with the standard libraries open, before any script runs).
//
// With the sandbox (sandbox in [Limits] of luaconfig.ini, on by default) the state gets new
// globals holding the rows alone: every library table is new, the refused names raise
// "<name> is not available to scripts (sandbox in [Limits] of luaconfig.ini)", and the
// metatables of strings and files are locked (getmetatable answers false), so that no
// script defines a finaliser or reaches a function that is not a row. package.loaded holds
// the new tables only.
//
// Without it the state keeps Lua's whole library, with the bounded rows in place of Lua's
// own functions, require's Lua loader bounded, and guards on the debug library: it does not
// change the upvalues of C functions nor the environments of C functions and userdata, does
// not set the locals of a C function's frame, does not take the option '>' of getinfo, and
// debug.sethook is refused (the time limit uses the hook).

struct lua_State;

void installScriptLibrary(lua_State* state, bool sandbox);
// Whether the state in use is sandboxed.
bool sandboxActive();

// debug.getinfo, bounded (a row of the table).
int boundedGetInfo(lua_State* state);
