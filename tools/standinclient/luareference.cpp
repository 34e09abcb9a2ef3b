#include "luareference.h"

#include "luasandboxtable.h"
#include "vx5hostapi.h"

#include <QStringList>

#include <algorithm>
#include <cstring>

using namespace vx5api;

namespace {

// The language server's type of a value Lua receives.
QString letterType(char letter)
{
    switch (letter) {
    case 's':
        return QStringLiteral("string?");
    case 'd':
        return QStringLiteral("number");
    default:
        return QStringLiteral("integer");
    }
}

const char* letterMeaning(char letter)
{
    switch (letter) {
    case 'u':
        return "integer: a 64-bit ID (connection, channel, database ID, time), its top bit cleared";
    case 'a':
        return "integer: a 16-bit ID (mostly a client ID)";
    case 'i':
        return "integer";
    case 'd':
        return "number";
    default:
        return "string, or nil when the client passes none";
    }
}

// A parameter that carries one of the client's constants (vx5functions.h) says which.
QString parameterMeaning(const QString& name, char letter)
{
    if (name == QLatin1String("targetMode"))
        return QStringLiteral("integer: the target mode (see Constants)");
    if (name == QLatin1String("newStatus"))
        return QStringLiteral("integer: the connection status (see Constants)");
    if (name == QLatin1String("type"))
        return QStringLiteral("integer: the menu type (see Constants)");
    return QString::fromLatin1(letterMeaning(letter));
}

QStringList names(const char* list)
{
    QStringList result;
    for (const QString& name : QString::fromLatin1(list).split(QLatin1Char(','), Qt::SkipEmptyParts))
        result << name.trimmed();
    return result;
}

// What a script passes for a parameter kind.
QString argumentMeaning(P kind)
{
    switch (kind) {
    case N64:
        return QStringLiteral("integer (64 bits)");
    case N32:
        return QStringLiteral("integer, passed as 32 bits");
    case Id16:
        return QStringLiteral("integer, passed as 16 bits (65537 arrives as 1)");
    case Str:
        return QStringLiteral("string");
    case List64:
        return QStringLiteral("table of integers (64-bit IDs), 1..n");
    case List16:
        return QStringLiteral("table of integers (16-bit IDs), 1..n");
    default:
        return QStringLiteral("table of strings, 1..n");
    }
}

QString argumentType(P kind)
{
    switch (kind) {
    case Str:
        return QStringLiteral("string");
    case List64:
    case List16:
        return QStringLiteral("integer[]");
    case Names:
        return QStringLiteral("string[]");
    default:
        return QStringLiteral("integer");
    }
}

struct Result
{
    QString type;
    QString meaning;
};

// What a script gets back, in order.
QList<Result> results(const HostFunction& function)
{
    QList<Result> list;
    const bool nil = function.flags & NilOnFailure;
    for (const P kind : function.params) {
        switch (kind) {
        case OutStr:
            list << Result{nil ? QStringLiteral("string|nil") : QStringLiteral("string"),
                           nil ? QStringLiteral("the text; nil when the client fails")
                               : QStringLiteral("the text; \"\" when the client fails")};
            break;
        case BufPtr:
            list << Result{QStringLiteral("string"), QStringLiteral("the text")};
            break;
        case OutList64:
        case OutList16:
            list << Result{QStringLiteral("integer[]|nil"), QStringLiteral("the IDs, 1..n; nil when the client fails")};
            break;
        case OutFloat:
        case OutDouble:
            list << Result{QStringLiteral("number"), QStringLiteral("the value; 0 when the client fails")};
            break;
        case OutU64:
        case OutI32:
        case OutId16:
            list << Result{QStringLiteral("integer"), QStringLiteral("the value; 0 when the client fails")};
            break;
        default:
            break;
        }
    }
    if (function.returns == R::Code)
        list << Result{QStringLiteral("integer"), QStringLiteral("the client's error code, 0 on success")};
    else if (function.returns == R::U64)
        list << Result{QStringLiteral("integer"), QStringLiteral("the connection ID")};
    return list;
}

QStringList luaArguments(const HostFunction& function)
{
    return names(function.arguments);
}

QList<P> luaArgumentKinds(const HostFunction& function)
{
    QList<P> kinds;
    for (const P kind : function.params) {
        if (isLuaArgument(kind))
            kinds << kind;
    }
    return kinds;
}

QString failureText(const HostFunction& function)
{
    QStringList notes;
    if (function.failure)
        notes << QStringLiteral("on failure the plug-in prints `%1`").arg(
                     QString::fromLatin1(function.failure).trimmed().replace(QLatin1String("%d"), QLatin1String("<code>")));
    for (const P kind : function.params) {
        if (kind == List64 || kind == List16) {
            notes << QStringLiteral("a list that is not a table prints `Invalid paramater in %1, not a table` and returns "
                                    "1541 without calling the client").arg(QLatin1String(function.name));
            if (function.flags & EmptyListIsNoop)
                notes << QStringLiteral("an empty table returns 0 without calling the client");
            if (function.flags & EmptyListIsNull)
                notes << QStringLiteral("an empty table reaches the client as no list");
        }
        if (kind == PluginId)
            notes << QStringLiteral("before the client registered the plug-in, nothing is sent and a line says so");
    }
    if (function.flags & BufferFromText)
        notes << QStringLiteral("an empty text gives \"\" without calling the client");
    return notes.join(QLatin1String("; "));
}

} // namespace

const QList<LuaHandler>& luaHandlers()
{
    static const QList<LuaHandler> handlers = {
    {"onServerTemporaryPasswordListEvent", "ussssuuus", "connection, clientNickname, uniqueClientIdentifier, description, password, timestampStart, timestampEnd, targetChannelID, targetChannelPW",
     "One temporary server password, after requestServerTemporaryPasswordList."},
    {"onPluginCommandEvent", "uss", "connection, pluginName, pluginCommand",
     "A command another client sent to this plug-in (sendPluginCommand)."},
    {"onClientServerQueryLoginPasswordEvent", "us", "connection, loginPassword",
     "The password of a new server query login."},
    {"onBanListEvent", "uusssuusussi", "connection, banID, ip, name, uid, creationTime, durationTime, invokerName, invokerCldbid, invokerUID, reason, numberOfEnforcements",
     "One ban rule, after requestBanList."},
    {"onComplainListEvent", "uusussu", "connection, targetClientDatabaseID, targetClientNickName, fromClientDatabaseID, fromClientNickName, complainReason, timestamp",
     "One complaint, after requestComplainList."},
    {"onClientNamefromDBIDEvent", "usus", "connection, uniqueClientIdentifier, clientDatabaseID, clientNickName",
     "The name of a client looked up by database ID."},
    {"onClientNamefromUIDEvent", "usus", "connection, uniqueClientIdentifier, clientDatabaseID, clientNickName",
     "The name of a client looked up by unique identifier."},
    {"onClientDBIDfromUIDEvent", "usu", "connection, uniqueClientIdentifier, clientDatabaseID",
     "The database ID of a client looked up by unique identifier."},
    {"onMessageGetEvent", "uusssu", "connection, messageID, fromClientUniqueIdentity, subject, message, timestamp",
     "One offline message."},
    {"onMessageListEvent", "uussui", "connection, messageID, fromClientUniqueIdentity, subject, timestamp, flagRead",
     "An entry of the offline message list."},
    {"onServerQueryEvent", "us", "connection, result",
     "The answer to a server query command."},
    {"onServerLogFinishedEvent", "uuu", "connection, lastPos, fileSize",
     "The end of the server log."},
    {"onServerLogEvent", "us", "connection, logMsg",
     "One line of the server log."},
    {"onClientChatComposingEvent", "uas", "connection, clientID, clientUniqueId",
     "A client is typing a message to the user."},
    {"onClientChatClosedEvent", "uas", "connection, clientID, clientUniqueIdentity",
     "A client closed its chat with the user."},
    {"onClientNeededPermissionsFinishedEvent", "u", "connection",
     "The end of the user's needed permissions."},
    {"onClientNeededPermissionsEvent", "uai", "connection, permissionID, permissionValue",
     "A permission the user needs."},
    {"onServerGroupClientDeletedEvent", "uassuass", "connection, clientID, clientName, clientUniqueIdentity, serverGroupID, invokerClientID, invokerName, invokerUniqueIdentity",
     "A client left a server group."},
    {"onServerGroupClientAddedEvent", "uassuass", "connection, clientID, clientName, clientUniqueIdentity, serverGroupID, invokerClientID, invokerName, invokerUniqueIdentity",
     "A client joined a server group."},
    {"onPermissionOverviewFinishedEvent", "u", "connection",
     "The end of a permission overview."},
    {"onPermissionOverviewEvent", "uuuiuuaiii", "connection, clientDatabaseID, channelID, overviewType, overviewID1, overviewID2, permissionID, permissionValue, permissionNegated, permissionSkip",
     "One line of a permission overview."},
    {"onPermissionListFinishedEvent", "u", "connection",
     "The end of the permission list."},
    {"onPermissionListEvent", "uass", "connection, permissionID, permissionName, permissionDescription",
     "One permission of the server's list."},
    {"onServerPermissionErrorEvent", "usia", "connection, errorMessage, error, failedPermissionID",
     "The server refused an action for want of a permission."},
    {"onClientChannelGroupChangedEvent", "uuuaass", "connection, channelGroupID, channelID, clientID, invokerClientID, invokerName, invokerUniqueIdentity",
     "A client's channel group changed."},
    {"onChannelPermListEvent", "uuaiii", "connection, channelID, permissionID, permissionValue, permissionNegated, permissionSkip",
     "One permission of a channel."},
    {"onChannelGroupPermListEvent", "uuaiii", "connection, channelGroupID, permissionID, permissionValue, permissionNegated, permissionSkip",
     "One permission of a channel group."},
    {"onChannelGroupListFinishedEvent", "u", "connection",
     "The end of the channel group list."},
    {"onChannelGroupListEvent", "uusiii", "connection, channelGroupID, name, type, iconID, saveDB",
     "One channel group."},
    {"onServerGroupClientListEvent", "uuuss", "connection, serverGroupID, clientDatabaseID, clientNameIdentifier, clientUniqueID",
     "One member of a server group."},
    {"onServerGroupPermListEvent", "uuaiii", "connection, serverGroupID, permissionID, permissionValue, permissionNegated, permissionSkip",
     "One permission of a server group."},
    {"onServerGroupByClientIDEvent", "usuu", "connection, name, serverGroupList, clientDatabaseID",
     "A server group of a client."},
    {"onServerGroupListFinishedEvent", "u", "connection",
     "The end of the server group list."},
    {"onServerGroupListEvent", "uusiii", "connection, serverGroupID, name, type, iconID, saveDB",
     "One server group."},
    {"onClientSelfVariableUpdateEvent", "uiss", "connection, flag, oldValue, newValue",
     "A variable of the user's own client changed."},
    {"onClientPokeEvent", "uassi>i", "connection, fromClientID, pokerName, message, ffIgnored",
     "The user was poked. Return 1 when the script handled it (the client then shows nothing), 0 otherwise."},
    {"onClientBanFromServerEvent", "uauuiassus", "connection, clientID, oldChannelID, newChannelID, visibility, kickerID, kickerName, kickerUniqueIdentifier, time, kickMessage",
     "A client was banned from the server."},
    {"onPlaybackShutdownCompleteEvent", "u", "connection",
     "Sound playback has stopped."},
    {"onChannelPasswordChangedEvent", "uu", "connection, channelID",
     "A channel's password changed."},
    {"onChannelDescriptionUpdateEvent", "uu", "connection, channelID",
     "A channel's description changed."},
    {"onChannelUnsubscribeFinishedEvent", "i", "connection",
     "The end of an unsubscription (the connection as a 32-bit number)."},
    {"onChannelUnsubscribeEvent", "uu", "connection, channelID",
     "The user left a channel's subscription."},
    {"onChannelSubscribeFinishedEvent", "u", "connection",
     "The end of a subscription."},
    {"onChannelSubscribeEvent", "uu", "connection, channelID",
     "The user subscribed to a channel."},
    {"onServerConnectionInfoEvent", "u", "connection",
     "The server's connection figures are in."},
    {"onConnectionInfoEvent", "ua", "connection, clientID",
     "A client's connection figures are in (requestConnectionInfo)."},
    {"onTalkStatusChangeEvent", "uiia", "connection, status, isReceivedWhisper, clientID",
     "A client started or stopped talking."},
    {"onTextMessageEvent", "uaaasssi>i", "connection, targetMode, toID, fromID, fromName, fromUniqueIdentifier, message, ffIgnored",
     "A text message arrived. Return 1 when the script handled it (the client then shows nothing), 0 otherwise."},
    {"onServerStopEvent", "us", "connection, shutdownMessage",
     "The server is shutting down."},
    {"onServerErrorEvent", "usis", "connection, errorMessage, error, extraMessage",
     "The server reported an error."},
    {"onServerUpdatedEvent", "u", "connection",
     "The server's variables are in (requestServerVariables)."},
    {"onServerEditedEvent", "uass", "connection, editerID, editerName, editerUniqueIdentifier",
     "The server's settings were changed."},
    {"onClientKickFromServerEvent", "uauuiasss", "connection, clientID, oldChannelID, newChannelID, visibility, kickerID, kickerName, kickerUniqueIdentifier, kickMessage",
     "A client was kicked from the server."},
    {"onClientKickFromChannelEvent", "uauuiasss", "connection, clientID, oldChannelID, newChannelID, visibility, kickerID, kickerName, kickerUniqueIdentifier, kickMessage",
     "A client was kicked from its channel."},
    {"onClientMoveMovedEvent", "uauuiasss", "connection, clientID, oldChannelID, newChannelID, visibility, moverID, moverName, moverUniqueIdentifier, moveMessage",
     "A client was moved by another."},
    {"onClientMoveTimeoutEvent", "uauuis", "connection, clientID, oldChannelID, newChannelID, visibility, timeoutMessage",
     "A client timed out."},
    {"onClientMoveSubscriptionEvent", "uauui", "connection, clientID, oldChannelID, newChannelID, visibility",
     "A client became visible or invisible through a subscription."},
    {"onClientMoveEvent", "uauuis", "connection, clientID, oldChannelID, newChannelID, visibility, moveMessage",
     "A client moved, joined or left."},
    {"onUpdateClientEvent", "ua", "connection, clientID",
     "A client's variables changed."},
    {"onUpdateChannelEditedEvent", "uuass", "connection, channelID, invokerID, invokerName, invokerUniqueIdentifier",
     "A channel was edited."},
    {"onUpdateChannelEvent", "uu", "connection, channelID",
     "A channel's variables changed."},
    {"onChannelMove", "uuuass", "connection, channelID, newChannelParentID, invokerID, invokerName, invokerUniqueIdentifier",
     "A channel was moved (the handler's name has no \"Event\")."},
    {"onDelChannelEvent", "uuass", "connection, channelID, invokerID, invokerName, invokerUniqueIdentifier",
     "A channel was deleted."},
    {"onNewChannelCreatedEvent", "uuuass", "connection, channelID, channelParentID, invokerID, invokerName, invokerUniqueIdentifier",
     "A channel was created."},
    {"onNewChannelEvent", "uuu", "connection, channelID, channelParentID",
     "A channel became known (after connecting)."},
    {"onConnectStatusChangeEvent", "uii", "connection, newStatus, errorNumber",
     "A connection's status changed."},
    {"currentServerConnectionChanged", "u", "connection",
     "The user switched to another connection's tab."},
    {"onMenuItemEvent", "uiiu", "connection, type, menuItemID, selectedItemID",
     "A menu item of this plug-in was clicked (see createMenus)."},
    };
    return handlers;
}

namespace {

template <typename Item, typename Name>
QList<Item> sortedByName(QList<Item> items, Name name)
{
    std::sort(items.begin(), items.end(),
              [name](const Item& a, const Item& b) { return std::strcmp(name(a), name(b)) < 0; });
    return items;
}

QString anchor(const QString& heading)
{
    return heading.toLower().replace(QLatin1Char(' '), QLatin1Char('-')).remove(QLatin1Char('.'));
}

const QStringList sections = {
    QStringLiteral("Events"),          QStringLiteral("The vx5 table"), QStringLiteral("Constants"),
    QStringLiteral("The console command"), QStringLiteral("Menus"),    QStringLiteral("Modules and luaconfig.ini"),
    QStringLiteral("Limits"),          QStringLiteral("What scripts get"),
};

void addEvents(QStringList& out)
{
    out << QStringLiteral("## Events") << QString()
        << QStringLiteral("Each client event calls the global function of the same name, if the script defines one. A "
                          "handler that raises an error is reported on standard error; the client goes on.")
        << QString();
    const auto handlerName = [](const LuaHandler& handler) { return handler.name; };
    for (const LuaHandler& handler : sortedByName(luaHandlers(), handlerName)) {
        const QStringList parameters = names(handler.parameters);
        out << QStringLiteral("### %1(%2)").arg(QLatin1String(handler.name), parameters.join(QLatin1String(", ")))
            << QString() << QString::fromLatin1(handler.summary) << QString()
            << QStringLiteral("| Parameter | Value |") << QStringLiteral("|---|---|");
        for (int n = 0; n < parameters.size(); ++n)
            out << QStringLiteral("| `%1` | %2 |").arg(parameters.at(n), parameterMeaning(parameters.at(n), handler.format[n]));
        out << QString();
    }
}

void addFunctions(QStringList& out)
{
    out << QStringLiteral("## The vx5 table") << QString()
        << QStringLiteral("Scripts call the client through the global table `vx5`. A wrong or missing argument raises "
                          "the usual Lua argument error (also NaN, infinities and integers beyond 64 bits); a failure "
                          "of the client is never an error: the function returns the client's error code.")
        << QString();
    QList<const HostFunction*> functions;
    for (std::size_t row = 0; row < hostFunctionCount; ++row)
        functions << &hostFunctions[row];
    const auto functionName = [](const HostFunction* function) { return function->name; };
    for (const HostFunction* function : sortedByName(functions, functionName)) {
        const QStringList arguments = luaArguments(*function);
        const QList<P> kinds = luaArgumentKinds(*function);
        out << QStringLiteral("### vx5.%1(%2)").arg(QLatin1String(function->name), arguments.join(QLatin1String(", ")))
            << QString() << QString::fromLatin1(function->summary) << QString();
        if (!arguments.isEmpty()) {
            out << QStringLiteral("| Argument | Value |") << QStringLiteral("|---|---|");
            for (int n = 0; n < arguments.size(); ++n)
                out << QStringLiteral("| `%1` | %2 |").arg(arguments.at(n), argumentMeaning(kinds.value(n)));
            out << QString();
        }
        QStringList returned;
        for (const Result& result : results(*function))
            returned << result.meaning;
        out << QStringLiteral("Returns: %1.").arg(returned.isEmpty() ? QStringLiteral("nothing")
                                                                     : returned.join(QLatin1String(", then ")));
        const QString failure = failureText(*function);
        if (!failure.isEmpty())
            out << QString() << QStringLiteral("Failure: %1.").arg(failure);
        out << QString();
    }
}

void addConstants(QStringList& out)
{
    const auto value = [](int number, const char* meaning) {
        return QStringLiteral("| %1 | %2 |").arg(number).arg(QLatin1String(meaning));
    };
    out << QStringLiteral("## Constants") << QString()
        << QStringLiteral("The numbers the client hands to handlers and takes from scripts.") << QString()
        << QStringLiteral("Target modes (`targetMode` of `onTextMessageEvent`):") << QString()
        << QStringLiteral("| Value | Target |") << QStringLiteral("|---|---|")
        << value(TargetClient, "a private message to one client") << value(TargetChannel, "the channel")
        << value(TargetServer, "the whole server") << QString()
        << QStringLiteral("Menu types (`type` of a menu item and of `onMenuItemEvent`):") << QString()
        << QStringLiteral("| Value | Menu |") << QStringLiteral("|---|---|")
        << value(MenuGlobal, "the plug-in's global menu") << value(MenuChannel, "a channel's context menu")
        << value(MenuClient, "a client's context menu") << QString()
        << QStringLiteral("Connection status (`newStatus` of `onConnectStatusChangeEvent`, the value of "
                          "`vx5.getConnectionStatus`):")
        << QString() << QStringLiteral("| Value | Status |") << QStringLiteral("|---|---|")
        << value(StatusDisconnected, "disconnected") << value(StatusConnecting, "connecting")
        << value(StatusConnected, "connected") << value(StatusEstablishing, "the connection is being established")
        << value(StatusEstablished, "the connection is established") << QString()
        << QStringLiteral("Error codes (what `vx5` functions return last):") << QString()
        << QStringLiteral("| Value | Meaning |") << QStringLiteral("|---|---|") << value(ERROR_ok, "success")
        << value(ERROR_undefined, "a failure the client does not name (also: no client function to call)")
        << value(ERROR_parameter_invalid_size, "a list argument that is not a table") << QString();
}

} // namespace

QString luaSandboxReference()
{
    struct Row
    {
        const char* name;
        const char* time;
        const char* memory;
        const char* reach;
    };
    struct Refused
    {
        const char* name;
        const char* why;
    };
    QList<Row> rows;
    QList<Refused> refused;
#define VX5_REFERENCE_ROW(name, source, time, memory, reach) rows << Row{name, time, memory, reach};
#define VX5_REFERENCE_REFUSED(name, why) refused << Refused{name, why};
    VX5_SANDBOX_ROWS(VX5_REFERENCE_ROW, VX5_REFERENCE_REFUSED)
#undef VX5_REFERENCE_ROW
#undef VX5_REFERENCE_REFUSED

    QStringList out;
    out << QStringLiteral("With the sandbox on (the default), scripts get exactly what this section lists; everything else "
                          "of Lua's standard library is absent. Each entry says how its work ends within a call's time "
                          "limit (the clock is looked at where C code could run long), what it keeps outside Lua's "
                          "allocator (everything else counts against `memoryMB`), and what outside the Lua state it "
                          "reaches. `file:` entries are the methods of files, `string:` entries the fields of the "
                          "strings' metatable.")
        << QString()
        << QStringLiteral("Files: scripts read files beneath the scripts folder (the plug-in's `lua_plugin/`) and create, "
                          "write, remove and rename them beneath its folder `data/`, which is made (readable by its "
                          "owner only) when a script first writes; a relative path is taken from `data/`. The kernel "
                          "resolves every path beneath the folder it names (`openat2` with `RESOLVE_BENEATH`): `..`, "
                          "absolute paths elsewhere, links leading out and `/proc` are refused with \"outside the folders "
                          "scripts may use\". The null device (`/dev/null`) is the one file outside. A FIFO, socket or "
                          "device is refused as \"not a regular file\". A state holds at most 32 open files; a restart "
                          "or shutdown closes every file the state opened.")
        << QString() << QStringLiteral("| Name | Time | Memory | Reach |") << QStringLiteral("|---|---|---|---|");
    for (const Row& row : sortedByName(rows, [](const Row& r) { return r.name; }))
        out << QStringLiteral("| `%1` | %2 | %3 | %4 |")
                   .arg(QLatin1String(row.name), QLatin1String(row.time), QLatin1String(row.memory), QLatin1String(row.reach));
    out << QString()
        << QStringLiteral("These raise \"*name* is not available to scripts (sandbox in [Limits] of luaconfig.ini)\":")
        << QString() << QStringLiteral("| Name | Why |") << QStringLiteral("|---|---|");
    for (const Refused& entry : sortedByName(refused, [](const Refused& r) { return r.name; }))
        out << QStringLiteral("| `%1` | %2 |").arg(QLatin1String(entry.name), QLatin1String(entry.why));
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString luaReference()
{
    QStringList out;
    out << QStringLiteral("# Lua scripting reference")
        << QString()
        << QStringLiteral("Generated by `vx5-client --reference` from the plug-in's tables; do not edit by hand.")
        << QString()
        << QStringLiteral("Scripts live in the plug-in's folder `lua_plugin/`. The client loads `vx5events.lua` when the "
                          "plug-in starts; it defines the handlers below. Then the plug-in loads the modules.")
        << QString() << QStringLiteral("Contents:") << QString();
    for (const QString& section : sections)
        out << QStringLiteral("- [%1](#%2)").arg(section, anchor(section));
    out << QString();
    addEvents(out);
    addFunctions(out);
    addConstants(out);
    out << QStringLiteral("## The console command") << QString()
        << QStringLiteral("In the chat console, `/lua help` shows the commands, `/lua load <file>` runs a script from the "
                          "client's resources folder, `plugins/lua_plugin/<file>` below it (names with `..` or a leading "
                          "`/` are refused), and `/lua run <function> [args]` calls a global function, or with "
                          "`name.function` a function of the global table `name` or else of the loaded module `name` "
                          "(what its `init.lua` returned), with the connection and at most five arguments: digits only "
                          "(fitting 32 bits) arrive as numbers, anything else as strings. Failures are shown in the chat "
                          "tab.")
        << QString()
        << QStringLiteral("## Menus") << QString()
        << QStringLiteral("A global `createMenus()` declares the plug-in's menu items when the client asks for them. It "
                          "returns a table: element 1 is not used, element 2 the menu icon (a string), and every further "
                          "element one item `{type, menuID, text, icon}` (numbers, then strings of at most 127 bytes). "
                          "The list ends at the first element that is not such an item, and after 256 items. A click "
                          "calls `onMenuItemEvent` (above); `vx5.setPluginMenuEnabled(menuID, 0 or 1)` greys an item "
                          "out.")
        << QString()
        << QStringLiteral("## Modules and luaconfig.ini") << QString()
        << QStringLiteral("Every folder of `lua_plugin/` with an `init.lua` is a module (but `data/`, the scripts' data "
                          "folder). Once `vx5events.lua` has run, "
                          "the plug-in runs the `init.lua` of every module that is on (one that `modules` already holds is "
                          "left as it is) and keeps what it returns in the global table `modules` (`true` when it returns nothing). The "
                          "plug-in's settings dialog (the client's configure button) lists exactly these modules and "
                          "switches them on and off; the choice is stored in `luaconfig.ini` in the client's "
                          "configuration folder, as `[Modules]` with lines `1\\on=name`, `2\\off=name` and "
                          "`size=2`. A module the file does not name is on. Changing the choice restarts Lua (once no "
                          "script runs): every global and loaded module is gone, and `vx5events.lua` runs again.")
        << QString()
        << QStringLiteral("## Limits") << QString()
        << QStringLiteral("Group `[Limits]` of `luaconfig.ini` sets three limits: `timeLimitMs` (2000 when absent; 0: no "
                          "limit), `memoryMB` (256; 0: no cap) and `sandbox` (`true`; `true`, `yes`, `on`, `1` or "
                          "`false`, `no`, `off`, `0`).")
        << QString()
        << QStringLiteral("No call from the client into Lua (an event, the console, a menu, closing the state) may run "
                          "longer than `timeLimitMs`, counted from its start. Starting the state is one call: the "
                          "events script and all modules share one limit, and modules not reached when it is used up "
                          "are not loaded. A call that runs out ends with the error \"the script ran longer than its "
                          "time limit\", also inside coroutines and pcall: once the time is up, every further "
                          "instruction of the call raises it again, and `xpcall` skips its message handler. The state "
                          "stays as it is for the next event. The clock is looked at every hundred to thousand "
                          "instructions (at every instruction for the rest of a call once a thousand took long), after "
                          "every garbage-collection cycle and in the library functions that can work long in C (see "
                          "What scripts get), so a call ends at most about 250 ms past its limit. The limit uses the "
                          "debug hook, so `debug.sethook` is not available.")
        << QString()
        << QStringLiteral("The state may hold at most `memoryMB`, garbage not yet collected included. An allocation "
                          "beyond it raises Lua's \"not enough memory\"; the garbage is collected right after such an "
                          "error, so the script (or the next event) can go on. Functions that make large values check "
                          "their size first (see What scripts get).")
        << QString()
        << QStringLiteral("`string.find`, `match`, `gmatch` and `gsub` refuse a pattern the matcher would need more "
                          "than 200 levels of recursion for (\"pattern too complex\"). A call whose search could be "
                          "long is first counted on its actual subject, until the call's deadline at the latest; when the "
                          "count reaches the deadline, or the search after it could not end shortly after it, the call "
                          "ends with the time limit's error. Patterns of several "
                          "optional or repeated items that can match the same characters (`(\"a?\"):rep(40)`, "
                          "`\"^%s*(.-)%s*$\"` on a long run of spaces) are the usual cause; anchor the pattern or "
                          "split the work.")
        << QString()
        << QStringLiteral("With `sandbox=false` the whole standard library is there, with the bounded functions of What "
                          "scripts get in place of Lua's own (files not confined to the scripts folders, but regular files "
                          "only and at most 32 open). These then lie outside the limits: `os.exit` ends the client; "
                          "`os.execute`, `io.popen`, reading the client's standard input and `io.write` or the files "
                          "`io.stdout` and `io.stderr` to a full output block it; native code (`package.loadlib`, native "
                          "modules) can do anything; finalisers (`__gc` of `newproxy` userdata) run without a time limit; "
                          "precompiled chunks can crash Lua; and `debug.getregistry` hands out the records of Lua's own "
                          "libraries and the plug-in, which a script can change into ones that crash the client. The "
                          "debug library's other functions are guarded: they do not change the upvalues of C functions, "
                          "the environments of C functions and userdata (nor hand those out), the locals of a C "
                          "function's frame, and `getinfo` refuses the option `>`.")
        << QString()
        << QStringLiteral("A `vx5` argument that the client would read differently than the script meant is an "
                          "argument error: a string holding a zero byte, and in a list a 0 (also a 16-bit ID that is 0 "
                          "once cut to 16 bits, such as 65536) or an empty name, which would end the list. 64-bit IDs "
                          "take the whole unsigned range, as the getters hand them out.")
        << QString();
    out << QStringLiteral("## What scripts get") << QString() << luaSandboxReference();
    return out.join(QLatin1Char('\n'));
}

QString luaDefinitions()
{
    QStringList out;
    out << QStringLiteral("---@meta")
        << QStringLiteral("-- Definitions of the Voxmere Lua plug-in for the Lua language server; generated by")
        << QStringLiteral("-- \"vx5-client --definitions\". Put this file in the workspace's library path.")
        << QString() << QStringLiteral("---Functions of the Voxmere client for scripts.")
        << QStringLiteral("vx5 = {}") << QString();
    for (std::size_t row = 0; row < hostFunctionCount; ++row) {
        const HostFunction& function = hostFunctions[row];
        const QStringList arguments = luaArguments(function);
        const QList<P> kinds = luaArgumentKinds(function);
        out << QStringLiteral("---") + QString::fromLatin1(function.summary);
        for (int n = 0; n < arguments.size(); ++n)
            out << QStringLiteral("---@param %1 %2").arg(arguments.at(n), argumentType(kinds.value(n)));
        for (const Result& result : results(function))
            out << QStringLiteral("---@return %1 # %2").arg(result.type, result.meaning);
        out << QStringLiteral("function vx5.%1(%2) end").arg(QLatin1String(function.name),
                                                              arguments.join(QLatin1String(", ")))
            << QString();
    }
    out << QStringLiteral("-- Handlers: define the ones you need as global functions.") << QString();
    for (const LuaHandler& handler : luaHandlers()) {
        const QStringList parameters = names(handler.parameters);
        out << QStringLiteral("---") + QString::fromLatin1(handler.summary);
        for (int n = 0; n < parameters.size(); ++n) {
            out << QStringLiteral("---@param %1 %2").arg(parameters.at(n), letterType(handler.format[n]));
        }
        if (std::strchr(handler.format, '>'))
            out << QStringLiteral("---@return integer handled 1 when the script handled it");
        out << QStringLiteral("function %1(%2) end").arg(QLatin1String(handler.name), parameters.join(QLatin1String(", ")))
            << QString();
    }
    out << QStringLiteral("---Declares the plug-in's menu items: {unused, icon, {type, menuID, text, icon}, ...}.")
        << QStringLiteral("---@return table") << QStringLiteral("function createMenus() end") << QString()
        << QStringLiteral("---What the modules' init.lua returned, by module name.")
        << QStringLiteral("---@type table<string, any>") << QStringLiteral("modules = {}");
    return out.join(QLatin1Char('\n')) + QLatin1Char('\n');
}
