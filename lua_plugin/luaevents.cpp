// The client's event callbacks. Each forwards the listed host arguments to the Lua
// function of the same name through the typed path of the dispatcher (callLuaHandler):
// the arguments' C types say how each becomes a Lua value, as the letters of
// callLuaFunction do. Host arguments the handlers do not receive are left out.

#include "plugin.h"

#include "luahelpers.h"


int vx5plugin_onServerTemporaryPasswordListEvent(uint64_t connection, const char* arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, uint64_t arg8, const char* arg9)
{
    static HandlerName handler{"onServerTemporaryPasswordListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onPluginCommandEvent(uint64_t connection, const char* arg2, const char* arg3)
{
    static HandlerName handler{"onPluginCommandEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onClientServerQueryLoginPasswordEvent(uint64_t connection, const char* arg2)
{
    static HandlerName handler{"onClientServerQueryLoginPasswordEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onBanListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, const char* arg8, uint64_t arg9, const char* arg10, const char* arg11, int arg12, int /*not passed*/)
{
    static HandlerName handler{"onBanListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10, arg11, arg12);
}

int vx5plugin_onComplainListEvent(uint64_t connection, uint64_t arg2, const char* arg3, uint64_t arg4, const char* arg5, const char* arg6, uint64_t arg7)
{
    static HandlerName handler{"onComplainListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onClientNamefromDBIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    static HandlerName handler{"onClientNamefromDBIDEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onClientNamefromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    static HandlerName handler{"onClientNamefromUIDEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onClientDBIDfromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3)
{
    static HandlerName handler{"onClientDBIDfromUIDEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onMessageGetEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6)
{
    static HandlerName handler{"onMessageGetEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onMessageListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, uint64_t arg5, int arg6)
{
    static HandlerName handler{"onMessageListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerQueryEvent(uint64_t connection, const char* arg2)
{
    static HandlerName handler{"onServerQueryEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onServerLogFinishedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    static HandlerName handler{"onServerLogFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onServerLogEvent(uint64_t connection, const char* arg2)
{
    static HandlerName handler{"onServerLogEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onClientChatComposingEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    static HandlerName handler{"onClientChatComposingEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onClientChatClosedEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    static HandlerName handler{"onClientChatClosedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onClientNeededPermissionsFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onClientNeededPermissionsFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onClientNeededPermissionsEvent(uint64_t connection, anyID arg2, int arg3)
{
    static HandlerName handler{"onClientNeededPermissionsEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onServerGroupClientDeletedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    static HandlerName handler{"onServerGroupClientDeletedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onServerGroupClientAddedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    static HandlerName handler{"onServerGroupClientAddedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onPermissionOverviewFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onPermissionOverviewFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onPermissionOverviewEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, int arg4, uint64_t arg5, uint64_t arg6, anyID arg7, int arg8, int arg9, int arg10)
{
    static HandlerName handler{"onPermissionOverviewEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPermissionListFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onPermissionListFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onPermissionListEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    static HandlerName handler{"onPermissionListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onServerPermissionErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, anyID arg5)
{
    static HandlerName handler{"onServerPermissionErrorEvent"};
    callLuaHandler(nullptr, handler, connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onClientChannelGroupChangedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, anyID arg5, const char* arg6, const char* arg7)
{
    static HandlerName handler{"onClientChannelGroupChangedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onChannelPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    static HandlerName handler{"onChannelPermListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    static HandlerName handler{"onChannelGroupPermListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupListFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onChannelGroupListFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onChannelGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    static HandlerName handler{"onChannelGroupListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupClientListEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, const char* arg4, const char* arg5)
{
    static HandlerName handler{"onServerGroupClientListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onServerGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    static HandlerName handler{"onServerGroupPermListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupByClientIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, uint64_t arg4)
{
    static HandlerName handler{"onServerGroupByClientIDEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onServerGroupListFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onServerGroupListFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onServerGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    static HandlerName handler{"onServerGroupListEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientSelfVariableUpdateEvent(uint64_t connection, int arg2, const char* arg3, const char* arg4)
{
    static HandlerName handler{"onClientSelfVariableUpdateEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onClientPokeEvent(uint64_t connection, anyID arg2, const char* arg3, const char* /*not passed*/, const char* arg5, int arg6)
{
    int result = 0;
    static HandlerName handler{"onClientPokeEvent"};
    callLuaHandler(&result, handler, connection, arg2, arg3, arg5, arg6);
    return result;
}

int vx5plugin_onClientBanFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, uint64_t arg9, const char* arg10)
{
    static HandlerName handler{"onClientBanFromServerEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPlaybackShutdownCompleteEvent(uint64_t connection)
{
    static HandlerName handler{"onPlaybackShutdownCompleteEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onChannelPasswordChangedEvent(uint64_t connection, uint64_t arg2)
{
    static HandlerName handler{"onChannelPasswordChangedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onChannelDescriptionUpdateEvent(uint64_t connection, uint64_t arg2)
{
    static HandlerName handler{"onChannelDescriptionUpdateEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onChannelUnsubscribeFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onChannelUnsubscribeFinishedEvent"};
    // Lua receives the low 32 bits of the handler ID as a signed number.
    return callLuaHandler(nullptr, handler, int(std::uint32_t(connection)));
}

int vx5plugin_onChannelUnsubscribeEvent(uint64_t connection, uint64_t arg2)
{
    static HandlerName handler{"onChannelUnsubscribeEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onChannelSubscribeFinishedEvent(uint64_t connection)
{
    static HandlerName handler{"onChannelSubscribeFinishedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onChannelSubscribeEvent(uint64_t connection, uint64_t arg2)
{
    static HandlerName handler{"onChannelSubscribeEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onServerConnectionInfoEvent(uint64_t connection)
{
    static HandlerName handler{"onServerConnectionInfoEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onConnectionInfoEvent(uint64_t connection, anyID arg2)
{
    static HandlerName handler{"onConnectionInfoEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onTalkStatusChangeEvent(uint64_t connection, int arg2, int arg3, anyID arg4)
{
    static HandlerName handler{"onTalkStatusChangeEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onTextMessageEvent(uint64_t connection, anyID arg2, anyID arg3, anyID arg4, const char* arg5, const char* arg6, const char* arg7, int arg8)
{
    int result = 0;
    static HandlerName handler{"onTextMessageEvent"};
    callLuaHandler(&result, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
    return result;
}

int vx5plugin_onServerStopEvent(uint64_t connection, const char* arg2)
{
    static HandlerName handler{"onServerStopEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onServerErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, const char* arg5)
{
    static HandlerName handler{"onServerErrorEvent"};
    callLuaHandler(nullptr, handler, connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onServerUpdatedEvent(uint64_t connection)
{
    static HandlerName handler{"onServerUpdatedEvent"};
    return callLuaHandler(nullptr, handler, connection);
}

int vx5plugin_onServerEditedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    static HandlerName handler{"onServerEditedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4);
}

int vx5plugin_onClientKickFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    static HandlerName handler{"onClientKickFromServerEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientKickFromChannelEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    static HandlerName handler{"onClientKickFromChannelEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveMovedEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    static HandlerName handler{"onClientMoveMovedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveTimeoutEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    static HandlerName handler{"onClientMoveTimeoutEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientMoveSubscriptionEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5)
{
    static HandlerName handler{"onClientMoveSubscriptionEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onClientMoveEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    static HandlerName handler{"onClientMoveEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onUpdateClientEvent(uint64_t connection, anyID arg2)
{
    static HandlerName handler{"onUpdateClientEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onUpdateChannelEditedEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    static HandlerName handler{"onUpdateChannelEditedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onUpdateChannelEvent(uint64_t connection, uint64_t arg2)
{
    static HandlerName handler{"onUpdateChannelEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2);
}

int vx5plugin_onChannelMoveEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    static HandlerName handler{"onChannelMove"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onDelChannelEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    static HandlerName handler{"onDelChannelEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onNewChannelCreatedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    static HandlerName handler{"onNewChannelCreatedEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onNewChannelEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    static HandlerName handler{"onNewChannelEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_onConnectStatusChangeEvent(uint64_t connection, int arg2, int arg3)
{
    static HandlerName handler{"onConnectStatusChangeEvent"};
    return callLuaHandler(nullptr, handler, connection, arg2, arg3);
}

int vx5plugin_currentServerConnectionChanged(uint64_t connection)
{
    static HandlerName handler{"currentServerConnectionChanged"};
    return callLuaHandler(nullptr, handler, connection);
}
