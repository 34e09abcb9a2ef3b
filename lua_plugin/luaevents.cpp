// The client's event callbacks. Each forwards the listed host arguments to the Lua
// function of the same name through the typed path of the dispatcher (callLuaHandler):
// the arguments' C types say how each becomes a Lua value, as the letters of
// callLuaFunction do. Host arguments the handlers do not receive are left out.

#include "plugin.h"

#include "luahelpers.h"


int vx5plugin_onServerTemporaryPasswordListEvent(uint64_t connection, const char* arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, uint64_t arg8, const char* arg9)
{
    return callLuaHandler(nullptr, "onServerTemporaryPasswordListEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onPluginCommandEvent(uint64_t connection, const char* arg2, const char* arg3)
{
    return callLuaHandler(nullptr, "onPluginCommandEvent", connection, arg2, arg3);
}

int vx5plugin_onClientServerQueryLoginPasswordEvent(uint64_t connection, const char* arg2)
{
    return callLuaHandler(nullptr, "onClientServerQueryLoginPasswordEvent", connection, arg2);
}

int vx5plugin_onBanListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, const char* arg8, uint64_t arg9, const char* arg10, const char* arg11, int arg12, int /*not passed*/)
{
    return callLuaHandler(nullptr, "onBanListEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10, arg11, arg12);
}

int vx5plugin_onComplainListEvent(uint64_t connection, uint64_t arg2, const char* arg3, uint64_t arg4, const char* arg5, const char* arg6, uint64_t arg7)
{
    return callLuaHandler(nullptr, "onComplainListEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onClientNamefromDBIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    return callLuaHandler(nullptr, "onClientNamefromDBIDEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientNamefromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    return callLuaHandler(nullptr, "onClientNamefromUIDEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientDBIDfromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3)
{
    return callLuaHandler(nullptr, "onClientDBIDfromUIDEvent", connection, arg2, arg3);
}

int vx5plugin_onMessageGetEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6)
{
    return callLuaHandler(nullptr, "onMessageGetEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onMessageListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, uint64_t arg5, int arg6)
{
    return callLuaHandler(nullptr, "onMessageListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerQueryEvent(uint64_t connection, const char* arg2)
{
    return callLuaHandler(nullptr, "onServerQueryEvent", connection, arg2);
}

int vx5plugin_onServerLogFinishedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    return callLuaHandler(nullptr, "onServerLogFinishedEvent", connection, arg2, arg3);
}

int vx5plugin_onServerLogEvent(uint64_t connection, const char* arg2)
{
    return callLuaHandler(nullptr, "onServerLogEvent", connection, arg2);
}

int vx5plugin_onClientChatComposingEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    return callLuaHandler(nullptr, "onClientChatComposingEvent", connection, arg2, arg3);
}

int vx5plugin_onClientChatClosedEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    return callLuaHandler(nullptr, "onClientChatClosedEvent", connection, arg2, arg3);
}

int vx5plugin_onClientNeededPermissionsFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onClientNeededPermissionsFinishedEvent", connection);
}

int vx5plugin_onClientNeededPermissionsEvent(uint64_t connection, anyID arg2, int arg3)
{
    return callLuaHandler(nullptr, "onClientNeededPermissionsEvent", connection, arg2, arg3);
}

int vx5plugin_onServerGroupClientDeletedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    return callLuaHandler(nullptr, "onServerGroupClientDeletedEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onServerGroupClientAddedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    return callLuaHandler(nullptr, "onServerGroupClientAddedEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onPermissionOverviewFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onPermissionOverviewFinishedEvent", connection);
}

int vx5plugin_onPermissionOverviewEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, int arg4, uint64_t arg5, uint64_t arg6, anyID arg7, int arg8, int arg9, int arg10)
{
    return callLuaHandler(nullptr, "onPermissionOverviewEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPermissionListFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onPermissionListFinishedEvent", connection);
}

int vx5plugin_onPermissionListEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    return callLuaHandler(nullptr, "onPermissionListEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onServerPermissionErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, anyID arg5)
{
    callLuaHandler(nullptr, "onServerPermissionErrorEvent", connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onClientChannelGroupChangedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, anyID arg5, const char* arg6, const char* arg7)
{
    return callLuaHandler(nullptr, "onClientChannelGroupChangedEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onChannelPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaHandler(nullptr, "onChannelPermListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaHandler(nullptr, "onChannelGroupPermListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupListFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onChannelGroupListFinishedEvent", connection);
}

int vx5plugin_onChannelGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    return callLuaHandler(nullptr, "onChannelGroupListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupClientListEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, const char* arg4, const char* arg5)
{
    return callLuaHandler(nullptr, "onServerGroupClientListEvent", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onServerGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaHandler(nullptr, "onServerGroupPermListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupByClientIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, uint64_t arg4)
{
    return callLuaHandler(nullptr, "onServerGroupByClientIDEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onServerGroupListFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onServerGroupListFinishedEvent", connection);
}

int vx5plugin_onServerGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    return callLuaHandler(nullptr, "onServerGroupListEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientSelfVariableUpdateEvent(uint64_t connection, int arg2, const char* arg3, const char* arg4)
{
    return callLuaHandler(nullptr, "onClientSelfVariableUpdateEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientPokeEvent(uint64_t connection, anyID arg2, const char* arg3, const char* /*not passed*/, const char* arg5, int arg6)
{
    int result = 0;
    callLuaHandler(&result, "onClientPokeEvent", connection, arg2, arg3, arg5, arg6);
    return result;
}

int vx5plugin_onClientBanFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, uint64_t arg9, const char* arg10)
{
    return callLuaHandler(nullptr, "onClientBanFromServerEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPlaybackShutdownCompleteEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onPlaybackShutdownCompleteEvent", connection);
}

int vx5plugin_onChannelPasswordChangedEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaHandler(nullptr, "onChannelPasswordChangedEvent", connection, arg2);
}

int vx5plugin_onChannelDescriptionUpdateEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaHandler(nullptr, "onChannelDescriptionUpdateEvent", connection, arg2);
}

int vx5plugin_onChannelUnsubscribeFinishedEvent(uint64_t connection)
{
    // Lua receives the low 32 bits of the handler ID as a signed number.
    return callLuaHandler(nullptr, "onChannelUnsubscribeFinishedEvent", int(std::uint32_t(connection)));
}

int vx5plugin_onChannelUnsubscribeEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaHandler(nullptr, "onChannelUnsubscribeEvent", connection, arg2);
}

int vx5plugin_onChannelSubscribeFinishedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onChannelSubscribeFinishedEvent", connection);
}

int vx5plugin_onChannelSubscribeEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaHandler(nullptr, "onChannelSubscribeEvent", connection, arg2);
}

int vx5plugin_onServerConnectionInfoEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onServerConnectionInfoEvent", connection);
}

int vx5plugin_onConnectionInfoEvent(uint64_t connection, anyID arg2)
{
    return callLuaHandler(nullptr, "onConnectionInfoEvent", connection, arg2);
}

int vx5plugin_onTalkStatusChangeEvent(uint64_t connection, int arg2, int arg3, anyID arg4)
{
    return callLuaHandler(nullptr, "onTalkStatusChangeEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onTextMessageEvent(uint64_t connection, anyID arg2, anyID arg3, anyID arg4, const char* arg5, const char* arg6, const char* arg7, int arg8)
{
    int result = 0;
    callLuaHandler(&result, "onTextMessageEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
    return result;
}

int vx5plugin_onServerStopEvent(uint64_t connection, const char* arg2)
{
    return callLuaHandler(nullptr, "onServerStopEvent", connection, arg2);
}

int vx5plugin_onServerErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, const char* arg5)
{
    callLuaHandler(nullptr, "onServerErrorEvent", connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onServerUpdatedEvent(uint64_t connection)
{
    return callLuaHandler(nullptr, "onServerUpdatedEvent", connection);
}

int vx5plugin_onServerEditedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    return callLuaHandler(nullptr, "onServerEditedEvent", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientKickFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaHandler(nullptr, "onClientKickFromServerEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientKickFromChannelEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaHandler(nullptr, "onClientKickFromChannelEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveMovedEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaHandler(nullptr, "onClientMoveMovedEvent", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveTimeoutEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    return callLuaHandler(nullptr, "onClientMoveTimeoutEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientMoveSubscriptionEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5)
{
    return callLuaHandler(nullptr, "onClientMoveSubscriptionEvent", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onClientMoveEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    return callLuaHandler(nullptr, "onClientMoveEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onUpdateClientEvent(uint64_t connection, anyID arg2)
{
    return callLuaHandler(nullptr, "onUpdateClientEvent", connection, arg2);
}

int vx5plugin_onUpdateChannelEditedEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    return callLuaHandler(nullptr, "onUpdateChannelEditedEvent", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onUpdateChannelEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaHandler(nullptr, "onUpdateChannelEvent", connection, arg2);
}

int vx5plugin_onChannelMoveEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    return callLuaHandler(nullptr, "onChannelMove", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onDelChannelEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    return callLuaHandler(nullptr, "onDelChannelEvent", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onNewChannelCreatedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    return callLuaHandler(nullptr, "onNewChannelCreatedEvent", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onNewChannelEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    return callLuaHandler(nullptr, "onNewChannelEvent", connection, arg2, arg3);
}

int vx5plugin_onConnectStatusChangeEvent(uint64_t connection, int arg2, int arg3)
{
    return callLuaHandler(nullptr, "onConnectStatusChangeEvent", connection, arg2, arg3);
}

int vx5plugin_currentServerConnectionChanged(uint64_t connection)
{
    return callLuaHandler(nullptr, "currentServerConnectionChanged", connection);
}
