#pragma once

// The plug-in's one Lua state and the operations everything else works through.
//
// Lua is used as its C build: a Lua error longjmps. Functions here that call into Lua
// (directly or under lua_pcall) therefore hold no objects with destructors, and every
// entry into Lua from the host runs protected, so no script can reach Lua's panic
// handler and end the client.

#include "vx5functions.h"

extern "C" {
#include <lua.h>
}

extern lua_State* L;         // null before init, after shutdown, or when creation failed
extern char* pluginID;       // heap copy of the host's identifier, null until registered
extern VX5Functions vx5Functions;

int initLua();
void closeLua();
int loadLuaScript(const char* path);

// Prints the formatted text to standard error; with a buffer (512 bytes), also writes it there.
void l_error(char* buffer, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Calls the global Lua function name (or "module.function") with the arguments the
// format describes; see luahelpers.cpp. Returns 0 on success, 1 on any failure.
int callLuaFunction(char* errorBuffer, const char* name, const char* format, ...);

constexpr int errorBufferSize = 512;
