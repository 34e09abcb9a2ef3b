#include "plugin.h"

#include "luaconfigdialog.h"
#include "luahelpers.h"
#include "luastate.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

const char* vx5plugin_name()
{
    return "Lua Plugin";
}

const char* vx5plugin_version()
{
    return "1.0";
}

int vx5plugin_apiVersion()
{
    return 17;
}

const char* vx5plugin_author()
{
    return "Voxmere";
}

const char* vx5plugin_description()
{
    return "Lua script support for the Voxmere 3 client.";
}

void vx5plugin_setFunctionPointers(const VX5Functions functions)
{
    vx5Functions = functions;
}

int vx5plugin_init()
{
    std::printf("LUA_PLUGIN: init\n");
    return initLua();
}

void vx5plugin_registerPluginID(const char* id)
{
    const std::size_t size = std::strlen(id) + 1;
    char* copy = static_cast<char*>(std::malloc(size));
    if (!copy)
        return;
    std::memcpy(copy, id, size);
    std::free(pluginID); // a second registration replaces the first
    pluginID = copy;
    std::printf("LUA_PLUGIN: registerPluginID: %s\n", pluginID);
}

void vx5plugin_shutdown()
{
    std::printf("LUA_PLUGIN: shutdown\n");
    closeLuaConfigDialog();
    shutdownLua();
}

void vx5plugin_freeMemory(void* pointer)
{
    std::free(pointer);
}
