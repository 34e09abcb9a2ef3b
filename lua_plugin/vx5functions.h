#pragma once

// The host function table: 206 pointer-sized entries that the client hands to the
// plug-in (vx5plugin_setFunctionPointers). Entries the plug-in calls carry their name
// and signature; the others are kept as opaque slots so that every position stays fixed.
// Entries that can fail return an error code, 0 (ERROR_ok) meaning success.

#include <cstddef>
#include <cstdint>

using anyID = std::uint16_t;

enum : unsigned int {
    ERROR_ok = 0,
    ERROR_undefined = 1, // a failure the client does not name
    ERROR_parameter_invalid_size = 1541
};

// Values the client hands to handlers and takes from scripts; the plug-in passes them on.
enum TextMessageTargetMode : int { TargetClient = 1, TargetChannel = 2, TargetServer = 3 };
enum PluginMenuType : int { MenuGlobal = 0, MenuChannel = 1, MenuClient = 2 };
enum ConnectStatus : int {
    StatusDisconnected = 0,
    StatusConnecting = 1,
    StatusConnected = 2,
    StatusEstablishing = 3,
    StatusEstablished = 4
};

struct VX5Functions {
    void* entries0to4[5];
    void (*freeMemory)(void* pointer); // 5
    void* entries6to177[172];
    // Path getters write a NUL-terminated path ending with a separator into the buffer.
    void (*getAppPath)(char* buffer, std::size_t bufferSize);       // 178
    void (*getResourcesPath)(char* buffer, std::size_t bufferSize); // 179
    void (*getConfigPath)(char* buffer, std::size_t bufferSize);    // 180
    void (*getPluginPath)(char* buffer, std::size_t bufferSize);    // 181
    void* entry182to183[2];
    void (*printMessageToCurrentTab)(const char* message); // 184
    void* entries185to205[21];
};

static_assert(sizeof(VX5Functions) == 206 * sizeof(void*), "the host table has 206 pointer-sized entries");

// A plug-in menu item as the plug-in hands it to the client (malloc'd, released through
// vx5plugin_freeMemory).
struct MenuItem
{
    std::int32_t type;
    std::int32_t id;
    char text[128];
    char icon[128];
};

static_assert(sizeof(MenuItem) == 264, "a menu item record has 264 bytes");
