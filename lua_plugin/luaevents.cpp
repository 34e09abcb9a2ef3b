// The client's event callbacks. Each forwards the listed host arguments to the Lua
// function of the same name (or the one named here) through the dispatcher; the letters
// say how each becomes a Lua value (see callLuaFunction). Host arguments the handlers
// do not receive are left out of the call.

#include "plugin.h"

#include "luahelpers.h"


int vx5plugin_onServerTemporaryPasswordListEvent(uint64_t connection, const char* arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, uint64_t arg8, const char* arg9)
{
    return callLuaFunction(nullptr, "onServerTemporaryPasswordListEvent", "ussssuuus", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onPluginCommandEvent(uint64_t connection, const char* arg2, const char* arg3)
{
    return callLuaFunction(nullptr, "onPluginCommandEvent", "uss", connection, arg2, arg3);
}

int vx5plugin_onClientServerQueryLoginPasswordEvent(uint64_t connection, const char* arg2)
{
    return callLuaFunction(nullptr, "onClientServerQueryLoginPasswordEvent", "us", connection, arg2);
}

int vx5plugin_onBanListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, const char* arg8, uint64_t arg9, const char* arg10, const char* arg11, int arg12, int /*not passed*/)
{
    return callLuaFunction(nullptr, "onBanListEvent", "uusssuusussi", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10, arg11, arg12);
}

int vx5plugin_onComplainListEvent(uint64_t connection, uint64_t arg2, const char* arg3, uint64_t arg4, const char* arg5, const char* arg6, uint64_t arg7)
{
    return callLuaFunction(nullptr, "onComplainListEvent", "uusussu", connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onClientNamefromDBIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    return callLuaFunction(nullptr, "onClientNamefromDBIDEvent", "usus", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientNamefromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4)
{
    return callLuaFunction(nullptr, "onClientNamefromUIDEvent", "usus", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientDBIDfromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3)
{
    return callLuaFunction(nullptr, "onClientDBIDfromUIDEvent", "usu", connection, arg2, arg3);
}

int vx5plugin_onMessageGetEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6)
{
    return callLuaFunction(nullptr, "onMessageGetEvent", "uusssu", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onMessageListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, uint64_t arg5, int arg6)
{
    return callLuaFunction(nullptr, "onMessageListEvent", "uussui", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerQueryEvent(uint64_t connection, const char* arg2)
{
    return callLuaFunction(nullptr, "onServerQueryEvent", "us", connection, arg2);
}

int vx5plugin_onServerLogFinishedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    return callLuaFunction(nullptr, "onServerLogFinishedEvent", "uuu", connection, arg2, arg3);
}

int vx5plugin_onServerLogEvent(uint64_t connection, const char* arg2)
{
    return callLuaFunction(nullptr, "onServerLogEvent", "us", connection, arg2);
}

int vx5plugin_onClientChatComposingEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    return callLuaFunction(nullptr, "onClientChatComposingEvent", "uas", connection, arg2, arg3);
}

int vx5plugin_onClientChatClosedEvent(uint64_t connection, anyID arg2, const char* arg3)
{
    return callLuaFunction(nullptr, "onClientChatClosedEvent", "uas", connection, arg2, arg3);
}

int vx5plugin_onClientNeededPermissionsFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onClientNeededPermissionsFinishedEvent", "u", connection);
}

int vx5plugin_onClientNeededPermissionsEvent(uint64_t connection, anyID arg2, int arg3)
{
    return callLuaFunction(nullptr, "onClientNeededPermissionsEvent", "uai", connection, arg2, arg3);
}

int vx5plugin_onServerGroupClientDeletedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    return callLuaFunction(nullptr, "onServerGroupClientDeletedEvent", "uassuass", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onServerGroupClientAddedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8)
{
    return callLuaFunction(nullptr, "onServerGroupClientAddedEvent", "uassuass", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8);
}

int vx5plugin_onPermissionOverviewFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onPermissionOverviewFinishedEvent", "u", connection);
}

int vx5plugin_onPermissionOverviewEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, int arg4, uint64_t arg5, uint64_t arg6, anyID arg7, int arg8, int arg9, int arg10)
{
    return callLuaFunction(nullptr, "onPermissionOverviewEvent", "uuuiuuaiii", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPermissionListFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onPermissionListFinishedEvent", "u", connection);
}

int vx5plugin_onPermissionListEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    return callLuaFunction(nullptr, "onPermissionListEvent", "uass", connection, arg2, arg3, arg4);
}

int vx5plugin_onServerPermissionErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, anyID arg5)
{
    callLuaFunction(nullptr, "onServerPermissionErrorEvent", "usia", connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onClientChannelGroupChangedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, anyID arg5, const char* arg6, const char* arg7)
{
    return callLuaFunction(nullptr, "onClientChannelGroupChangedEvent", "uuuaass", connection, arg2, arg3, arg4, arg5, arg6, arg7);
}

int vx5plugin_onChannelPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaFunction(nullptr, "onChannelPermListEvent", "uuaiii", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaFunction(nullptr, "onChannelGroupPermListEvent", "uuaiii", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onChannelGroupListFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onChannelGroupListFinishedEvent", "u", connection);
}

int vx5plugin_onChannelGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    return callLuaFunction(nullptr, "onChannelGroupListEvent", "uusiii", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupClientListEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, const char* arg4, const char* arg5)
{
    return callLuaFunction(nullptr, "onServerGroupClientListEvent", "uuuss", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onServerGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6)
{
    return callLuaFunction(nullptr, "onServerGroupPermListEvent", "uuaiii", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onServerGroupByClientIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, uint64_t arg4)
{
    return callLuaFunction(nullptr, "onServerGroupByClientIDEvent", "usuu", connection, arg2, arg3, arg4);
}

int vx5plugin_onServerGroupListFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onServerGroupListFinishedEvent", "u", connection);
}

int vx5plugin_onServerGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6)
{
    return callLuaFunction(nullptr, "onServerGroupListEvent", "uusiii", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientSelfVariableUpdateEvent(uint64_t connection, int arg2, const char* arg3, const char* arg4)
{
    return callLuaFunction(nullptr, "onClientSelfVariableUpdateEvent", "uiss", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientPokeEvent(uint64_t connection, anyID arg2, const char* arg3, const char* /*not passed*/, const char* arg5, int arg6)
{
    int result = 0;
    callLuaFunction(nullptr, "onClientPokeEvent", "uassi>i", connection, arg2, arg3, arg5, arg6, &result);
    return result;
}

int vx5plugin_onClientBanFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, uint64_t arg9, const char* arg10)
{
    return callLuaFunction(nullptr, "onClientBanFromServerEvent", "uauuiassus", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9, arg10);
}

int vx5plugin_onPlaybackShutdownCompleteEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onPlaybackShutdownCompleteEvent", "u", connection);
}

int vx5plugin_onChannelPasswordChangedEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaFunction(nullptr, "onChannelPasswordChangedEvent", "uu", connection, arg2);
}

int vx5plugin_onChannelDescriptionUpdateEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaFunction(nullptr, "onChannelDescriptionUpdateEvent", "uu", connection, arg2);
}

int vx5plugin_onChannelUnsubscribeFinishedEvent(uint64_t connection)
{
    // Lua receives the low 32 bits of the handler ID as a signed number.
    return callLuaFunction(nullptr, "onChannelUnsubscribeFinishedEvent", "i", int(std::uint32_t(connection)));
}

int vx5plugin_onChannelUnsubscribeEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaFunction(nullptr, "onChannelUnsubscribeEvent", "uu", connection, arg2);
}

int vx5plugin_onChannelSubscribeFinishedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onChannelSubscribeFinishedEvent", "u", connection);
}

int vx5plugin_onChannelSubscribeEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaFunction(nullptr, "onChannelSubscribeEvent", "uu", connection, arg2);
}

int vx5plugin_onServerConnectionInfoEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onServerConnectionInfoEvent", "u", connection);
}

int vx5plugin_onConnectionInfoEvent(uint64_t connection, anyID arg2)
{
    return callLuaFunction(nullptr, "onConnectionInfoEvent", "ua", connection, arg2);
}

int vx5plugin_onTalkStatusChangeEvent(uint64_t connection, int arg2, int arg3, anyID arg4)
{
    return callLuaFunction(nullptr, "onTalkStatusChangeEvent", "uiia", connection, arg2, arg3, arg4);
}

int vx5plugin_onTextMessageEvent(uint64_t connection, anyID arg2, anyID arg3, anyID arg4, const char* arg5, const char* arg6, const char* arg7, int arg8)
{
    int result = 0;
    callLuaFunction(nullptr, "onTextMessageEvent", "uaaasssi>i", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, &result);
    return result;
}

int vx5plugin_onServerStopEvent(uint64_t connection, const char* arg2)
{
    return callLuaFunction(nullptr, "onServerStopEvent", "us", connection, arg2);
}

int vx5plugin_onServerErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* /*not passed*/, const char* arg5)
{
    callLuaFunction(nullptr, "onServerErrorEvent", "usis", connection, arg2, arg3, arg5);
    return 0;
}

int vx5plugin_onServerUpdatedEvent(uint64_t connection)
{
    return callLuaFunction(nullptr, "onServerUpdatedEvent", "u", connection);
}

int vx5plugin_onServerEditedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4)
{
    return callLuaFunction(nullptr, "onServerEditedEvent", "uass", connection, arg2, arg3, arg4);
}

int vx5plugin_onClientKickFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaFunction(nullptr, "onClientKickFromServerEvent", "uauuiasss", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientKickFromChannelEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaFunction(nullptr, "onClientKickFromChannelEvent", "uauuiasss", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveMovedEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9)
{
    return callLuaFunction(nullptr, "onClientMoveMovedEvent", "uauuiasss", connection, arg2, arg3, arg4, arg5, arg6, arg7, arg8, arg9);
}

int vx5plugin_onClientMoveTimeoutEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    return callLuaFunction(nullptr, "onClientMoveTimeoutEvent", "uauuis", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onClientMoveSubscriptionEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5)
{
    return callLuaFunction(nullptr, "onClientMoveSubscriptionEvent", "uauui", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onClientMoveEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6)
{
    return callLuaFunction(nullptr, "onClientMoveEvent", "uauuis", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onUpdateClientEvent(uint64_t connection, anyID arg2)
{
    return callLuaFunction(nullptr, "onUpdateClientEvent", "ua", connection, arg2);
}

int vx5plugin_onUpdateChannelEditedEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    return callLuaFunction(nullptr, "onUpdateChannelEditedEvent", "uuass", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onUpdateChannelEvent(uint64_t connection, uint64_t arg2)
{
    return callLuaFunction(nullptr, "onUpdateChannelEvent", "uu", connection, arg2);
}

int vx5plugin_onChannelMoveEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    return callLuaFunction(nullptr, "onChannelMove", "uuuass", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onDelChannelEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5)
{
    return callLuaFunction(nullptr, "onDelChannelEvent", "uuass", connection, arg2, arg3, arg4, arg5);
}

int vx5plugin_onNewChannelCreatedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6)
{
    return callLuaFunction(nullptr, "onNewChannelCreatedEvent", "uuuass", connection, arg2, arg3, arg4, arg5, arg6);
}

int vx5plugin_onNewChannelEvent(uint64_t connection, uint64_t arg2, uint64_t arg3)
{
    return callLuaFunction(nullptr, "onNewChannelEvent", "uuu", connection, arg2, arg3);
}

int vx5plugin_onConnectStatusChangeEvent(uint64_t connection, int arg2, int arg3)
{
    return callLuaFunction(nullptr, "onConnectStatusChangeEvent", "uii", connection, arg2, arg3);
}

int vx5plugin_currentServerConnectionChanged(uint64_t connection)
{
    return callLuaFunction(nullptr, "currentServerConnectionChanged", "u", connection);
}
