#pragma once

// Library functions that work long in C, where the time limit's hook does not reach,
// replaced by bounded ones: what they would make is checked against the memory cap
// before any work, and the time is checked while they work or right after.
// - string.rep: size checked first, built by doubling; "" at once for an empty string or
//   a count below one.
// - table.concat: lengths summed and checked first, the time checked as it goes.
// - table.sort: a long list without a comparison function is sorted with one of the
//   plug-in's that looks at the time.
// - load, loadstring, loadfile, dofile, and require's loader of Lua files: the text is
//   parsed in pieces with the time checked between them; files must be regular and fit
//   the cap, and are read whole before parsing. With refuseBinaryChunks (the sandbox),
//   precompiled chunks, which Lua 5.1 does not verify, are refused.
// - io.open, io.lines, io.input, io.output: open without waiting (a FIFO or a device
//   other than the null device is refused, as "not a regular file"); reads of a whole
//   file or a count take their size from the file and are checked against the cap.
// - the string and table functions that copy or shift all their input, unpack and
//   collectgarbage: the time is checked right after.
// Argument errors keep naming the function the script called.

struct lua_State;
using lua_CFunction = int (*)(lua_State*);

void installBoundedFunctions(lua_State* state, bool refuseBinaryChunks);

// Replaces table.name (a global without a table) with replacement; the C function it was.
// The original is kept on the plug-in's side, not in an upvalue a script could replace.
lua_CFunction replaceFunction(lua_State* state, const char* table, const char* name, lua_CFunction replacement);

// Loads a file as a Lua chunk through the bounded reader (the plug-in's events script and
// modules load this way): the chunk, or an error raised. Call it under protection.
void loadBoundedFile(lua_State* state, const char* path);
