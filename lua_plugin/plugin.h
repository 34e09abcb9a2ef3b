#pragma once

// The plug-in's exports: the only symbols the library makes visible. The client looks
// them up by name; every export returns 0 for success and 1 for failure unless noted.

#include "vx5functions.h"

#include <cstdint>

#define VX5_EXPORT extern "C" __attribute__((visibility("default")))

VX5_EXPORT const char* vx5plugin_name();
VX5_EXPORT const char* vx5plugin_version();
VX5_EXPORT int vx5plugin_apiVersion();
VX5_EXPORT const char* vx5plugin_author();
VX5_EXPORT const char* vx5plugin_description();
VX5_EXPORT void vx5plugin_setFunctionPointers(const VX5Functions functions);
VX5_EXPORT int vx5plugin_init();
VX5_EXPORT void vx5plugin_registerPluginID(const char* id);
VX5_EXPORT void vx5plugin_shutdown();
VX5_EXPORT void vx5plugin_freeMemory(void* pointer);

// Console command, menus and configuration; see luacommands.cpp.
VX5_EXPORT const char* vx5plugin_commandKeyword();
VX5_EXPORT int vx5plugin_processCommand(uint64_t connection, const char* command);
VX5_EXPORT void vx5plugin_initMenus(MenuItem*** menuItems, char** menuIcon);
VX5_EXPORT int vx5plugin_onMenuItemEvent(uint64_t connection, int type, int menuItemID, uint64_t selectedItemID);
VX5_EXPORT int vx5plugin_offersConfigure();
VX5_EXPORT void vx5plugin_configure(void* handle, void* qParentWidget);

// Events: each calls the Lua handler of the same name; see luaevents.cpp.
VX5_EXPORT int vx5plugin_onServerTemporaryPasswordListEvent(uint64_t connection, const char* arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, uint64_t arg8, const char* arg9);
VX5_EXPORT int vx5plugin_onPluginCommandEvent(uint64_t connection, const char* arg2, const char* arg3);
VX5_EXPORT int vx5plugin_onClientServerQueryLoginPasswordEvent(uint64_t connection, const char* arg2);
VX5_EXPORT int vx5plugin_onBanListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6, uint64_t arg7, const char* arg8, uint64_t arg9, const char* arg10, const char* arg11, int arg12, int arg13);
VX5_EXPORT int vx5plugin_onComplainListEvent(uint64_t connection, uint64_t arg2, const char* arg3, uint64_t arg4, const char* arg5, const char* arg6, uint64_t arg7);
VX5_EXPORT int vx5plugin_onClientNamefromDBIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4);
VX5_EXPORT int vx5plugin_onClientNamefromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, const char* arg4);
VX5_EXPORT int vx5plugin_onClientDBIDfromUIDEvent(uint64_t connection, const char* arg2, uint64_t arg3);
VX5_EXPORT int vx5plugin_onMessageGetEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, const char* arg5, uint64_t arg6);
VX5_EXPORT int vx5plugin_onMessageListEvent(uint64_t connection, uint64_t arg2, const char* arg3, const char* arg4, uint64_t arg5, int arg6);
VX5_EXPORT int vx5plugin_onServerQueryEvent(uint64_t connection, const char* arg2);
VX5_EXPORT int vx5plugin_onServerLogFinishedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3);
VX5_EXPORT int vx5plugin_onServerLogEvent(uint64_t connection, const char* arg2);
VX5_EXPORT int vx5plugin_onClientChatComposingEvent(uint64_t connection, anyID arg2, const char* arg3);
VX5_EXPORT int vx5plugin_onClientChatClosedEvent(uint64_t connection, anyID arg2, const char* arg3);
VX5_EXPORT int vx5plugin_onClientNeededPermissionsFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onClientNeededPermissionsEvent(uint64_t connection, anyID arg2, int arg3);
VX5_EXPORT int vx5plugin_onServerGroupClientDeletedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8);
VX5_EXPORT int vx5plugin_onServerGroupClientAddedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, uint64_t arg5, anyID arg6, const char* arg7, const char* arg8);
VX5_EXPORT int vx5plugin_onPermissionOverviewFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onPermissionOverviewEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, int arg4, uint64_t arg5, uint64_t arg6, anyID arg7, int arg8, int arg9, int arg10);
VX5_EXPORT int vx5plugin_onPermissionListFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onPermissionListEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4);
VX5_EXPORT int vx5plugin_onServerPermissionErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* arg4, anyID arg5);
VX5_EXPORT int vx5plugin_onClientChannelGroupChangedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, anyID arg5, const char* arg6, const char* arg7);
VX5_EXPORT int vx5plugin_onChannelPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6);
VX5_EXPORT int vx5plugin_onChannelGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6);
VX5_EXPORT int vx5plugin_onChannelGroupListFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onChannelGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6);
VX5_EXPORT int vx5plugin_onServerGroupClientListEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, const char* arg4, const char* arg5);
VX5_EXPORT int vx5plugin_onServerGroupPermListEvent(uint64_t connection, uint64_t arg2, anyID arg3, int arg4, int arg5, int arg6);
VX5_EXPORT int vx5plugin_onServerGroupByClientIDEvent(uint64_t connection, const char* arg2, uint64_t arg3, uint64_t arg4);
VX5_EXPORT int vx5plugin_onServerGroupListFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onServerGroupListEvent(uint64_t connection, uint64_t arg2, const char* arg3, int arg4, int arg5, int arg6);
VX5_EXPORT int vx5plugin_onClientSelfVariableUpdateEvent(uint64_t connection, int arg2, const char* arg3, const char* arg4);
VX5_EXPORT int vx5plugin_onClientPokeEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4, const char* arg5, int arg6);
VX5_EXPORT int vx5plugin_onClientBanFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, uint64_t arg9, const char* arg10);
VX5_EXPORT int vx5plugin_onPlaybackShutdownCompleteEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onChannelPasswordChangedEvent(uint64_t connection, uint64_t arg2);
VX5_EXPORT int vx5plugin_onChannelDescriptionUpdateEvent(uint64_t connection, uint64_t arg2);
VX5_EXPORT int vx5plugin_onChannelUnsubscribeFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onChannelUnsubscribeEvent(uint64_t connection, uint64_t arg2);
VX5_EXPORT int vx5plugin_onChannelSubscribeFinishedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onChannelSubscribeEvent(uint64_t connection, uint64_t arg2);
VX5_EXPORT int vx5plugin_onServerConnectionInfoEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onConnectionInfoEvent(uint64_t connection, anyID arg2);
VX5_EXPORT int vx5plugin_onTalkStatusChangeEvent(uint64_t connection, int arg2, int arg3, anyID arg4);
VX5_EXPORT int vx5plugin_onTextMessageEvent(uint64_t connection, anyID arg2, anyID arg3, anyID arg4, const char* arg5, const char* arg6, const char* arg7, int arg8);
VX5_EXPORT int vx5plugin_onServerStopEvent(uint64_t connection, const char* arg2);
VX5_EXPORT int vx5plugin_onServerErrorEvent(uint64_t connection, const char* arg2, int arg3, const char* arg4, const char* arg5);
VX5_EXPORT int vx5plugin_onServerUpdatedEvent(uint64_t connection);
VX5_EXPORT int vx5plugin_onServerEditedEvent(uint64_t connection, anyID arg2, const char* arg3, const char* arg4);
VX5_EXPORT int vx5plugin_onClientKickFromServerEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9);
VX5_EXPORT int vx5plugin_onClientKickFromChannelEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9);
VX5_EXPORT int vx5plugin_onClientMoveMovedEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, anyID arg6, const char* arg7, const char* arg8, const char* arg9);
VX5_EXPORT int vx5plugin_onClientMoveTimeoutEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6);
VX5_EXPORT int vx5plugin_onClientMoveSubscriptionEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5);
VX5_EXPORT int vx5plugin_onClientMoveEvent(uint64_t connection, anyID arg2, uint64_t arg3, uint64_t arg4, int arg5, const char* arg6);
VX5_EXPORT int vx5plugin_onUpdateClientEvent(uint64_t connection, anyID arg2);
VX5_EXPORT int vx5plugin_onUpdateChannelEditedEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5);
VX5_EXPORT int vx5plugin_onUpdateChannelEvent(uint64_t connection, uint64_t arg2);
VX5_EXPORT int vx5plugin_onChannelMoveEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6);
VX5_EXPORT int vx5plugin_onDelChannelEvent(uint64_t connection, uint64_t arg2, anyID arg3, const char* arg4, const char* arg5);
VX5_EXPORT int vx5plugin_onNewChannelCreatedEvent(uint64_t connection, uint64_t arg2, uint64_t arg3, anyID arg4, const char* arg5, const char* arg6);
VX5_EXPORT int vx5plugin_onNewChannelEvent(uint64_t connection, uint64_t arg2, uint64_t arg3);
VX5_EXPORT int vx5plugin_onConnectStatusChangeEvent(uint64_t connection, int arg2, int arg3);
VX5_EXPORT int vx5plugin_currentServerConnectionChanged(uint64_t connection);
