#include "luastate.h"

#include "luafiles.h"
#include "luahelpers.h"
#include "lualimits.h"
#include "luamodules.h"
#include "vx5lualib.h"

extern "C" {
#include <lualib.h>
}

#include <cstdio>
#include <cstdlib>

namespace {

constexpr char scriptsFolder[] = "lua_plugin/";
constexpr char luaPathFormat[] = "%slua_plugin/?.lua";
constexpr char eventsScript[] = "lua_plugin/vx5events.lua";

int openState(lua_State* ls)
{
    const auto* limits = static_cast<const LuaLimits*>(takeCallData(ls, openState));
    luaL_openlibs(ls);
    installLimits(ls, *limits);
    registerVX5Lib(ls);
    registerDispatcher(ls);
    return 0;
}

void closeNow()
{
    std::printf("Shutting down Lua interpreter\n");
    if (L) {
        // Finalisers run now, under the time limit like every other call into Lua.
        enterClientCall();
        closeLimitedState(L);
        L = nullptr;
        leaveClientCall();
    }
    closeScriptFiles(); // those a script's finaliser kept open too
    clearStopRequest();
}

void closeAndForgetPlugin()
{
    closeNow();
    std::free(pluginID);
    pluginID = nullptr;
}

int startNow()
{
    std::printf("Initializing Lua interpreter\n");
    // A second start without a shutdown would otherwise lose the running state.
    if (L)
        closeNow();

    char path[hostPathSize];
    char luaPath[sizeof luaPathFormat + hostPathSize];
    char scriptPath[hostPathSize];
    char scriptsPath[hostPathSize];
    // A path that does not fit is refused rather than cut: a cut path can name another
    // existing file, which would then run as the events script.
    if (!getHostPath(vx5Functions.getPluginPath, path) ||
        std::snprintf(scriptPath, sizeof scriptPath, "%s%s", path, eventsScript) >= int(sizeof scriptPath) ||
        std::snprintf(scriptsPath, sizeof scriptsPath, "%s%s", path, scriptsFolder) >= int(sizeof scriptsPath)) {
        std::printf("Plugin path too long: not loading the Lua scripts\n");
        return 1;
    }
    // setenv keeps a copy: an entry in the plug-in's own memory would dangle once the
    // client unloads the plug-in, and the client's next getenv would crash.
    std::snprintf(luaPath, sizeof luaPath, luaPathFormat, path);
    setenv("LUA_PATH", luaPath, 1);
    const LuaLimits limits = configuredLuaLimits();
    openScriptFolders(scriptsPath);

    L = newLimitedState(limits);
    if (!L) {
        std::printf("Failed to create Lua state. Aborting...\n");
        return 1;
    }
    // One call, under one time limit: the libraries, the events script and the modules.
    enterClientCall();
    if (callInProtection(L, openState, const_cast<LuaLimits*>(&limits)) != 0) {
        char numberText[numberTextSize];
        std::printf("Failed to open the Lua libraries: %.*s\n", errorTextLength, errorText(L, -1, numberText));
        leaveClientCall();
        closeNow();
        return 1;
    }
    const int status = loadLuaScript(scriptPath);
    loadLuaModules();
    leaveClientCall();
    return status;
}

void restartNow()
{
    startNow();
}

// Runs change now, or says that it waits for the running script and runs it then.
void betweenCalls(void (*change)(), const char* waiting)
{
    if (clientCallRunning())
        std::printf("LUA_PLUGIN: %s Lua when the running script returns\n", waiting);
    runBetweenClientCalls(change);
}

} // namespace

int initLua()
{
    if (!clientCallRunning())
        return startNow();
    betweenCalls(restartNow, "starting");
    return 0;
}

void restartLua()
{
    betweenCalls(restartNow, "restarting");
}

void closeLua()
{
    if (clientCallRunning())
        requestStop();
    betweenCalls(closeNow, "closing");
}

void shutdownLua()
{
    if (clientCallRunning())
        requestStop();
    betweenCalls(closeAndForgetPlugin, "closing");
}
