#include "vx5lualib.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

namespace {

// Every host function scripts can call, by its Lua name. The host-function wrappers
// join this list as they are written; scripts can rely on the table existing.
const luaL_Reg callbackList[] = {
    {nullptr, nullptr},
};

} // namespace

void registerVX5Lib(lua_State* state)
{
    luaL_register(state, "vx5", callbackList); // vx5
    lua_pop(state, 1);                         // (empty)
}
