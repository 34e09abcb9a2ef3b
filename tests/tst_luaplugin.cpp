#include "hostcommands.h"
#include "luareference.h"
#include "pluginhost.h"
#include "support/capturedoutput.h"
#include "support/luadescribe.h"

#include <QDir>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <dlfcn.h>

namespace {

QByteArray readFileBytes(const char* path)
{
    QFile file(QString::fromUtf8(path));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(missing)");
}

enum class Returns { Dispatch, AlwaysZero, HandlerResult };

// What the client's events are to do: export, Lua handler, format, the host positions
// handed to Lua, and what the export returns.
struct EventRow
{
    const char* exportName;
    const char* handler;
    const char* format;
    QList<int> passed;
    Returns returns;
};

const EventRow eventRows[] = {
    {"vx5plugin_onServerTemporaryPasswordListEvent", "onServerTemporaryPasswordListEvent", "ussssuuus", {1, 2, 3, 4, 5, 6, 7, 8, 9}, Returns::Dispatch},
    {"vx5plugin_onPluginCommandEvent", "onPluginCommandEvent", "uss", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onClientServerQueryLoginPasswordEvent", "onClientServerQueryLoginPasswordEvent", "us", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onBanListEvent", "onBanListEvent", "uusssuusussi", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, Returns::Dispatch},
    {"vx5plugin_onComplainListEvent", "onComplainListEvent", "uusussu", {1, 2, 3, 4, 5, 6, 7}, Returns::Dispatch},
    {"vx5plugin_onClientNamefromDBIDEvent", "onClientNamefromDBIDEvent", "usus", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onClientNamefromUIDEvent", "onClientNamefromUIDEvent", "usus", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onClientDBIDfromUIDEvent", "onClientDBIDfromUIDEvent", "usu", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onMessageGetEvent", "onMessageGetEvent", "uusssu", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onMessageListEvent", "onMessageListEvent", "uussui", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onServerQueryEvent", "onServerQueryEvent", "us", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onServerLogFinishedEvent", "onServerLogFinishedEvent", "uuu", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onServerLogEvent", "onServerLogEvent", "us", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onClientChatComposingEvent", "onClientChatComposingEvent", "uas", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onClientChatClosedEvent", "onClientChatClosedEvent", "uas", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onClientNeededPermissionsFinishedEvent", "onClientNeededPermissionsFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onClientNeededPermissionsEvent", "onClientNeededPermissionsEvent", "uai", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onServerGroupClientDeletedEvent", "onServerGroupClientDeletedEvent", "uassuass", {1, 2, 3, 4, 5, 6, 7, 8}, Returns::Dispatch},
    {"vx5plugin_onServerGroupClientAddedEvent", "onServerGroupClientAddedEvent", "uassuass", {1, 2, 3, 4, 5, 6, 7, 8}, Returns::Dispatch},
    {"vx5plugin_onPermissionOverviewFinishedEvent", "onPermissionOverviewFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onPermissionOverviewEvent", "onPermissionOverviewEvent", "uuuiuuaiii", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, Returns::Dispatch},
    {"vx5plugin_onPermissionListFinishedEvent", "onPermissionListFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onPermissionListEvent", "onPermissionListEvent", "uass", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onServerPermissionErrorEvent", "onServerPermissionErrorEvent", "usia", {1, 2, 3, 5}, Returns::AlwaysZero},
    {"vx5plugin_onClientChannelGroupChangedEvent", "onClientChannelGroupChangedEvent", "uuuaass", {1, 2, 3, 4, 5, 6, 7}, Returns::Dispatch},
    {"vx5plugin_onChannelPermListEvent", "onChannelPermListEvent", "uuaiii", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onChannelGroupPermListEvent", "onChannelGroupPermListEvent", "uuaiii", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onChannelGroupListFinishedEvent", "onChannelGroupListFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onChannelGroupListEvent", "onChannelGroupListEvent", "uusiii", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onServerGroupClientListEvent", "onServerGroupClientListEvent", "uuuss", {1, 2, 3, 4, 5}, Returns::Dispatch},
    {"vx5plugin_onServerGroupPermListEvent", "onServerGroupPermListEvent", "uuaiii", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onServerGroupByClientIDEvent", "onServerGroupByClientIDEvent", "usuu", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onServerGroupListFinishedEvent", "onServerGroupListFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onServerGroupListEvent", "onServerGroupListEvent", "uusiii", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onClientSelfVariableUpdateEvent", "onClientSelfVariableUpdateEvent", "uiss", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onClientPokeEvent", "onClientPokeEvent", "uassi>i", {1, 2, 3, 5, 6}, Returns::HandlerResult},
    {"vx5plugin_onClientBanFromServerEvent", "onClientBanFromServerEvent", "uauuiassus", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10}, Returns::Dispatch},
    {"vx5plugin_onPlaybackShutdownCompleteEvent", "onPlaybackShutdownCompleteEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onChannelPasswordChangedEvent", "onChannelPasswordChangedEvent", "uu", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onChannelDescriptionUpdateEvent", "onChannelDescriptionUpdateEvent", "uu", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onChannelUnsubscribeFinishedEvent", "onChannelUnsubscribeFinishedEvent", "i", {1}, Returns::Dispatch},
    {"vx5plugin_onChannelUnsubscribeEvent", "onChannelUnsubscribeEvent", "uu", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onChannelSubscribeFinishedEvent", "onChannelSubscribeFinishedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onChannelSubscribeEvent", "onChannelSubscribeEvent", "uu", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onServerConnectionInfoEvent", "onServerConnectionInfoEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onConnectionInfoEvent", "onConnectionInfoEvent", "ua", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onTalkStatusChangeEvent", "onTalkStatusChangeEvent", "uiia", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onTextMessageEvent", "onTextMessageEvent", "uaaasssi>i", {1, 2, 3, 4, 5, 6, 7, 8}, Returns::HandlerResult},
    {"vx5plugin_onServerStopEvent", "onServerStopEvent", "us", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onServerErrorEvent", "onServerErrorEvent", "usis", {1, 2, 3, 5}, Returns::AlwaysZero},
    {"vx5plugin_onServerUpdatedEvent", "onServerUpdatedEvent", "u", {1}, Returns::Dispatch},
    {"vx5plugin_onServerEditedEvent", "onServerEditedEvent", "uass", {1, 2, 3, 4}, Returns::Dispatch},
    {"vx5plugin_onClientKickFromServerEvent", "onClientKickFromServerEvent", "uauuiasss", {1, 2, 3, 4, 5, 6, 7, 8, 9}, Returns::Dispatch},
    {"vx5plugin_onClientKickFromChannelEvent", "onClientKickFromChannelEvent", "uauuiasss", {1, 2, 3, 4, 5, 6, 7, 8, 9}, Returns::Dispatch},
    {"vx5plugin_onClientMoveMovedEvent", "onClientMoveMovedEvent", "uauuiasss", {1, 2, 3, 4, 5, 6, 7, 8, 9}, Returns::Dispatch},
    {"vx5plugin_onClientMoveTimeoutEvent", "onClientMoveTimeoutEvent", "uauuis", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onClientMoveSubscriptionEvent", "onClientMoveSubscriptionEvent", "uauui", {1, 2, 3, 4, 5}, Returns::Dispatch},
    {"vx5plugin_onClientMoveEvent", "onClientMoveEvent", "uauuis", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onUpdateClientEvent", "onUpdateClientEvent", "ua", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onUpdateChannelEditedEvent", "onUpdateChannelEditedEvent", "uuass", {1, 2, 3, 4, 5}, Returns::Dispatch},
    {"vx5plugin_onUpdateChannelEvent", "onUpdateChannelEvent", "uu", {1, 2}, Returns::Dispatch},
    {"vx5plugin_onChannelMoveEvent", "onChannelMove", "uuuass", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onDelChannelEvent", "onDelChannelEvent", "uuass", {1, 2, 3, 4, 5}, Returns::Dispatch},
    {"vx5plugin_onNewChannelCreatedEvent", "onNewChannelCreatedEvent", "uuuass", {1, 2, 3, 4, 5, 6}, Returns::Dispatch},
    {"vx5plugin_onNewChannelEvent", "onNewChannelEvent", "uuu", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_onConnectStatusChangeEvent", "onConnectStatusChangeEvent", "uii", {1, 2, 3}, Returns::Dispatch},
    {"vx5plugin_currentServerConnectionChanged", "currentServerConnectionChanged", "u", {1}, Returns::Dispatch},
};

// A distinct sample for each host position; 64-bit values have their top bit set.
HostValue sample(char letter, int position)
{
    switch (letter) {
    case 'u':
        return {QByteArray::number((1ULL << 63) | quint64(1000 + position)), false};
    case 'a':
        return {QByteArray::number(20 + position), false};
    case 'i':
        return {QByteArray::number(-(100 + position)), false};
    default:
        return {"text" + QByteArray::number(position), false};
    }
}

// How the recording handler describes the value Lua got for a sample.
QByteArray expectedInLua(char hostLetter, char formatLetter, int position)
{
    if (hostLetter == 's')
        return "string:text" + QByteArray::number(position);
    if (hostLetter == 'u' && formatLetter == 'i') // low 32 bits as a signed number
        return "number:" + QByteArray::number(qint32(quint32(1000 + position)));
    if (hostLetter == 'u')
        return "number:" + QByteArray::number(1000 + position);
    if (hostLetter == 'a')
        return "number:" + QByteArray::number(20 + position);
    return "number:" + QByteArray::number(-(100 + position));
}

} // namespace

class LuaPluginTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void everyEventReachesItsHandler_data();
    void everyEventReachesItsHandler();
    void eventsWithoutHandlers();
    void onlyPrefixedExportsAreVisible();
    void hostTableUse();
    void unimplementedEntriesRecordAndReturnTheirCode();
    void committedReferenceIsCurrent();
    void tokenize_data();
    void tokenize();
    void commandScript();

private:
    void writeEventsScript(bool withHandlers);
    QByteArray lastRecord();

    QTemporaryDir folder;
    std::unique_ptr<PluginHost> host;
};

void LuaPluginTest::writeEventsScript(bool withHandlers)
{
    QFile script(folder.path() + "/lua_plugin/vx5events.lua");
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(luaDescribeSource);
    script.write(R"lua(
local log = "events.log" -- in the scripts' data folder
function handle(name)
  _G[name] = function(...)
    local out = assert(io.open(log, "a"))
    out:write(name, " ", describe(...), "\n")
    out:close()
    return 42
  end
end
)lua");
    if (withHandlers) {
        for (const EventRow& row : eventRows)
            script.write(QByteArray("handle('") + row.handler + "')\n");
    }
}

QByteArray LuaPluginTest::lastRecord()
{
    QFile log(folder.path() + "/lua_plugin/data/events.log");
    if (!log.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> lines = log.readAll().trimmed().split('\n');
    return lines.last();
}

void LuaPluginTest::initTestCase()
{
    QVERIFY(folder.isValid());
    QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("lua_plugin")));
    writeEventsScript(true);
    host = std::make_unique<PluginHost>(QFile::encodeName(folder.path()) + '/');
    QVERIFY2(host->load(QStringLiteral(VX5_PLUGIN_LIBRARY)), qPrintable(host->errorString()));
    CapturedOutput quiet;
    QCOMPARE(host->start(), 0);
}

void LuaPluginTest::cleanupTestCase()
{
    CapturedOutput quiet;
    host.reset();
}

void LuaPluginTest::everyEventReachesItsHandler_data()
{
    QTest::addColumn<int>("row");
    for (int n = 0; n < int(std::size(eventRows)); ++n)
        QTest::newRow(eventRows[n].exportName) << n;
    QCOMPARE(int(std::size(eventRows)), 67);
}

void LuaPluginTest::everyEventReachesItsHandler()
{
    QFETCH(int, row);
    const EventRow& event = eventRows[row];
    const EventExport* hostSide = findEventExport(event.exportName);
    QVERIFY(hostSide);

    QList<HostValue> values;
    for (int position = 1; position <= hostSide->letters.size(); ++position)
        values.append(sample(hostSide->letters.at(position - 1), position));

    QByteArray expected = event.handler;
    for (int n = 0; n < event.passed.size(); ++n) {
        const int position = event.passed.at(n);
        expected += ' ' + expectedInLua(hostSide->letters.at(position - 1), event.format[n], position);
    }

    int result = -1;
    CapturedOutput output;
    QVERIFY2(host->fireEvent(event.exportName, values, &result), qPrintable(host->errorString()));
    QCOMPARE(output.standardError(), QByteArray());
    QCOMPARE(lastRecord(), expected);
    QCOMPARE(result, event.returns == Returns::HandlerResult ? 42 : 0);

    // The reference for script authors documents exactly what the handler receives.
    const auto documented = std::find_if(luaHandlers().cbegin(), luaHandlers().cend(), [&event](const LuaHandler& handler) {
        return qstrcmp(handler.name, event.handler) == 0;
    });
    QVERIFY(documented != luaHandlers().cend());
    QCOMPARE(QByteArray(documented->format), QByteArray(event.format));
    QCOMPARE(QByteArray(documented->parameters).count(',') + 1, qsizetype(event.passed.size()));
}

void LuaPluginTest::eventsWithoutHandlers()
{
    writeEventsScript(false);
    CapturedOutput output;
    QCOMPARE(host->restart(), 0);
    for (const EventRow& event : eventRows) {
        const EventExport* hostSide = findEventExport(event.exportName);
        QList<HostValue> values;
        for (int position = 1; position <= hostSide->letters.size(); ++position)
            values.append(sample(hostSide->letters.at(position - 1), position));
        int result = -1;
        QVERIFY(host->fireEvent(event.exportName, values, &result));
        QCOMPARE(result, event.returns == Returns::Dispatch ? 1 : 0);
    }
    const QByteArray errors = output.standardError();
    QCOMPARE(errors.count("Error running Lua function: Function '"), 67);
    QVERIFY(errors.contains("Function 'onChannelMove' not found"));

    writeEventsScript(true);
    QCOMPARE(host->restart(), 0);
}

void LuaPluginTest::onlyPrefixedExportsAreVisible()
{
    // The library's whole dynamic symbol table: nothing but the vx5plugin_ entries.
    QProcess nm;
    nm.start("nm", {"--dynamic", "--defined-only", "--format=just-symbols", VX5_PLUGIN_LIBRARY});
    QVERIFY(nm.waitForFinished() && nm.exitCode() == 0);
    const QList<QByteArray> exported = nm.readAllStandardOutput().trimmed().split('\n');
    QCOMPARE(exported.size(), 83); // 16 of identity, lifecycle, console, menus and configure; 67 events
    for (const QByteArray& symbol : exported)
        QVERIFY2(symbol.startsWith("vx5plugin_"), symbol.constData());

    for (const char* name : {"L", "pluginID", "vx5Functions", "_Z15callLuaFunctionPcPKcS1_z", "_Z7initLuav"})
        QVERIFY2(!host->symbol(name), name);
    for (const char* name : {"vx5plugin_name", "vx5plugin_registerPluginID", "vx5plugin_freeMemory"})
        QVERIFY2(host->symbol(name), name);
    QCOMPARE(QByteArray(reinterpret_cast<const char* (*)()>(host->symbol("vx5plugin_name"))()), "Lua Plugin");
    QCOMPARE(reinterpret_cast<int (*)()>(host->symbol("vx5plugin_apiVersion"))(), 17);
}

void LuaPluginTest::hostTableUse()
{
    host->calls.clear();
    CapturedOutput quiet;
    QCOMPARE(host->restart(), 0);
    // The plug-in folder and luaconfig.ini (time limit), then the same for the modules.
    QCOMPARE(host->calls, QStringList({"getPluginPath(out, 4096)", "getConfigPath(out, 4096)",
                                       "getPluginPath(out, 4096)", "getConfigPath(out, 4096)"}));
}

void LuaPluginTest::unimplementedEntriesRecordAndReturnTheirCode()
{
    void* entries[206];
    std::memcpy(entries, &host->functionTable(), sizeof entries);
    for (void* entry : entries)
        QVERIFY(entry);
    QCOMPARE(entries[181], reinterpret_cast<void*>(host->functionTable().getPluginPath));

    host->calls.clear();
    FakeResult failing;
    failing.code = ERROR_parameter_invalid_size;
    host->results.insert(2, failing);
    QCOMPARE(reinterpret_cast<unsigned int (*)()>(entries[2])(), unsigned(ERROR_parameter_invalid_size));
    QCOMPARE(reinterpret_cast<unsigned int (*)()>(entries[3])(), unsigned(ERROR_ok));
    QCOMPARE(host->calls, QStringList({"entry 2", "entry 3"}));
    host->results.clear();
}

// docs/ holds what "vx5-client --reference" and "--definitions" print today, and README
// the reference's section "What scripts get".
void LuaPluginTest::committedReferenceIsCurrent()
{
    QCOMPARE(QString::fromUtf8(readFileBytes(VX5_DOCS "/lua-reference.md")), luaReference());
    QCOMPARE(QString::fromUtf8(readFileBytes(VX5_DOCS "/vx5-definitions.lua")), luaDefinitions());
    const QString readme = QString::fromUtf8(readFileBytes(VX5_DOCS "/../README.md"));
    const QString start = QStringLiteral("from lua_plugin/luasandboxtable.h -->\n");
    const qsizetype from = readme.indexOf(start) + start.size();
    QCOMPARE(readme.mid(from, readme.indexOf(QStringLiteral("<!-- end of what-scripts-get -->")) - from),
             luaSandboxReference());
}

void LuaPluginTest::tokenize_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QStringList>("tokens");
    QTest::addColumn<QString>("error");

    QTest::newRow("plain") << QByteArray("1 2  3") << QStringList{"1", "2", "3"} << "";
    QTest::newRow("quoted with blanks and escapes")
        << QByteArray(R"(1 "a b" "say \"hi\"" "back\\slash")") << QStringList{"1", "a b", "say \"hi\"", "back\\slash"}
        << "";
    QTest::newRow("nil and quoted nil") << QByteArray(R"(nil "nil")") << QStringList{"<null>", "nil"} << "";
    QTest::newRow("empty string") << QByteArray(R"("")") << QStringList{""} << "";
    QTest::newRow("unterminated") << QByteArray(R"(1 "open)") << QStringList() << "unterminated string";
}

void LuaPluginTest::tokenize()
{
    QFETCH(QByteArray, line);
    QFETCH(QStringList, tokens);
    QFETCH(QString, error);

    QString problem;
    QStringList got;
    for (const HostValue& value : HostCommands::tokenize(line, &problem))
        got << (value.isNil ? QStringLiteral("<null>") : QString::fromUtf8(value.text));
    QCOMPARE(got, tokens);
    QCOMPARE(problem, error);
}

void LuaPluginTest::commandScript()
{
    QStringList printed;
    HostCommands commands(*host, [&printed](const QString& line) { printed << line; });
    CapturedOutput quiet;
    QVERIFY(commands.run(R"(event onTextMessageEvent 1 0 5 7 "Ann Lee" nil "hi \"you\"" 0)"));
    QCOMPARE(lastRecord(), QByteArray(R"(onTextMessageEvent number:1 number:0 number:5 number:7 string:Ann Lee nil string:hi "you" number:0)"));
    QVERIFY(commands.run("# a comment"));
    QVERIFY(commands.run("event vx5plugin_onNewChannelEvent 1 2"));
    QVERIFY(commands.run("event onNewChannelEvent 1 x 3"));
    QVERIFY(commands.run("console /lua help"));
    QVERIFY(!commands.run("quit"));
    QCOMPARE(printed.value(0), QStringLiteral("onTextMessageEvent -> 42"));
    QCOMPARE(printed.value(1), QStringLiteral("error: vx5plugin_onNewChannelEvent takes 3 arguments (uuu), not 2"));
    QCOMPARE(printed.value(2),
             QStringLiteral("error: argument 2 of vx5plugin_onNewChannelEvent is not a number of type 'u': x"));
    QCOMPARE(printed.value(3), QStringLiteral("console -> 0"));
    QCOMPARE(commands.failures(), 2);
}

QTEST_GUILESS_MAIN(LuaPluginTest)
#include "tst_luaplugin.moc"
