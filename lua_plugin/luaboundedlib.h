#pragma once

// The plug-in's own versions of library functions whose originals could work long in C,
// where the time limit's hook does not reach, take memory outside the cap, or reach
// outside the state: what each bounds is said in its row of luasandboxtable.h. Each checks
// its arguments before any work, sizes what it would make against the memory cap first,
// and looks at the clock while it works or right after. Argument errors keep naming the
// function the script called.
//
// Lua is the C build: these raise Lua errors (longjmp) and hold no objects with
// destructors.

#include <cstddef>

struct lua_State;
using lua_CFunction = int (*)(lua_State*);

// Before the rows are put in place (under protection, the libraries open): takes the
// library functions the bounded ones call, and seeds the state's random numbers.
void takeLibraryOriginals(lua_State* state);

// A callback a library function calls again and again (a comparison, a replacement) that is
// a C function or a table runs no instruction the hook could stop: the value at index
// becomes a function that calls it (or looks the table up with its first argument) and
// looks at the clock every 64 calls.
void checkCallbacks(lua_State* state, int index);

// Loads a file as a Lua chunk through the bounded reader (the plug-in's events script and
// modules load this way, with the plug-in's own file rules): the chunk, or an error raised.
// Call it under protection.
void loadBoundedFile(lua_State* state, const char* path);

// require's loader of Lua files without the sandbox (package.loaders[2]): finds the module
// along package.path as Lua's own loader does, taking regular files only, and loads it
// bounded. Upvalue: the package table.
int boundedLuaLoader(lua_State* state);

// base
int boundedCollectGarbage(lua_State* state);
int boundedDoFile(lua_State* state);
int boundedLoad(lua_State* state);
int boundedLoadFile(lua_State* state);
int boundedLoadString(lua_State* state);
int boundedTonumber(lua_State* state);
int boundedUnpack(lua_State* state);
int sandboxRequire(lua_State* state);
// string
int boundedFormat(lua_State* state);
int boundedLower(lua_State* state);
int boundedRep(lua_State* state);
int boundedReverse(lua_State* state);
int boundedUpper(lua_State* state);
// table
int boundedConcat(lua_State* state);
int boundedInsert(lua_State* state);
int boundedMaxn(lua_State* state);
int boundedRemove(lua_State* state);
int boundedSort(lua_State* state);
// math and os
int boundedDate(lua_State* state);
int boundedRandom(lua_State* state);
int boundedRandomSeed(lua_State* state);
