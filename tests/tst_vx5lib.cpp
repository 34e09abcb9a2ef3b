// The vx5 library, the console command, the menus and the module dialog, through the
// real plug-in loaded by the stand-in client, whose fakes record what the host receives.
#include "pluginhost.h"
#include "support/capturedoutput.h"
#include "support/gzipfile.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

namespace {

// One row per vx5 function: the Lua call, the host entry, what the fake answers
// (text:, number: or list:), what the host receives, and what the script gets.
struct FunctionRow
{
    const char* call;
    int entry;
    const char* output;
    const char* record;
    const char* results;
};

const FunctionRow functionRows[] = {
    {"getClientLibVersion()", 0, "text:T", "getClientLibVersion(out)", "string:T number:0"},
    {"getClientLibVersionNumber()", 1, "number:7", "getClientLibVersionNumber(out)", "number:7 number:0"},
    {"getErrorMessage(1541)", 4, "text:T", "getErrorMessage(1541, out)", "string:T number:0"},
    {"logMessage(\"m\", 2, \"ch\", 99)", 6, "", "logMessage(\"m\", 2, \"ch\", 99)", "number:0"},
    {"getPreProcessorInfoValueFloat(1, \"voiceactivity\")", 33, "number:0.5", "getPreProcessorInfoValueFloat(1, \"voiceactivity\", out)", "number:0.5 number:0"},
    {"getPreProcessorConfigValue(1, \"agc\")", 34, "text:T", "getPreProcessorConfigValue(1, \"agc\", out)", "string:T number:0"},
    {"setPreProcessorConfigValue(1, \"agc\", \"true\")", 35, "", "setPreProcessorConfigValue(1, \"agc\", \"true\")", "number:0"},
    {"getEncodeConfigValue(1, \"name\")", 36, "text:T", "getEncodeConfigValue(1, \"name\", out)", "string:T number:0"},
    {"getPlaybackConfigValueAsFloat(1, \"volume\")", 37, "number:0.25", "getPlaybackConfigValueAsFloat(1, \"volume\", out)", "number:0.25 number:0"},
    {"setPlaybackConfigValue(1, \"volume\", \"3\")", 38, "", "setPlaybackConfigValue(1, \"volume\", \"3\")", "number:0"},
    {"requestClientMove(1, 65541, 8, \"pw\")", 47, "", "requestClientMove(1, 5, 8, \"pw\", null)", "number:0"},
    {"requestClientVariables(1, 65541)", 48, "", "requestClientVariables(1, 5, null)", "number:0"},
    {"requestClientKickFromChannel(1, 65541, \"bye\")", 49, "", "requestClientKickFromChannel(1, 5, \"bye\", null)", "number:0"},
    {"requestClientKickFromServer(1, 65541, \"bye\")", 50, "", "requestClientKickFromServer(1, 5, \"bye\", null)", "number:0"},
    {"requestChannelDelete(1, 8, 65537)", 51, "", "requestChannelDelete(1, 8, 1, null)", "number:0"},
    {"requestChannelMove(1, 8, 9)", 52, "", "requestChannelMove(1, 8, 9, 0, null)", "number:0"},
    {"requestSendPrivateTextMsg(1, \"hi\", 65541)", 53, "", "requestSendPrivateTextMsg(1, \"hi\", 5, null)", "number:0"},
    {"requestSendChannelTextMsg(1, \"hi\", 65544)", 54, "", "requestSendChannelTextMsg(1, \"hi\", 8, null)", "number:0"},
    {"requestSendServerTextMsg(1, \"hi\")", 55, "", "requestSendServerTextMsg(1, \"hi\", null)", "number:0"},
    {"requestConnectionInfo(1, 65541)", 56, "", "requestConnectionInfo(1, 5, null)", "number:0"},
    {"requestChannelSubscribe(1, {8, 9})", 58, "", "requestChannelSubscribe(1, {8, 9}, null)", "number:0"},
    {"requestChannelUnsubscribe(1, {8})", 60, "", "requestChannelUnsubscribe(1, {8}, null)", "number:0"},
    {"requestChannelSubscribeAll(1)", 59, "", "requestChannelSubscribeAll(1, null)", "number:0"},
    {"requestChannelUnsubscribeAll(1)", 61, "", "requestChannelUnsubscribeAll(1, null)", "number:0"},
    {"requestChannelDescription(1, 8)", 62, "", "requestChannelDescription(1, 8, null)", "number:0"},
    {"requestMuteClients(1, {65541, 6})", 63, "", "requestMuteClients(1, {5, 6}, null)", "number:0"},
    {"requestUnmuteClients(1, {5})", 64, "", "requestUnmuteClients(1, {5}, null)", "number:0"},
    {"getClientID(1)", 72, "number:7", "getClientID(1, out)", "number:7 number:0"},
    {"getClientSelfVariableAsInt(1, 3)", 73, "number:-7", "getClientSelfVariableAsInt(1, 3, out)", "number:-7 number:0"},
    {"getClientSelfVariableAsString(1, 3)", 74, "text:T", "getClientSelfVariableAsString(1, 3, out)", "string:T number:0"},
    {"setClientSelfVariableAsInt(1, 3, 4294967297)", 75, "", "setClientSelfVariableAsInt(1, 3, 1)", "number:0"},
    {"setClientSelfVariableAsString(1, 3, \"away\")", 76, "", "setClientSelfVariableAsString(1, 3, \"away\")", "number:0"},
    {"flushClientSelfUpdates(1)", 77, "", "flushClientSelfUpdates(1, null)", "number:0"},
    {"getClientVariableAsInt(1, 65541, 2)", 78, "number:7", "getClientVariableAsInt(1, 5, 2, out)", "number:7 number:0"},
    {"getClientVariableAsUInt64(1, 5, 2)", 79, "number:7", "getClientVariableAsUInt64(1, 5, 2, out)", "number:7 number:0"},
    {"getClientVariableAsString(1, 5, 2)", 80, "text:T", "getClientVariableAsString(1, 5, 2, out)", "string:T number:0"},
    {"getClientList(1)", 81, "list:5,6", "getClientList(1, out)", "{5,6} number:0"},
    {"getChannelOfClient(1, 5)", 82, "number:8", "getChannelOfClient(1, 5, out)", "number:8 number:0"},
    {"getConnectionStatus(1)", 100, "number:1", "getConnectionStatus(1, out)", "number:1 number:0"},
    {"getConnectionVariableAsUInt64(1, 5, 4294967298)", 101, "number:7", "getConnectionVariableAsUInt64(1, 5, 2, out)", "number:7 number:0"},
    {"getConnectionVariableAsDouble(1, 5, 2)", 102, "number:0.5", "getConnectionVariableAsDouble(1, 5, 2, out)", "number:0.5 number:0"},
    {"getConnectionVariableAsString(1, 5, 2)", 103, "text:T", "getConnectionVariableAsString(1, 5, 2, out)", "string:T number:0"},
    {"cleanUpConnectionInfo(1, 5)", 104, "", "cleanUpConnectionInfo(1, 5)", "number:0"},
    {"getChannelVariableAsInt(1, 8, 2)", 83, "number:7", "getChannelVariableAsInt(1, 8, 2, out)", "number:7 number:0"},
    {"getChannelVariableAsString(1, 8, 2)", 85, "text:T", "getChannelVariableAsString(1, 8, 2, out)", "string:T number:0"},
    {"getChannelIDFromChannelNames(1, {\"Lobby\", \"Games\"})", 86, "number:9", "getChannelIDFromChannelNames(1, {\"Lobby\", \"Games\"}, out)", "number:9 number:0"},
    {"setChannelVariableAsInt(1, 8, 2, 3)", 87, "", "setChannelVariableAsInt(1, 8, 2, 3)", "number:0"},
    {"setChannelVariableAsString(1, 8, 2, \"x\")", 89, "", "setChannelVariableAsString(1, 8, 2, \"x\")", "number:0"},
    {"flushChannelUpdates(1, 8)", 90, "", "flushChannelUpdates(1, 8)", "number:0"},
    {"flushChannelCreation(1, 0)", 91, "", "flushChannelCreation(1, 0)", "number:0"},
    {"getChannelList(1)", 92, "list:8,9", "getChannelList(1, out)", "{8,9} number:0"},
    {"getChannelClientList(1, 8)", 93, "list:5", "getChannelClientList(1, 8, out)", "{5} number:0"},
    {"getParentChannelOfChannel(1, 9)", 94, "number:8", "getParentChannelOfChannel(1, 9, out)", "number:8 number:0"},
    {"getServerConnectionHandlerList()", 95, "list:1,2", "getServerConnectionHandlerList(out)", "{1,2} number:0"},
    {"getServerVariableAsInt(1, 2)", 96, "number:7", "getServerVariableAsInt(1, 2, out)", "number:7 number:0"},
    {"getServerVariableAsUInt64(1, 2)", 97, "number:7", "getServerVariableAsUInt64(1, 2, out)", "number:7 number:0"},
    {"getServerVariableAsString(1, 2)", 98, "text:T", "getServerVariableAsString(1, 2, out)", "string:T number:0"},
    {"requestServerVariables(1)", 99, "", "requestServerVariables(1)", "number:0"},
    {"playWaveFile(1, \"ding.wav\")", 28, "", "playWaveFile(1, \"ding.wav\")", "number:0"},
    {"requestClientPoke(1, 65541, \"wake up\")", 65, "", "requestClientPoke(1, 5, \"wake up\", null)", "number:0"},
    {"requestServerTemporaryPasswordAdd(1, \"pw\", \"d\", 60, 8, \"cpw\")", 69, "", "requestServerTemporaryPasswordAdd(1, \"pw\", \"d\", 60, 8, \"cpw\", null)", "number:0"},
    {"requestServerTemporaryPasswordDel(1, \"pw\")", 70, "", "requestServerTemporaryPasswordDel(1, \"pw\", null)", "number:0"},
    {"requestServerTemporaryPasswordList(1)", 71, "", "requestServerTemporaryPasswordList(1, null)", "number:0"},
    {"banclient(1, 5, 600, \"spam\")", 136, "", "banclient(1, 5, 600, \"spam\", null)", "number:0"},
    {"banclientdbid(1, 5, 600, \"spam\")", 138, "", "banclientdbid(1, 5, 600, \"spam\", null)", "number:0"},
    {"banadd(1, \"1.2.3.4\", \"\", \"\", 600, \"spam\")", 137, "", "banadd(1, \"1.2.3.4\", \"\", \"\", 600, \"spam\", null)", "number:0"},
    {"bandel(1, 3)", 139, "", "bandel(1, 3, null)", "number:0"},
    {"bandelall(1)", 140, "", "bandelall(1, null)", "number:0"},
    {"requestBanList(1)", 141, "", "requestBanList(1, null)", "number:0"},
    {"requestComplainAdd(1, 12, \"rude\")", 142, "", "requestComplainAdd(1, 12, \"rude\", null)", "number:0"},
    {"requestComplainDel(1, 12, 13)", 143, "", "requestComplainDel(1, 12, 13, null)", "number:0"},
    {"requestComplainDelAll(1, 12)", 144, "", "requestComplainDelAll(1, 12, null)", "number:0"},
    {"requestComplainList(1, 12)", 145, "", "requestComplainList(1, 12, null)", "number:0"},
    {"getAppPath()", 178, "text:/app/", "getAppPath(out, 512)", "string:/app/"},
    {"getResourcesPath()", 179, "text:/res/", "getResourcesPath(out, 512)", "string:/res/"},
    {"getConfigPath()", 180, "text:/cfg/", "getConfigPath(out, 512)", "string:/cfg/"},
    {"getPluginPath()", 181, "text:/plg/", "getPluginPath(out, 512)", "string:/plg/"},
    {"getCurrentServerConnectionHandlerID()", 182, "number:3", "getCurrentServerConnectionHandlerID()", "number:3"},
    {"printMessage(1, \"hello\", 4294967298)", 183, "", "printMessage(1, \"hello\", 2)", ""},
    {"printMessageToCurrentTab(\"hello\")", 184, "", "printMessageToCurrentTab(\"hello\")", ""},
    {"urlsToBB(\"see http://a.b\")", 185, "text:see [URL]http://a.b[/URL]", "urlsToBB(\"see http://a.b\", out, 120)", "string:see [URL]http://a.b[/URL]"},
    {"sendPluginCommand(1, \"cmd\", 1, {5, 6})", 186, "", "sendPluginCommand(1, \"vx5-standin\", \"cmd\", 1, {5, 6}, null)", "number:0"},
    {"getDirectories(\"/tmp/\")", 187, "text:a,b", "getDirectories(\"/tmp/\", out, 512)", "string:a,b"},
    {"setPluginMenuEnabled(3, 1)", 196, "", "setPluginMenuEnabled(\"vx5-standin\", 3, 1)", ""},
    {"getClientDisplayName(1, 5)", 200, "text:Ann", "getClientDisplayName(1, 5, out, 512)", "string:Ann number:0"},
};

FakeResult answer(int code, const QString& output)
{
    return FakeResult::parse(unsigned(code), output.toUtf8());
}

// Runs code in the plug-in and describes what it returned (or "error: ..."), through
// the console: the probe is loaded with "/lua load" and run with "/lua run".
const char* const probeTemplate = R"lua(
local function describe(value)
  if type(value) == "number" then return "number:" .. string.format("%.17g", value) end
  if type(value) == "string" then return "string:" .. value end
  if type(value) == "table" then
    local items = {}
    for i = 1, #value do items[i] = string.format("%.17g", value[i]) end
    return "{" .. table.concat(items, ",") .. "}"
  end
  return tostring(value)
end
local function report(ok, ...)
  if not ok then return "error: " .. tostring((...)):gsub("^.-%.lua:%d+: ", "") end
  local parts = {}
  for i = 1, select("#", ...) do parts[i] = describe((select(i, ...))) end
  return table.concat(parts, " ")
end
function probe(connection)
  vx5.printMessageToCurrentTab("probe: " .. report(pcall(function() %1 end)))
end
)lua";

} // namespace

class Vx5LibraryTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void functions_data();
    void functions();
    void failures_data();
    void failures();
    void console_data();
    void console();
    void nullConsoleCommand();
    void menus_data();
    void menus();
    void moduleDialog();
    void everyModuleLoadsAsTheDialogShowsIt();
    void restartWaitsForTheRunningScript();
    void shutdownWaitsForTheRunningScript();
    void hostMemoryComesBackWhenAFinaliserRaises();
    void withoutPluginId();
    void memoryComesBack();

private:
    // What probe code returned; printed receives the plug-in's standard output.
    QString runLua(const QByteArray& code, QByteArray* printed = nullptr, int entry = -1,
                   const FakeResult& result = FakeResult());
    QString recordOf(const char* name) const;
    QString console(const QByteArray& line, QByteArray* printed = nullptr);
    void writeScript(const QString& relative, const QByteArray& content);
    QDialog* moduleDialogWindow() const;
    int restarts() const;

    QTemporaryDir folder;
    std::unique_ptr<PluginHost> host;
};

void Vx5LibraryTest::initTestCase()
{
    QVERIFY(folder.isValid());
    writeScript("lua_plugin/vx5events.lua", readAll(VX5_EVENTS_SCRIPT));
    host = std::make_unique<PluginHost>(QFile::encodeName(folder.path()) + '/');
    QVERIFY2(host->load(VX5_PLUGIN_LIBRARY), qPrintable(host->errorString()));
    CapturedOutput quiet;
    QCOMPARE(host->start(), 0);
}

void Vx5LibraryTest::cleanupTestCase()
{
    CapturedOutput quiet;
    host.reset();
}

void Vx5LibraryTest::init()
{
    host->results.clear();
    host->calls.clear();
}

void Vx5LibraryTest::writeScript(const QString& relative, const QByteArray& content)
{
    const QString path = QDir(folder.path()).filePath(relative);
    QVERIFY(QDir().mkpath(QFileInfo(path).path()));
    QVERIFY(writeFile(path, content));
}

QString Vx5LibraryTest::console(const QByteArray& line, QByteArray* printed)
{
    int result = -1;
    CapturedOutput output;
    if (!host->consoleLine(1, line, &result) || result != 0)
        return QStringLiteral("console failed: ") + host->errorString();
    if (printed)
        *printed = output.standardOutput();
    return QString();
}

QString Vx5LibraryTest::runLua(const QByteArray& code, QByteArray* printed, int entry, const FakeResult& result)
{
    writeScript("plugins/lua_plugin/probe.lua", QString::fromLatin1(probeTemplate).arg(QString::fromUtf8(code)).toUtf8());
    const QString loaded = console("/lua load probe.lua");
    if (!loaded.isEmpty())
        return loaded;
    host->calls.clear();
    if (entry >= 0)
        host->results.insert(entry, result);
    QByteArray said;
    const QString ran = console("/lua run probe", &said);
    if (printed) // what the function printed, without the console's own lines
        for (const QByteArray& line : said.split('\n'))
            if (!line.isEmpty() && !line.startsWith("LUA_PLUGIN: process command") && !line.startsWith("[current tab]"))
                *printed += line + '\n';
    host->results.remove(entry);
    if (!ran.isEmpty())
        return ran;
    const QStringList reports = host->calls.filter("printMessageToCurrentTab(\"probe: ");
    if (reports.isEmpty())
        return QStringLiteral("no report; calls: ") + host->calls.join(" | ");
    const QString last = reports.last();
    return last.mid(int(qstrlen("printMessageToCurrentTab(\"probe: ")), last.size() - int(qstrlen("printMessageToCurrentTab(\"probe: ")) - 2);
}

QString Vx5LibraryTest::recordOf(const char* name) const
{
    const QStringList records = host->calls.filter(QRegularExpression(QStringLiteral("^%1\\(").arg(name)));
    return records.value(0);
}

void Vx5LibraryTest::functions_data()
{
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<int>("entry");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("record");
    QTest::addColumn<QString>("results");
    for (const FunctionRow& row : functionRows)
        QTest::newRow(row.call) << QByteArray(row.call) << row.entry << row.output << row.record << row.results;
}

// Every function reaches its entry with its arguments in order (IDs cut to 16 bits,
// 32-bit values cut, the plug-in ID where it belongs) and gives the host's answer back.
void Vx5LibraryTest::functions()
{
    QFETCH(QByteArray, call);
    QFETCH(int, entry);
    QFETCH(QString, output);
    QFETCH(QString, record);
    QFETCH(QString, results);

    QByteArray printed;
    const QString got = runLua("return vx5." + call, &printed, entry, answer(0, output));
    QCOMPARE(got, results);
    QCOMPARE(recordOf(call.left(call.indexOf('(')).constData()), record);
    QCOMPARE(printed, QByteArray());
}

// Each row: the call, the entry's answer (code and output), what the script gets, what
// is printed, and whether the host is called at all.
void Vx5LibraryTest::failures_data()
{
    QTest::addColumn<QByteArray>("call");
    QTest::addColumn<int>("entry");
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("output");
    QTest::addColumn<QString>("results");
    QTest::addColumn<QByteArray>("printed");
    QTest::addColumn<bool>("hostCalled");

    QTest::newRow("action") << QByteArray("requestClientPoke(1, 5, 'x')") << 65 << 1542 << "" << "number:1542"
                            << QByteArray("Lua: Error requesting client poke: 1542\n") << true;
    QTest::newRow("string getter") << QByteArray("getClientVariableAsString(1, 5, 2)") << 80 << 1542 << "text:T"
                                   << "string: number:1542" << QByteArray("Lua: Error getting client variable: 1542\n")
                                   << true;
    QTest::newRow("connection string getter: nil") << QByteArray("getConnectionVariableAsString(1, 5, 2)") << 103
                                                   << 1542 << "text:T" << "nil number:1542"
                                                   << QByteArray("Lua: Error getting connection variable as String: 1542\n")
                                                   << true;
    QTest::newRow("list getter") << QByteArray("getClientList(1)") << 81 << 1542 << "list:5" << "nil number:1542"
                                 << QByteArray("Lua: Error getting client list: 1542\n") << true;
    QTest::newRow("number getter") << QByteArray("getChannelOfClient(1, 5)") << 82 << 1542 << "number:8"
                                   << "number:0 number:1542" << QByteArray("Lua: Error getting channel of client: 1542\n")
                                   << true;
    QTest::newRow("channel ID from names") << QByteArray("getChannelIDFromChannelNames(1, {'a'})") << 86 << 1542
                                           << "number:9" << "number:0 number:1542"
                                           << QByteArray("Error getting channel ID from names: 1542\n") << true;
    QTest::newRow("display name: no line") << QByteArray("getClientDisplayName(1, 5)") << 200 << 1542 << "text:Ann"
                                           << "string: number:1542" << QByteArray() << true;
    QTest::newRow("plug-in command: the host's code")
        << QByteArray("sendPluginCommand(1, 'c', 1, {5})") << 186 << 1542 << "" << "number:1542"
        << QByteArray("Lua: Error sending plugin command: 1542\n") << true;
    QTest::newRow("null string with success") << QByteArray("getClientLibVersion()") << 0 << 0 << "null"
                                              << "string: number:0" << QByteArray() << true;
    QTest::newRow("null list with success") << QByteArray("getClientList(1)") << 81 << 0 << "null"
                                            << "{} number:0" << QByteArray() << true;
    QTest::newRow("long text is cut to the buffer") << QByteArray("urlsToBB('ab')") << 185 << 0
                                                    << "text:" + QString(200, 'x') << "string:" + QString(71, 'x')
                                                    << QByteArray() << true;
    QTest::newRow("empty text: no host call") << QByteArray("urlsToBB('')") << 185 << 0 << "text:x" << "string:"
                                              << QByteArray() << false;
    QTest::newRow("not a table") << QByteArray("requestMuteClients(1, 5)") << 63 << 0 << "" << "number:1541"
                                 << QByteArray("Invalid paramater in requestMuteClients, not a table\n") << false;
    QTest::newRow("10,000 elements")
        << QByteArray("requestChannelSubscribe(1, (function() local t = {} for i = 1, 10000 do t[i] = i end return t end)())")
        << 58 << 0 << "" << "number:0" << QByteArray() << true;
    QTest::newRow("empty table") << QByteArray("requestMuteClients(1, {})") << 63 << 0 << "" << "number:0"
                                 << QByteArray() << false;
    QTest::newRow("a bad element") << QByteArray("requestMuteClients(1, {1, 'x', 3})") << 63 << 0 << ""
                                   << "error: bad argument #2 to 'requestMuteClients' (element 2 is not an integer)"
                                   << QByteArray() << false;
    QTest::newRow("names not a table") << QByteArray("getChannelIDFromChannelNames(1, 'Lobby')") << 86 << 0 << ""
                                       << "error: bad argument #2 to 'getChannelIDFromChannelNames' (table expected, got string)"
                                       << QByteArray() << false;
    QTest::newRow("NaN") << QByteArray("requestClientPoke(1, 0/0, 'x')") << 65 << 0 << ""
                         << "error: bad argument #2 to 'requestClientPoke' (number out of the integer range)"
                         << QByteArray() << false;
    QTest::newRow("beyond 64 bits") << QByteArray("requestClientPoke(1e300, 5, 'x')") << 65 << 0 << ""
                                    << "error: bad argument #1 to 'requestClientPoke' (number out of the integer range)"
                                    << QByteArray() << false;
    // Values the host would take as the end of a list, or cut: refused, naming the element.
    QTest::newRow("a 16-bit ID that is 0 when cut") << QByteArray("requestMuteClients(1, {1, 65536, 3})") << 63 << 0 << ""
                                                    << "error: bad argument #2 to 'requestMuteClients' (element 2 is 0 in "
                                                       "16 bits, which would end the list)"
                                                    << QByteArray() << false;
    QTest::newRow("an ID 0") << QByteArray("requestChannelSubscribe(1, {5, 0})") << 58 << 0 << ""
                             << "error: bad argument #2 to 'requestChannelSubscribe' (element 2 is 0, which would end "
                                "the list)"
                             << QByteArray() << false;
    QTest::newRow("an empty name") << QByteArray("getChannelIDFromChannelNames(1, {'a', ''})") << 86 << 0 << ""
                                   << "error: bad argument #2 to 'getChannelIDFromChannelNames' (element 2 is empty, "
                                      "which would end the list)"
                                   << QByteArray() << false;
    QTest::newRow("a name holding a zero byte") << QByteArray("getChannelIDFromChannelNames(1, {'a\\0b'})") << 86 << 0
                                                << ""
                                                << "error: bad argument #2 to 'getChannelIDFromChannelNames' (element 1 "
                                                   "is a string holding a zero byte)"
                                                << QByteArray() << false;
    QTest::newRow("a message holding a zero byte")
        << QByteArray("requestSendServerTextMsg(1, 'a\\0b')") << 55 << 0 << ""
        << "error: bad argument #2 to 'requestSendServerTextMsg' (string holds a zero byte)" << QByteArray() << false;
    QTest::newRow("an ID of 2^63, as getters hand out") << QByteArray("requestChannelDescription(1, 2^63)") << 62 << 0
                                                        << "" << "number:0" << QByteArray() << true;
    QTest::newRow("2^64 is no ID") << QByteArray("requestChannelDescription(1, 2^64)") << 62 << 0 << ""
                                   << "error: bad argument #2 to 'requestChannelDescription' (number out of the "
                                      "integer range)"
                                   << QByteArray() << false;
    QTest::newRow("missing argument") << QByteArray("requestClientPoke(1, 5)") << 65 << 0 << ""
                                      << "error: bad argument #3 to 'requestClientPoke' (string expected, got no value)"
                                      << QByteArray() << false;
}

void Vx5LibraryTest::failures()
{
    QFETCH(QByteArray, call);
    QFETCH(int, entry);
    QFETCH(int, code);
    QFETCH(QString, output);
    QFETCH(QString, results);
    QFETCH(QByteArray, printed);
    QFETCH(bool, hostCalled);

    QByteArray said;
    QCOMPARE(runLua("return vx5." + call, &said, entry, answer(code, output)), results);
    QCOMPARE(said, printed);
    QCOMPARE(!recordOf(call.left(call.indexOf('(')).constData()).isEmpty(), hostCalled);
}

// Each row: the console line, and what reaches the user's tab (or the handler).
void Vx5LibraryTest::console_data()
{
    QTest::addColumn<QByteArray>("line");
    QTest::addColumn<QString>("tab");
    QTest::addColumn<QByteArray>("printed");

    const QString help = "[b]Lua console commands:[/b]";
    QTest::newRow("nothing") << QByteArray("/lua") << help << QByteArray();
    QTest::newRow("help") << QByteArray("/lua help") << help << QByteArray();
    QTest::newRow("unknown sub-command") << QByteArray("/lua lod x") << help << QByteArray();
    QTest::newRow("run without a name") << QByteArray("/lua run")
                                        << "Error: Function parameter missing. Usage is: /lua run <function> [args]"
                                        << QByteArray();
    QTest::newRow("run with arguments")
        << QByteArray("/lua run echo 12 ab -3 2147483648") << "echo: number:1 number:12 string:ab string:-3 string:2147483648"
        << QByteArray();
    QTest::newRow("six arguments") << QByteArray("/lua run echo 1 2 3 4 5 6")
                                   << "echo: number:1 number:1 number:2 number:3 number:4 number:5"
                                   << QByteArray("Too many args: 5\n");
    QTest::newRow("module function") << QByteArray("/lua run tools.echo 7") << "echo: number:1 number:7" << QByteArray();
    QTest::newRow("run an unknown function") << QByteArray("/lua run nosuch")
                                             << "Error running Lua function: Function 'nosuch' not found\n" << QByteArray();
    QTest::newRow("load without a name") << QByteArray("/lua load") << "Error: Script name missing. Usage is: /lua load <filename>"
                                         << QByteArray();
    QTest::newRow("load leaving the folder") << QByteArray("/lua load ../../secret.lua")
                                             << "Error: Scripts are loaded from the scripts folder only: ../../secret.lua"
                                             << QByteArray();
    QTest::newRow("load an absolute path") << QByteArray("/lua load /etc/passwd")
                                           << "Error: Scripts are loaded from the scripts folder only: /etc/passwd"
                                           << QByteArray();
    QTest::newRow("load a missing script") << QByteArray("/lua load missing.lua") << "Error loading lua script: "
                                           << QByteArray("scriptPath: ");
    QTest::newRow("load a pipe") << QByteArray("/lua load pipe.lua") << "Error loading lua script: "
                                 << QByteArray("not a regular file");
    QTest::newRow("load") << QByteArray("/lua load echo.lua") << "Lua script loaded" << QByteArray("scriptPath: ");
}

void Vx5LibraryTest::console()
{
    QFETCH(QByteArray, line);
    QFETCH(QString, tab);
    QFETCH(QByteArray, printed);

    writeScript("plugins/lua_plugin/echo.lua", R"lua(
local function describe(...)
  local parts = {}
  for i = 1, select("#", ...) do
    local v = select(i, ...)
    parts[i] = type(v) .. ":" .. tostring(v)
  end
  return table.concat(parts, " ")
end
function echo(...) vx5.printMessageToCurrentTab("echo: " .. describe(...)) end
tools = {echo = echo}
)lua");
    QCOMPARE(console("/lua load echo.lua"), QString());
    const QString pipe = QDir(folder.path()).filePath("plugins/lua_plugin/pipe.lua");
    QVERIFY(QFileInfo::exists(pipe) || ::mkfifo(QFile::encodeName(pipe).constData(), 0600) == 0);
    host->calls.clear();
    QByteArray said;
    QCOMPARE(console(line, &said), QString());
    const QStringList shown = host->calls.filter("printMessageToCurrentTab(");
    QVERIFY2(!shown.isEmpty() && shown.last().startsWith("printMessageToCurrentTab(\"" + tab),
             qPrintable(host->calls.join(" | ")));
    QVERIFY2(said.contains(printed), said.constData());
}

// The client may hand over no text at all; that is an empty command (help), not a crash.
void Vx5LibraryTest::nullConsoleCommand()
{
    const auto process = reinterpret_cast<int (*)(std::uint64_t, const char*)>(host->symbol("vx5plugin_processCommand"));
    QVERIFY(process);
    host->calls.clear();
    CapturedOutput quiet;
    QCOMPARE(process(1, nullptr), 0);
    QVERIFY(host->calls.value(0).startsWith("printMessageToCurrentTab(\"[b]Lua console commands:[/b]"));
}

// Each row: what createMenus does, the menu items and icon the client gets, and what is printed.
void Vx5LibraryTest::menus_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QByteArray>("icon");
    QTest::addColumn<QByteArray>("printed");

    QTest::newRow("two items") << QByteArray("return {'x', 'menu.png', {1, 10, 'Hello', 'h.png'}, {2, 11, 'Bye', ''}}")
                               << QStringList{"1 10 Hello h.png", "2 11 Bye "} << QByteArray("menu.png") << QByteArray();
    QTest::newRow("only the icon") << QByteArray("return {'x', 'menu.png'}") << QStringList() << QByteArray("menu.png")
                                   << QByteArray();
    QTest::newRow("not a table") << QByteArray("return 'menus'") << QStringList() << QByteArray()
                                 << QByteArray("Invalid return value for createMenus, not a table.\n");
    QTest::newRow("raises") << QByteArray("error('no menus today', 0)") << QStringList() << QByteArray()
                            << QByteArray("Failed to call createMenus.\nno menus today\n");
    QTest::newRow("an invalid element ends the list")
        << QByteArray("return {'x', 5, {1, 10, 'A', 'a'}, 'oops', {2, 11, 'B', 'b'}}") << QStringList{"1 10 A a"}
        << QByteArray() << QByteArray("Invalid return value. Expecting 4 items for menu.\n");
    QTest::newRow("fields of the wrong type")
        << QByteArray("return {'x', 'i', {'t', 1e300, 5, 'a'}}") << QStringList{"0 0  a"} << QByteArray("i")
        << QByteArray("Invalid return value. Expecting integer for type.\nInvalid return value. Expecting integer for "
                      "menuID.\nInvalid return value. Expecting string for menu text.\n");
    QTest::newRow("strict globals and no createMenus")
        << QByteArray("return nil end setmetatable(_G, {__index = function(t, k) error('undefined global ' .. k, 2) end})"
                      " createMenus = nil do")
        << QStringList() << QByteArray() << QByteArray("Failed to call createMenus.\nundefined global createMenus\n");
    QTest::newRow("a text longer than a record holds")
        << QByteArray("return {'x', 'i', {1, 2, ('t'):rep(300), 'a'}}") << QStringList{"1 2 " + QString(127, 't') + " a"}
        << QByteArray("i") << QByteArray();
    // 126 bytes, then a character of two: cut before it, not inside.
    QTest::newRow("a text cut at a character") << QByteArray("return {'x', 'i', {1, 2, ('t'):rep(126) .. ('\\195\\169'):rep(3), 'a'}}")
                                               << QStringList{"1 2 " + QString(126, 't') + " a"} << QByteArray("i")
                                               << QByteArray();
}

void Vx5LibraryTest::menus()
{
    QFETCH(QByteArray, script);
    QFETCH(QStringList, items);
    QFETCH(QByteArray, icon);
    QFETCH(QByteArray, printed);

    QCOMPARE(runLua("createMenus = function() " + script + " end"), QString());
    QStringList got;
    QByteArray gotIcon;
    CapturedOutput output;
    QVERIFY(host->initMenus(&got, &gotIcon));
    QCOMPARE(got, items);
    QCOMPARE(gotIcon, icon);
    QCOMPARE(output.standardOutput(), printed);
    QCOMPARE(runLua("setmetatable(_G, nil)"), QString());
}

QDialog* Vx5LibraryTest::moduleDialogWindow() const
{
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (widget->objectName() == "LuaConfigDialog" && !widget->isHidden())
            return qobject_cast<QDialog*>(widget);
    }
    return nullptr;
}

int Vx5LibraryTest::restarts() const
{
    return int(host->calls.filter("printMessageToCurrentTab(\"module alpha\")").size());
}

// Modules are folders with an init.lua; the dialog switches them, and only a change
// restarts the Lua state, which then loads the modules that are on.
void Vx5LibraryTest::moduleDialog()
{
    for (const char* name : {"alpha", "beta"})
        writeScript(QStringLiteral("lua_plugin/%1/init.lua").arg(name),
                    QByteArray("vx5.printMessageToCurrentTab('module ") + name + "')\n");
    QVERIFY(QDir(folder.path()).mkpath("lua_plugin/notamodule"));
    const QString ini = QDir(folder.path()).filePath("luaconfig.ini");
    QVERIFY(writeFile(ini, "[Modules]\n1\\off=gone\nsize=1\n"));
    {
        CapturedOutput quiet;
        QCOMPARE(host->restart(), 0);
    }
    QCOMPARE(restarts(), 1);
    const auto openDialog = [this] {
        QWidget parent;
        QVERIFY(host->configure(nullptr));
        QVERIFY(moduleDialogWindow());
    };
    const auto listed = [this] {
        QStringList names;
        auto* list = moduleDialogWindow()->findChild<QListWidget*>("luaModulesListWidget");
        for (int row = 0; row < list->count(); ++row)
            names << list->item(row)->text() + (list->item(row)->checkState() == Qt::Checked ? "+" : "-");
        names.sort();
        return names;
    };
    const auto press = [this](QDialogButtonBox::StandardButton which) {
        CapturedOutput quiet;
        moduleDialogWindow()->findChild<QDialogButtonBox*>()->button(which)->click();
    };

    openDialog();
    QCOMPARE(listed(), (QStringList{"alpha+", "beta+"}));
    press(QDialogButtonBox::Ok);
    QCOMPARE(restarts(), 1); // nothing changed: no restart
    QSettings stored(ini, QSettings::IniFormat);
    QCOMPARE(stored.value("Modules/size").toInt(), 3); // the absent module keeps its choice

    openDialog();
    auto* list = moduleDialogWindow()->findChild<QListWidget*>("luaModulesListWidget");
    list->findItems("beta", Qt::MatchExactly).first()->setCheckState(Qt::Unchecked);
    host->calls.clear();
    press(QDialogButtonBox::Ok);
    QCOMPARE(restarts(), 1); // restarted once, alpha loaded again
    QVERIFY(host->calls.filter("module beta").isEmpty());
    QVERIFY(readAll(ini).contains("off=beta"));

    // A configuration that cannot be written is reported and changes nothing.
    const QString blocked = QDir(folder.path()).filePath("blocked");
    QVERIFY(writeFile(blocked, "a file where a folder should be"));
    host->results.insert(180, answer(0, "text:" + blocked + "/"));
    openDialog();
    moduleDialogWindow()->findChild<QListWidget*>("luaModulesListWidget")->item(0)->setCheckState(Qt::Unchecked);
    host->calls.clear();
    QByteArray said;
    {
        CapturedOutput output;
        moduleDialogWindow()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        said = output.standardOutput();
    }
    QVERIFY2(said.contains("Could not write"), said.constData());
    QCOMPARE(restarts(), 0);
    host->results.remove(180);

    // The client's shutdown closes an open dialog.
    openDialog();
    {
        CapturedOutput quiet;
        host->shutdown();
    }
    QTRY_VERIFY(!moduleDialogWindow());
    CapturedOutput quiet;
    QCOMPARE(host->start(), 0);
}

// Hundreds of modules, and names a list of lines or a settings file must take care of:
// every module loads unless switched off, exactly as the dialog lists and switches them,
// whatever luaconfig.ini claims about its size.
void Vx5LibraryTest::everyModuleLoadsAsTheDialogShowsIt()
{
    QStringList names;
    for (int n = 0; n < 300; ++n)
        names << QStringLiteral("m%1").arg(n, 3, 10, QLatin1Char('0'));
    const QStringList odd{"new\nline", "back\\slash", "quote\"d", "semi;colon=x"};
    for (const QString& name : names + odd)
        writeScript("lua_plugin/" + name + "/init.lua", "return true\n");
    const QString ini = QDir(folder.path()).filePath("luaconfig.ini");
    QFile::remove(ini);
    {
        QSettings settings(ini, QSettings::IniFormat);
        settings.beginWriteArray("Modules");
        for (int i = 0; i < 2; ++i) {
            settings.setArrayIndex(i);
            settings.setValue("off", odd.at(i + 1));
        }
        settings.endArray();
    }
    QVERIFY(writeFile(ini, readAll(ini).replace("size=2", "size=2147483647\njunk=" + QByteArray(1 << 20, ' ') + "x")));

    QByteArray said;
    {
        CapturedOutput output;
        QCOMPARE(host->restart(), 0);
        said = output.standardOutput();
    }
    QCOMPARE(said.count("Lua: module m"), qsizetype(names.size()));
    QVERIFY(!said.contains("failed"));
    for (const QString& name : QStringList{"m000", "m299", odd.at(0), odd.at(3)})
        QVERIFY2(said.contains("Lua: module " + name.toUtf8() + " loaded"), qPrintable(name));
    for (const QString& name : QStringList{odd.at(1), odd.at(2)})
        QVERIFY2(!said.contains("Lua: module " + name.toUtf8()), qPrintable(name));

    QVERIFY(host->configure(nullptr));
    auto* list = moduleDialogWindow()->findChild<QListWidget*>("luaModulesListWidget");
    QCOMPARE(list->findItems("m", Qt::MatchStartsWith).size(), names.size());
    QCOMPARE(list->findItems(odd.at(1), Qt::MatchExactly).value(0)->checkState(), Qt::Unchecked);
    QCOMPARE(list->findItems(odd.at(0), Qt::MatchExactly).value(0)->checkState(), Qt::Checked);
    moduleDialogWindow()->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();

    // The client's own list of folders is not cut either.
    QCOMPARE(runLua("local list = vx5.getDirectories(vx5.getPluginPath() .. 'lua_plugin/') "
                    "return #list > 512, list:find('m299', 1, true) ~= nil"),
             QStringLiteral("true true"));
    for (const QString& name : names + odd)
        QVERIFY(QDir(QDir(folder.path()).filePath("lua_plugin/" + name)).removeRecursively());
    QVERIFY(QFile::remove(ini));
    CapturedOutput quiet;
    QCOMPARE(host->restart(), 0);
}

// The client may run its event loop inside a vx5 call; the user pressing OK in the module
// dialog there must not close the Lua state under the script that waits for the call.
void Vx5LibraryTest::restartWaitsForTheRunningScript()
{
    writeScript("lua_plugin/gamma/init.lua", "return 'gamma'\n");
    writeScript("plugins/lua_plugin/during.lua", "function during()\n"
                                                 "  vx5.printMessageToCurrentTab('the user presses OK now')\n"
                                                 "  finished = true\n"
                                                 "end\n");
    {
        CapturedOutput quiet;
        QCOMPARE(host->restart(), 0);
    }
    QCOMPARE(console("/lua load during.lua"), QString());
    QVERIFY(host->configure(nullptr));
    moduleDialogWindow()->findChild<QListWidget*>("luaModulesListWidget")->findItems("gamma", Qt::MatchExactly)
        .value(0)->setCheckState(Qt::Unchecked);
    host->whileCalled.insert(184, [this] {
        if (QDialog* dialog = moduleDialogWindow())
            dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
    });
    QByteArray said;
    QCOMPARE(console("/lua run during", &said), QString());
    host->whileCalled.clear();
    QVERIFY2(said.contains("restarting Lua when the running script returns"), said.constData());
    // The script ran to its end in the old state; the new one has no gamma.
    QCOMPARE(runLua("return finished, modules.gamma"), QStringLiteral("nil nil"));

    QVERIFY(QDir(QDir(folder.path()).filePath("lua_plugin/gamma")).removeRecursively());
    QVERIFY(QFile::remove(QDir(folder.path()).filePath("luaconfig.ini")));
    CapturedOutput quiet;
    QCOMPARE(host->restart(), 0);
}

// The client shuts the plug-in down from inside a vx5 call (its event loop runs there):
// the state closes once the script has returned, the script is stopped at once, and an
// event meanwhile runs nothing.
void Vx5LibraryTest::shutdownWaitsForTheRunningScript()
{
    writeScript("plugins/lua_plugin/during.lua", "function during()\n"
                                                 "  vx5.printMessageToCurrentTab('the client shuts down now')\n"
                                                 "  while true do end\n"
                                                 "end\n"
                                                 "function onNewChannelEvent() vx5.printMessageToCurrentTab('event ran') end\n");
    QCOMPARE(console("/lua load during.lua"), QString());
    int eventResult = 0;
    host->whileCalled.insert(184, [this, &eventResult] {
        host->whileCalled.clear();
        host->shutdown();
        host->fireEvent("vx5plugin_onNewChannelEvent", {{"1"}, {"2"}, {"3"}}, &eventResult);
    });
    QElapsedTimer timer;
    timer.start();
    QByteArray said;
    console("/lua run during", &said);
    host->whileCalled.clear();
    QVERIFY2(timer.elapsed() < 1000, qPrintable(QString::number(timer.elapsed()))); // not the 2 s limit
    QVERIFY2(said.contains("closing Lua when the running script returns") && said.contains("the plug-in is shutting down"),
             said.constData());
    QCOMPARE(eventResult, 1);
    QVERIFY(host->calls.filter("event ran").isEmpty());
    CapturedOutput quiet;
    QCOMPARE(host->start(), 0);
    QCOMPARE(runLua("return 1"), QStringLiteral("number:1"));
}

// A garbage-collection step may run a finaliser that raises in any allocation, also while
// a string or list the client handed out is turned into a Lua value. Each round leaves the
// collector about to run a raising finaliser at its next step, allocates past the step's
// threshold, and has a string or list converted: that allocation makes the step.
void Vx5LibraryTest::hostMemoryComesBackWhenAFinaliserRaises()
{
    writeScript("luaconfig.ini", "[Limits]\nsandbox=false\n"); // finalisers need newproxy
    {
        CapturedOutput quiet;
        QCOMPARE(host->restart(), 0);
    }
    host->results.insert(80, answer(0, "text:" + QString(200, 't')));
    host->results.insert(81, answer(0, "list:5,6,7"));
    const QString failed = runLua(R"lua(
      local armed, finalising = false, false
      local function finaliser()
        finalising = true
        if armed then error("finaliser") end
      end
      local function text() return vx5.getClientVariableAsString(1, 5, 2) end
      local function list() return vx5.getClientList(1) end
      local failures, padding = 0, ("x"):rep(2000)
      for round = 1, 20 do
        collectgarbage("collect")
        collectgarbage("stop")
        for i = 1, 1000 do getmetatable(newproxy(true)).__gc = finaliser end
        finalising = false
        collectgarbage("restart")
        while not finalising do collectgarbage("step", 0) end
        armed = true
        local pad = padding:sub(2) -- one allocation past the next step's threshold, checked before
        if not pcall(round % 2 == 0 and text or list) then failures = failures + 1 end
        armed = false
      end
      collectgarbage("collect")
      return failures)lua");
    host->results.clear();
    QVERIFY(QFile::remove(QDir(folder.path()).filePath("luaconfig.ini")));
    {
        CapturedOutput quiet;
        QCOMPARE(host->restart(), 0);
    }
    QCOMPARE(failed, QStringLiteral("number:20"));
    QVERIFY2(host->outstanding.isEmpty(), qPrintable(QString::number(host->outstanding.size())));
    QVERIFY2(host->ledgerErrors.isEmpty(), qPrintable(host->ledgerErrors.join('\n')));
}

// Until the client registers the plug-in, the functions that pass its ID do not call.
void Vx5LibraryTest::withoutPluginId()
{
    {
        CapturedOutput quiet;
        host->shutdown();
        QCOMPARE(host->start(QByteArray()), 0);
    }
    QByteArray said;
    QCOMPARE(runLua("return vx5.sendPluginCommand(1, 'c', 1, {5}), vx5.setPluginMenuEnabled(1, 1)", &said),
             QStringLiteral("number:1"));
    QCOMPARE(said, QByteArray("Lua: sendPluginCommand: the client has not registered the plug-in yet\n"
                              "Lua: setPluginMenuEnabled: the client has not registered the plug-in yet\n"));
    QVERIFY(recordOf("sendPluginCommand").isEmpty() && recordOf("setPluginMenuEnabled").isEmpty());
    CapturedOutput quiet;
    QCOMPARE(host->restart(), 0);
}

void Vx5LibraryTest::memoryComesBack()
{
    QVERIFY2(host->outstanding.isEmpty(), qPrintable(QString::number(host->outstanding.size())));
    QVERIFY2(host->ledgerErrors.isEmpty(), qPrintable(host->ledgerErrors.join('\n')));
}

QTEST_MAIN(Vx5LibraryTest)
#include "tst_vx5lib.moc"
