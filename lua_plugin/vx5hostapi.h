#pragma once

// The client functions that scripts reach through the Lua table "vx5", described once:
// Lua name, host-table position, the C parameters of the host entry, what the script
// passes and gets back, and the line printed when the host reports a failure. The Lua
// bindings (vx5lualib.cpp), the stand-in client's fakes of the host entries, the
// reference for script authors and the editor definitions are all made from this table.

#include "vx5functions.h"

#include <cstddef>
#include <cstdint>
#include <utility>

namespace vx5api {

// One C parameter of a host entry, and where its value comes from.
enum P : char {
    End = 0,
    N64,       // a Lua integer argument, as 64 bits
    N32,       // a Lua integer argument, cut to 32 bits
    Id16,      // a Lua integer argument, cut to 16 bits (an ID)
    Str,       // a Lua string argument
    List64,    // a Lua table of integers: 64-bit IDs ended by 0
    List16,    // a Lua table of integers: 16-bit IDs ended by 0
    Names,     // a Lua table of strings: ended by an empty string
    Tag,       // the request's return-code tag, always null
    Zero64,    // the constant 0 (64 bits)
    PluginId,  // the identifier the client registered for this plug-in
    OutStr,    // a string the host allocates (released through freeMemory): a result
    OutU64,    // results: a number of this width
    OutI32,
    OutFloat,
    OutDouble,
    OutId16,
    OutList64, // a 0-ended list the host allocates: a result table
    OutList16,
    BufPtr,    // a buffer the plug-in provides and the host fills: a string result
    BufSize,   // the size of the buffer before it
};

// What the host entry returns.
enum class R : char { Code, Void, U64 };

// Special rules of a few functions.
enum Flags : unsigned {
    None = 0,
    EmptyListIsNoop = 1,   // an empty table returns 0 without calling the host
    EmptyListIsNull = 2,   // an empty table reaches the host as a null list
    NilOnFailure = 4,      // a failed string getter gives nil instead of ""
    BufferFromText = 8,    // the buffer is sized from the text argument ("" gives "" at once)
};

constexpr std::size_t maxParams = 8;
constexpr std::size_t pathBufferSize = 512;

struct HostFunction
{
    const char* name; // the Lua name, and the host entry's name
    int entry;        // position in the host function table
    R returns;
    P params[maxParams];
    const char* failure;   // printed with the code when the host fails; null: nothing
    unsigned flags;
    const char* arguments; // the Lua arguments' names, for the reference
    const char* summary;   // one line for the reference
};

constexpr HostFunction hostFunctions[] = {
    {"getClientLibVersion", 0, R::Code, {OutStr}, "Lua: Error querying client lib version: %d\n", None, "", "Version text of the client library."},
    {"getClientLibVersionNumber", 1, R::Code, {OutU64}, "Lua: Error querying client lib version number: %d\n", None, "", "Version number of the client library."},
    {"getErrorMessage", 4, R::Code, {N32, OutStr}, "Lua: Error getting error message: %d\n", None, "errorCode", "The client's text for an error code."},
    {"logMessage", 6, R::Code, {Str, N32, Str, N64}, "Lua: Error logging message: %d\n", None, "message, severity, channel, logID", "Writes a line to the client's log."},
    {"getPreProcessorInfoValueFloat", 33, R::Code, {N64, Str, OutFloat}, "Lua: Error getting preprocessor info value: %d\n", None, "connection, ident", "A sound preprocessor figure."},
    {"getPreProcessorConfigValue", 34, R::Code, {N64, Str, OutStr}, "Lua: Error getting preprocessor config value: %d\n", None, "connection, ident", "A sound preprocessor setting."},
    {"setPreProcessorConfigValue", 35, R::Code, {N64, Str, Str}, "Lua: Error setting preprocessor config value: %d\n", None, "connection, ident, value", "Changes a sound preprocessor setting."},
    {"getEncodeConfigValue", 36, R::Code, {N64, Str, OutStr}, "Lua: Error getting encode config value: %d\n", None, "connection, ident", "A voice encoder setting."},
    {"getPlaybackConfigValueAsFloat", 37, R::Code, {N64, Str, OutFloat}, "Lua: Error getting playback config value: %d\n", None, "connection, ident", "A playback setting."},
    {"setPlaybackConfigValue", 38, R::Code, {N64, Str, Str}, "Lua: Error setting playback config value: %d\n", None, "connection, ident, value", "Changes a playback setting."},
    {"requestClientMove", 47, R::Code, {N64, Id16, N64, Str, Tag}, "Lua: Error requesting client move: %d\n", None, "connection, clientID, newChannelID, password", "Moves a client to another channel."},
    {"requestClientVariables", 48, R::Code, {N64, Id16, Tag}, "Lua: Error requesting client variables: %d\n", None, "connection, clientID", "Asks the server for a client's variables."},
    {"requestClientKickFromChannel", 49, R::Code, {N64, Id16, Str, Tag}, "Lua: Error kicking client from channel: %d\n", None, "connection, clientID, kickReason", "Kicks a client out of its channel."},
    {"requestClientKickFromServer", 50, R::Code, {N64, Id16, Str, Tag}, "Lua: Error kicking client from server: %d\n", None, "connection, clientID, kickReason", "Kicks a client off the server."},
    {"requestChannelDelete", 51, R::Code, {N64, N64, Id16, Tag}, "Lua: Error deleting channel: %d\n", None, "connection, channelID, force", "Deletes a channel."},
    {"requestChannelMove", 52, R::Code, {N64, N64, N64, Zero64, Tag}, "Lua: Error moving channel: %d\n", None, "connection, channelID, newChannelParentID", "Moves a channel below another."},
    {"requestSendPrivateTextMsg", 53, R::Code, {N64, Str, Id16, Tag}, "Lua: Error sending private text message: %d\n", None, "connection, message, targetClientID", "Sends a private text message."},
    {"requestSendChannelTextMsg", 54, R::Code, {N64, Str, Id16, Tag}, "Lua: Error sending channel text message: %d\n", None, "connection, message, targetChannelID", "Sends a text message to a channel."},
    {"requestSendServerTextMsg", 55, R::Code, {N64, Str, Tag}, "Lua: Error sending server text message: %d\n", None, "connection, message", "Sends a text message to the whole server."},
    {"requestConnectionInfo", 56, R::Code, {N64, Id16, Tag}, "Lua: Error requesting client connection info: %d\n", None, "connection, clientID", "Asks for a client's connection figures."},
    {"requestChannelSubscribe", 58, R::Code, {N64, List64, Tag}, "Lua: Error subscribing to channel: %d\n", EmptyListIsNoop, "connection, channelIDs", "Subscribes to channels."},
    {"requestChannelUnsubscribe", 60, R::Code, {N64, List64, Tag}, "Lua: Error unsubscribing from channel: %d\n", EmptyListIsNoop, "connection, channelIDs", "Unsubscribes from channels."},
    {"requestChannelSubscribeAll", 59, R::Code, {N64, Tag}, "Lua: Error subscribing to all channels: %d\n", None, "connection", "Subscribes to every channel."},
    {"requestChannelUnsubscribeAll", 61, R::Code, {N64, Tag}, "Lua: Error unsubscribing from all channels: %d\n", None, "connection", "Unsubscribes from every channel."},
    {"requestChannelDescription", 62, R::Code, {N64, N64, Tag}, "Lua: Error requesting channel description: %d\n", None, "connection, channelID", "Asks for a channel's description."},
    {"requestMuteClients", 63, R::Code, {N64, List16, Tag}, "Lua: Error requesting mute clients: %d\n", EmptyListIsNoop, "connection, clientIDs", "Mutes clients locally."},
    {"requestUnmuteClients", 64, R::Code, {N64, List16, Tag}, "Lua: Error requesting unmute clients: %d\n", EmptyListIsNoop, "connection, clientIDs", "Unmutes clients."},
    {"getClientID", 72, R::Code, {N64, OutId16}, "Lua: Error getting client ID: %d\n", None, "connection", "The own client ID on a connection."},
    {"getClientSelfVariableAsInt", 73, R::Code, {N64, N64, OutI32}, "Lua: Error getting client self variable: %d\n", None, "connection, flag", "A variable of the own client, as a number."},
    {"getClientSelfVariableAsString", 74, R::Code, {N64, N64, OutStr}, "Lua: Error getting client self variable: %d\n", None, "connection, flag", "A variable of the own client, as text."},
    {"setClientSelfVariableAsInt", 75, R::Code, {N64, N64, N32}, "Lua: Error setting client self variable: %d\n", None, "connection, flag, value", "Changes a variable of the own client (flushClientSelfUpdates sends it)."},
    {"setClientSelfVariableAsString", 76, R::Code, {N64, N64, Str}, "Lua: Error setting client self variable: %d\n", None, "connection, flag, value", "Changes a variable of the own client (flushClientSelfUpdates sends it)."},
    {"flushClientSelfUpdates", 77, R::Code, {N64, Tag}, "Lua: Error flushing client self variables: %d\n", None, "connection", "Sends the changed variables of the own client."},
    {"getClientVariableAsInt", 78, R::Code, {N64, Id16, N64, OutI32}, "Lua: Error getting client variable: %d\n", None, "connection, clientID, flag", "A client's variable, as a number."},
    {"getClientVariableAsUInt64", 79, R::Code, {N64, Id16, N64, OutU64}, "Lua: Error getting client variable: %d\n", None, "connection, clientID, flag", "A client's variable, as a 64-bit number."},
    {"getClientVariableAsString", 80, R::Code, {N64, Id16, N64, OutStr}, "Lua: Error getting client variable: %d\n", None, "connection, clientID, flag", "A client's variable, as text."},
    {"getClientList", 81, R::Code, {N64, OutList16}, "Lua: Error getting client list: %d\n", None, "connection", "The IDs of the clients visible on a connection."},
    {"getChannelOfClient", 82, R::Code, {N64, Id16, OutU64}, "Lua: Error getting channel of client: %d\n", None, "connection, clientID", "The channel a client is in."},
    {"getConnectionStatus", 100, R::Code, {N64, OutI32}, "Lua: Error getting connection status: %d\n", None, "connection", "The status of a connection."},
    {"getConnectionVariableAsUInt64", 101, R::Code, {N64, Id16, N32, OutU64}, "Lua: Error getting connection variable as UInt64: %d\n", None, "connection, clientID, flag", "A connection figure of a client, as a 64-bit number."},
    {"getConnectionVariableAsDouble", 102, R::Code, {N64, Id16, N32, OutDouble}, "Lua: Error getting connection variable as Double: %d\n", None, "connection, clientID, flag", "A connection figure of a client, as a fraction."},
    {"getConnectionVariableAsString", 103, R::Code, {N64, Id16, N32, OutStr}, "Lua: Error getting connection variable as String: %d\n", NilOnFailure, "connection, clientID, flag", "A connection figure of a client, as text (nil on failure)."},
    {"cleanUpConnectionInfo", 104, R::Code, {N64, Id16}, "Lua: Error cleaning up connection info: %d\n", None, "connection, clientID", "Drops the connection figures of a client."},
    {"getChannelVariableAsInt", 83, R::Code, {N64, N64, N64, OutI32}, "Lua: Error getting channel variable: %d\n", None, "connection, channelID, flag", "A channel's variable, as a number."},
    {"getChannelVariableAsString", 85, R::Code, {N64, N64, N64, OutStr}, "Lua: Error getting channel variable: %d\n", None, "connection, channelID, flag", "A channel's variable, as text."},
    {"getChannelIDFromChannelNames", 86, R::Code, {N64, Names, OutU64}, "Error getting channel ID from names: %d\n", None, "connection, channelNames", "The ID of the channel at a path of channel names."},
    {"setChannelVariableAsInt", 87, R::Code, {N64, N64, N64, N32}, "Lua: Error setting channel variable: %d\n", None, "connection, channelID, flag, value", "Changes a channel's variable (flushChannelUpdates sends it)."},
    {"setChannelVariableAsString", 89, R::Code, {N64, N64, N64, Str}, "Lua: Error setting channel variable: %d\n", None, "connection, channelID, flag, value", "Changes a channel's variable (flushChannelUpdates sends it)."},
    {"flushChannelUpdates", 90, R::Code, {N64, N64}, "Lua: Error flushing channel updates: %d\n", None, "connection, channelID", "Sends the changed variables of a channel."},
    {"flushChannelCreation", 91, R::Code, {N64, N64}, "Lua: Error flushing channel creation: %d\n", None, "connection, channelParentID", "Creates the channel whose variables were set with channel ID 0."},
    {"getChannelList", 92, R::Code, {N64, OutList64}, "Lua: Error getting channel list: %d\n", None, "connection", "The IDs of all channels of a connection."},
    {"getChannelClientList", 93, R::Code, {N64, N64, OutList16}, "Lua: Error getting channel client list: %d\n", None, "connection, channelID", "The IDs of the clients in a channel."},
    {"getParentChannelOfChannel", 94, R::Code, {N64, N64, OutU64}, "Lua: Error getting parent channel: %d\n", None, "connection, channelID", "The channel a channel lies below."},
    {"getServerConnectionHandlerList", 95, R::Code, {OutList64}, "Lua: Error getting server connection handler list: %d\n", None, "", "The IDs of all connections."},
    {"getServerVariableAsInt", 96, R::Code, {N64, N64, OutI32}, "Lua: Error getting server variable: %d\n", None, "connection, flag", "A server variable, as a number."},
    {"getServerVariableAsUInt64", 97, R::Code, {N64, N64, OutU64}, "Lua: Error getting server variable: %d\n", None, "connection, flag", "A server variable, as a 64-bit number."},
    {"getServerVariableAsString", 98, R::Code, {N64, N64, OutStr}, "Lua: Error getting server variable: %d\n", None, "connection, flag", "A server variable, as text."},
    {"requestServerVariables", 99, R::Code, {N64}, "Lua: Error requesting server variables: %d\n", None, "connection", "Asks the server for its variables."},
    {"playWaveFile", 28, R::Code, {N64, Str}, "Lua: Error playing wave file: %d\n", None, "connection, path", "Plays a wave file."},
    {"requestClientPoke", 65, R::Code, {N64, Id16, Str, Tag}, "Lua: Error requesting client poke: %d\n", None, "connection, clientID, message", "Pokes a client with a message."},
    {"requestServerTemporaryPasswordAdd", 69, R::Code, {N64, Str, Str, N64, N64, Str, Tag}, "Lua: Error adding temporary server password: %d\n", None, "connection, password, description, duration, targetChannelID, targetChannelPassword", "Adds a temporary server password."},
    {"requestServerTemporaryPasswordDel", 70, R::Code, {N64, Str, Tag}, "Lua: Error deleting temporary server password: %d\n", None, "connection, password", "Deletes a temporary server password."},
    {"requestServerTemporaryPasswordList", 71, R::Code, {N64, Tag}, "Lua: Error requesting temporary server password list: %d\n", None, "connection", "Asks for the temporary passwords (onServerTemporaryPasswordListEvent)."},
    {"banclient", 136, R::Code, {N64, Id16, N32, Str, Tag}, "Lua: Error banning client: %d\n", None, "connection, clientID, timeInSeconds, banReason", "Bans a client."},
    {"banclientdbid", 138, R::Code, {N64, Id16, N32, Str, Tag}, "Lua: Error banning clientdbid: %d\n", None, "connection, clientDBID, timeInSeconds, banReason", "Bans a client by database ID."},
    {"banadd", 137, R::Code, {N64, Str, Str, Str, N32, Str, Tag}, "Lua: Error adding ban: %d\n", None, "connection, ipRegExp, nameRegexp, uniqueIdentity, timeInSeconds, banReason", "Adds a ban rule."},
    {"bandel", 139, R::Code, {N64, N64, Tag}, "Lua: Error deleting ban: %d\n", None, "connection, banID", "Deletes a ban rule."},
    {"bandelall", 140, R::Code, {N64, Tag}, "Lua: Error deleting all bans: %d\n", None, "connection", "Deletes every ban rule."},
    {"requestBanList", 141, R::Code, {N64, Tag}, "Lua: Error requesting ban list: %d\n", None, "connection", "Asks for the ban list (onBanListEvent)."},
    {"requestComplainAdd", 142, R::Code, {N64, N64, Str, Tag}, "Lua: Error requesting complain add: %d\n", None, "connection, targetClientDatabaseID, complainReason", "Files a complaint about a client."},
    {"requestComplainDel", 143, R::Code, {N64, N64, N64, Tag}, "Lua: Error requesting complain del: %d\n", None, "connection, targetClientDatabaseID, fromClientDatabaseID", "Deletes a complaint."},
    {"requestComplainDelAll", 144, R::Code, {N64, N64, Tag}, "Lua: Error requesting complain del all: %d\n", None, "connection, targetClientDatabaseID", "Deletes every complaint about a client."},
    {"requestComplainList", 145, R::Code, {N64, N64, Tag}, "Lua: Error requesting complain list: %d\n", None, "connection, targetClientDatabaseID", "Asks for the complaints about a client (onComplainListEvent)."},
    {"getAppPath", 178, R::Void, {BufPtr, BufSize}, nullptr, None, "", "The client's program folder, ending in a separator."},
    {"getResourcesPath", 179, R::Void, {BufPtr, BufSize}, nullptr, None, "", "The client's resources folder, ending in a separator."},
    {"getConfigPath", 180, R::Void, {BufPtr, BufSize}, nullptr, None, "", "The client's configuration folder, ending in a separator."},
    {"getPluginPath", 181, R::Void, {BufPtr, BufSize}, nullptr, None, "", "The client's plug-in folder, ending in a separator."},
    {"getCurrentServerConnectionHandlerID", 182, R::U64, {}, nullptr, None, "", "The connection of the tab the user looks at."},
    {"printMessage", 183, R::Void, {N64, Str, N32}, nullptr, None, "connection, message, messageTarget", "Shows a message in a tab of a connection."},
    {"printMessageToCurrentTab", 184, R::Void, {Str}, nullptr, None, "message", "Shows a message in the tab the user looks at."},
    {"urlsToBB", 185, R::Void, {Str, BufPtr, BufSize}, nullptr, BufferFromText, "text", "The text with its web addresses as [URL] tags."},
    {"sendPluginCommand", 186, R::Code, {N64, PluginId, Str, N32, List16, Tag}, "Lua: Error sending plugin command: %d\n", EmptyListIsNull, "connection, command, targetMode, targetIDs", "Sends a command to this plug-in in other clients (onPluginCommandEvent)."},
    {"getDirectories", 187, R::Void, {Str, BufPtr, BufSize}, nullptr, None, "path", "The sub-folders of a folder, as the client lists them."},
    {"setPluginMenuEnabled", 196, R::Void, {PluginId, N32, N32}, nullptr, None, "menuID, enabled", "Enables (1) or disables (0) a menu item of this plug-in."},
    {"getClientDisplayName", 200, R::Code, {N64, Id16, BufPtr, BufSize}, nullptr, None, "connection, clientID", "The name a client is shown with (\"\" on failure)."},
};

constexpr std::size_t hostFunctionCount = sizeof hostFunctions / sizeof hostFunctions[0];
static_assert(hostFunctionCount == 85, "scripts get 85 host functions");

constexpr std::size_t paramCount(const HostFunction& function)
{
    std::size_t n = 0;
    while (n < maxParams && function.params[n] != P::End)
        ++n;
    return n;
}

constexpr bool isOutput(P kind)
{
    return kind >= P::OutStr && kind <= P::BufPtr;
}

constexpr bool isLuaArgument(P kind)
{
    return kind >= P::N64 && kind <= P::Names;
}

// The C type of a parameter of a host entry.
template <P Kind> struct CType;
template <> struct CType<N64> { using type = std::uint64_t; };
template <> struct CType<N32> { using type = int; };
template <> struct CType<Id16> { using type = anyID; };
template <> struct CType<Str> { using type = const char*; };
template <> struct CType<List64> { using type = const std::uint64_t*; };
template <> struct CType<List16> { using type = const anyID*; };
template <> struct CType<Names> { using type = const char* const*; };
template <> struct CType<Tag> { using type = const char*; };
template <> struct CType<Zero64> { using type = std::uint64_t; };
template <> struct CType<PluginId> { using type = const char*; };
template <> struct CType<OutStr> { using type = char**; };
template <> struct CType<OutU64> { using type = std::uint64_t*; };
template <> struct CType<OutI32> { using type = int*; };
template <> struct CType<OutFloat> { using type = float*; };
template <> struct CType<OutDouble> { using type = double*; };
template <> struct CType<OutId16> { using type = anyID*; };
template <> struct CType<OutList64> { using type = std::uint64_t**; };
template <> struct CType<OutList16> { using type = anyID**; };
template <> struct CType<BufPtr> { using type = char*; };
template <> struct CType<BufSize> { using type = std::size_t; };

template <R Returns> struct ReturnType;
template <> struct ReturnType<R::Code> { using type = unsigned int; };
template <> struct ReturnType<R::Void> { using type = void; };
template <> struct ReturnType<R::U64> { using type = std::uint64_t; };

template <std::size_t Row, typename Index = std::make_index_sequence<paramCount(hostFunctions[Row])>>
struct Signature;
template <std::size_t Row, std::size_t... I>
struct Signature<Row, std::index_sequence<I...>>
{
    using Return = typename ReturnType<hostFunctions[Row].returns>::type;
    using Pointer = Return (*)(typename CType<hostFunctions[Row].params[I]>::type...);
};

} // namespace vx5api
