#pragma once

struct lua_State;

// Creates the global table "vx5" through which scripts call the host.
void registerVX5Lib(lua_State* state);
