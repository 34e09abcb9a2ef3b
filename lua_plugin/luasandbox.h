#pragma once

// What scripts may not reach. Both run under protection on a new state, after the
// standard libraries are open.

struct lua_State;

// Always in force: the debug library cannot replace the upvalues of a C function (an
// iterator's subject, a coroutine wrapper's thread) nor the environment of a userdata or
// C function (a file's close function); Lua's own functions rely on both and would crash
// the client.
void guardDebugLibrary(lua_State* state);

// sandbox in [Limits] of luaconfig.ini (on by default). Scripts lose what could end the
// client (os.exit), block it while a child runs (os.execute, io.popen), run native code
// outside every limit (package.loadlib, the native module loaders), or run code outside
// the time limit (newproxy and debug.setmetatable make finalisers; the rest of the debug
// library but traceback and getinfo). Each such function raises "<name> is not available
// to scripts (sandbox in [Limits] of luaconfig.ini)". The default input (io.read,
// io.lines(), io.stdin) is empty instead of the client's standard input.
// Run it before the bounded library functions replace io.input.
void installSandbox(lua_State* state);
