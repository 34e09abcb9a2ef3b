#include "eventexports.h"

#include "vx5functions.h"

#include <utility>

namespace {

using U64 = std::uint64_t;
using Id16 = anyID;
using Int = int;
using Text = const char*;

template <typename T> constexpr char letterOf();
template <> constexpr char letterOf<U64>() { return 'u'; }
template <> constexpr char letterOf<Id16>() { return 'a'; }
template <> constexpr char letterOf<Int>() { return 'i'; }
template <> constexpr char letterOf<Text>() { return 's'; }

// Numbers are checked by checkValues before a call, so these conversions cannot fail.
template <typename T> T valueAs(const HostValue& value);
template <> U64 valueAs<U64>(const HostValue& value) { return value.text.toULongLong(nullptr, 0); }
template <> Id16 valueAs<Id16>(const HostValue& value) { return value.text.toUShort(nullptr, 0); }
template <> Int valueAs<Int>(const HostValue& value) { return value.text.toInt(nullptr, 0); }
template <> Text valueAs<Text>(const HostValue& value) { return value.isNil ? nullptr : value.text.constData(); }

template <typename... Args, std::size_t... Index>
int invokeWith(void* symbol, const QList<HostValue>& values, std::index_sequence<Index...>)
{
    const auto function = reinterpret_cast<int (*)(Args...)>(symbol);
    return function(valueAs<Args>(values.at(Index))...);
}

template <typename... Args>
EventExport entry(const char* name)
{
    static constexpr char letters[] = {letterOf<Args>()..., '\0'};
    return {name, QByteArray(letters), [](void* symbol, const QList<HostValue>& values) {
                return invokeWith<Args...>(symbol, values, std::index_sequence_for<Args...>{});
            }};
}

} // namespace

const QList<EventExport>& eventExports()
{
    static const QList<EventExport> exports = {
        entry<U64, Text, Text, Text, Text, U64, U64, U64, Text>("vx5plugin_onServerTemporaryPasswordListEvent"),
        entry<U64, Text, Text>("vx5plugin_onPluginCommandEvent"),
        entry<U64, Text>("vx5plugin_onClientServerQueryLoginPasswordEvent"),
        entry<U64, U64, Text, Text, Text, U64, U64, Text, U64, Text, Text, Int, Int>("vx5plugin_onBanListEvent"),
        entry<U64, U64, Text, U64, Text, Text, U64>("vx5plugin_onComplainListEvent"),
        entry<U64, Text, U64, Text>("vx5plugin_onClientNamefromDBIDEvent"),
        entry<U64, Text, U64, Text>("vx5plugin_onClientNamefromUIDEvent"),
        entry<U64, Text, U64>("vx5plugin_onClientDBIDfromUIDEvent"),
        entry<U64, U64, Text, Text, Text, U64>("vx5plugin_onMessageGetEvent"),
        entry<U64, U64, Text, Text, U64, Int>("vx5plugin_onMessageListEvent"),
        entry<U64, Text>("vx5plugin_onServerQueryEvent"),
        entry<U64, U64, U64>("vx5plugin_onServerLogFinishedEvent"),
        entry<U64, Text>("vx5plugin_onServerLogEvent"),
        entry<U64, Id16, Text>("vx5plugin_onClientChatComposingEvent"),
        entry<U64, Id16, Text>("vx5plugin_onClientChatClosedEvent"),
        entry<U64>("vx5plugin_onClientNeededPermissionsFinishedEvent"),
        entry<U64, Id16, Int>("vx5plugin_onClientNeededPermissionsEvent"),
        entry<U64, Id16, Text, Text, U64, Id16, Text, Text>("vx5plugin_onServerGroupClientDeletedEvent"),
        entry<U64, Id16, Text, Text, U64, Id16, Text, Text>("vx5plugin_onServerGroupClientAddedEvent"),
        entry<U64>("vx5plugin_onPermissionOverviewFinishedEvent"),
        entry<U64, U64, U64, Int, U64, U64, Id16, Int, Int, Int>("vx5plugin_onPermissionOverviewEvent"),
        entry<U64>("vx5plugin_onPermissionListFinishedEvent"),
        entry<U64, Id16, Text, Text>("vx5plugin_onPermissionListEvent"),
        entry<U64, Text, Int, Text, Id16>("vx5plugin_onServerPermissionErrorEvent"),
        entry<U64, U64, U64, Id16, Id16, Text, Text>("vx5plugin_onClientChannelGroupChangedEvent"),
        entry<U64, U64, Id16, Int, Int, Int>("vx5plugin_onChannelPermListEvent"),
        entry<U64, U64, Id16, Int, Int, Int>("vx5plugin_onChannelGroupPermListEvent"),
        entry<U64>("vx5plugin_onChannelGroupListFinishedEvent"),
        entry<U64, U64, Text, Int, Int, Int>("vx5plugin_onChannelGroupListEvent"),
        entry<U64, U64, U64, Text, Text>("vx5plugin_onServerGroupClientListEvent"),
        entry<U64, U64, Id16, Int, Int, Int>("vx5plugin_onServerGroupPermListEvent"),
        entry<U64, Text, U64, U64>("vx5plugin_onServerGroupByClientIDEvent"),
        entry<U64>("vx5plugin_onServerGroupListFinishedEvent"),
        entry<U64, U64, Text, Int, Int, Int>("vx5plugin_onServerGroupListEvent"),
        entry<U64, Int, Text, Text>("vx5plugin_onClientSelfVariableUpdateEvent"),
        entry<U64, Id16, Text, Text, Text, Int>("vx5plugin_onClientPokeEvent"),
        entry<U64, Id16, U64, U64, Int, Id16, Text, Text, U64, Text>("vx5plugin_onClientBanFromServerEvent"),
        entry<U64>("vx5plugin_onPlaybackShutdownCompleteEvent"),
        entry<U64, U64>("vx5plugin_onChannelPasswordChangedEvent"),
        entry<U64, U64>("vx5plugin_onChannelDescriptionUpdateEvent"),
        entry<U64>("vx5plugin_onChannelUnsubscribeFinishedEvent"),
        entry<U64, U64>("vx5plugin_onChannelUnsubscribeEvent"),
        entry<U64>("vx5plugin_onChannelSubscribeFinishedEvent"),
        entry<U64, U64>("vx5plugin_onChannelSubscribeEvent"),
        entry<U64>("vx5plugin_onServerConnectionInfoEvent"),
        entry<U64, Id16>("vx5plugin_onConnectionInfoEvent"),
        entry<U64, Int, Int, Id16>("vx5plugin_onTalkStatusChangeEvent"),
        entry<U64, Id16, Id16, Id16, Text, Text, Text, Int>("vx5plugin_onTextMessageEvent"),
        entry<U64, Text>("vx5plugin_onServerStopEvent"),
        entry<U64, Text, Int, Text, Text>("vx5plugin_onServerErrorEvent"),
        entry<U64>("vx5plugin_onServerUpdatedEvent"),
        entry<U64, Id16, Text, Text>("vx5plugin_onServerEditedEvent"),
        entry<U64, Id16, U64, U64, Int, Id16, Text, Text, Text>("vx5plugin_onClientKickFromServerEvent"),
        entry<U64, Id16, U64, U64, Int, Id16, Text, Text, Text>("vx5plugin_onClientKickFromChannelEvent"),
        entry<U64, Id16, U64, U64, Int, Id16, Text, Text, Text>("vx5plugin_onClientMoveMovedEvent"),
        entry<U64, Id16, U64, U64, Int, Text>("vx5plugin_onClientMoveTimeoutEvent"),
        entry<U64, Id16, U64, U64, Int>("vx5plugin_onClientMoveSubscriptionEvent"),
        entry<U64, Id16, U64, U64, Int, Text>("vx5plugin_onClientMoveEvent"),
        entry<U64, Id16>("vx5plugin_onUpdateClientEvent"),
        entry<U64, U64, Id16, Text, Text>("vx5plugin_onUpdateChannelEditedEvent"),
        entry<U64, U64>("vx5plugin_onUpdateChannelEvent"),
        entry<U64, U64, U64, Id16, Text, Text>("vx5plugin_onChannelMoveEvent"),
        entry<U64, U64, Id16, Text, Text>("vx5plugin_onDelChannelEvent"),
        entry<U64, U64, U64, Id16, Text, Text>("vx5plugin_onNewChannelCreatedEvent"),
        entry<U64, U64, U64>("vx5plugin_onNewChannelEvent"),
        entry<U64, Int, Int>("vx5plugin_onConnectStatusChangeEvent"),
        entry<U64>("vx5plugin_currentServerConnectionChanged"),
    };
    return exports;
}

const EventExport* findEventExport(const QByteArray& name)
{
    const QByteArray full = name.startsWith("vx5plugin_") ? name : "vx5plugin_" + name;
    for (const EventExport& event : eventExports()) {
        if (full == event.name)
            return &event;
    }
    return nullptr;
}

QString checkValues(const EventExport& event, const QList<HostValue>& values)
{
    if (values.size() != event.letters.size())
        return QStringLiteral("%1 takes %2 arguments (%3), not %4")
            .arg(QLatin1String(event.name), QString::number(event.letters.size()), QLatin1String(event.letters),
                 QString::number(values.size()));
    for (int n = 0; n < values.size(); ++n) {
        const HostValue& value = values.at(n);
        bool ok = true;
        switch (event.letters.at(n)) {
        case 'u':
            value.text.toULongLong(&ok, 0);
            break;
        case 'a':
            value.text.toUShort(&ok, 0);
            break;
        case 'i':
            value.text.toInt(&ok, 0);
            break;
        default:
            continue;
        }
        if (!ok || value.isNil)
            return QStringLiteral("argument %1 of %2 is not a number of type '%3': %4")
                .arg(QString::number(n + 1), QLatin1String(event.name), QString(QLatin1Char(event.letters.at(n))),
                     QString::fromUtf8(value.text));
    }
    return {};
}
