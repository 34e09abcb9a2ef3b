#include "luahelpers.h"
#include "lualimits.h"
#include "luasandboxtable.h"
#include "plugin.h"
#include "vx5hostapi.h"
#include "support/capturedoutput.h"
#include "support/gzipfile.h"
#include "support/luadescribe.h"

extern "C" {
#include <lauxlib.h>
}

#include <QDir>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <cstdlib>
#include <cstring>

#include <sys/stat.h>

namespace {

QByteArray pluginFolder; // what the host reports as plug-in path, ending with '/'

void testPluginPath(char* buffer, std::size_t size)
{
    std::snprintf(buffer, size, "%s", pluginFolder.constData());
}

// Records what a handler received as "count: values" and returns the global result.
const QByteArray recorder = QByteArray(luaDescribeSource) + R"lua(
function record(...)
  received = select('#', ...) .. ": " .. describe(...)
  return rawget(_G, "result")
end
)lua";

QString runLua(const char* code)
{
    if (luaL_dostring(L, code) != 0) {
        const QString error = QString::fromUtf8(lua_tostring(L, -1));
        lua_pop(L, 1);
        return QStringLiteral("error: ") + error;
    }
    return QString();
}

QString globalString(const char* name)
{
    lua_getglobal(L, name);
    const QString value = QString::fromUtf8(lua_tostring(L, -1));
    lua_pop(L, 1);
    return value;
}

} // namespace

class LuaDispatchTest : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void argumentConversions();
    void results_data();
    void results();
    void resultLetterNotAllowed();
    void failures_data();
    void failures();
    void noStateFailsQuietly();

    void eventsScriptProblems_data();
    void eventsScriptProblems();
    void scriptErrorKeepsWhatRanBefore();
    void luaPathFindsModulesInPluginFolder();
    void registerPluginIdReplacesCopy();
    void shutdownWithoutStateOrRegistration();
    void initShutdownInitStartsAfresh();
    void pokeAndTextMessageResults_data();
    void pokeAndTextMessageResults();
    void raisingFinaliserWhileReportingNumberError();
    void patternFunctions_data();
    void patternFunctions();
    void secondInitClosesFirstState();
    void pluginPathTooLongIsRefused();
    void pluginFunctionsRefuseScripts();
    void timeLimit_data();
    void timeLimit();
    void hostileCalls_data();
    void hostileCalls();
    void moduleLoading_data();
    void moduleLoading();
    void filesStayInTheScriptsFolders_data();
    void filesStayInTheScriptsFolders();
    void sandboxHoldsOnlyItsRows();
    void restartsCloseEveryFile_data();
    void restartsCloseEveryFile();

private:
    void writeEventsScript(const QByteArray& content);
    int startPlugin();

    std::unique_ptr<QTemporaryDir> folder;
};

void LuaDispatchTest::init()
{
    folder = std::make_unique<QTemporaryDir>();
    QVERIFY(folder->isValid());
    pluginFolder = QFile::encodeName(folder->path()) + '/';
    QVERIFY(QDir(folder->path()).mkdir(QStringLiteral("lua_plugin")));
    VX5Functions table{};
    table.getPluginPath = testPluginPath;
    table.getConfigPath = testPluginPath; // luaconfig.ini beside the scripts
    vx5plugin_setFunctionPointers(table);
    writeEventsScript(recorder);
    // These tests reach into the whole library (finalisers, the registry); the sandbox has its own.
    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\nsandbox=false\n"));
    CapturedOutput quiet;
    QCOMPARE(vx5plugin_init(), 0);
}

void LuaDispatchTest::cleanup()
{
    CapturedOutput quiet;
    vx5plugin_shutdown();
}

void LuaDispatchTest::writeEventsScript(const QByteArray& content)
{
    QFile script(folder->path() + "/lua_plugin/vx5events.lua");
    QVERIFY(script.open(QIODevice::WriteOnly | QIODevice::Truncate));
    script.write(content);
}

int LuaDispatchTest::startPlugin()
{
    vx5plugin_shutdown();
    return vx5plugin_init();
}

void LuaDispatchTest::argumentConversions()
{
    const int top = lua_gettop(L);
    QCOMPARE(callLuaFunction(nullptr, "record", "uuiadsss", quint64(0x8000000000000005ULL), quint64(1ULL << 53), -7,
                             65535, 2.5, "text", static_cast<const char*>(nullptr), ""),
             0);
    QCOMPARE(globalString("received"),
             QStringLiteral("8: number:5 number:9007199254740992 number:-7 number:65535 number:2.5 string:text nil "
                            "string:"));
    QCOMPARE(lua_gettop(L), top);
}

// Each row: what the handler returns (a Lua expression), the result letter, and what
// arrives: the value written (starting from 0, or "" for strings) and the status.
void LuaDispatchTest::results_data()
{
    QTest::addColumn<QByteArray>("returned");
    QTest::addColumn<char>("letter");
    QTest::addColumn<QString>("value");
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("standardError");

    const QByteArray wrongType = "Error running Lua function: Wrong result type\n";
    QTest::newRow("int cut toward zero") << QByteArray("7.9") << 'i' << "7" << 0 << QByteArray();
    QTest::newRow("negative int cut toward zero") << QByteArray("-7.9") << 'i' << "-7" << 0 << QByteArray();
    QTest::newRow("int from numeric string") << QByteArray("'42'") << 'i' << "42" << 0 << QByteArray();
    QTest::newRow("int from text") << QByteArray("'abc'") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("int from nothing") << QByteArray("nil") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("double") << QByteArray("2.5") << 'd' << "2.5" << 0 << QByteArray();
    QTest::newRow("double from table") << QByteArray("{}") << 'd' << "0" << 1 << wrongType;
    QTest::newRow("string") << QByteArray("'x'") << 's' << "x" << 0 << QByteArray();
    QTest::newRow("string from number") << QByteArray("5") << 's' << "5" << 0 << QByteArray();
    QTest::newRow("string from boolean") << QByteArray("true") << 's' << "" << 1 << wrongType;
    QTest::newRow("int at the bottom of the range") << QByteArray("-2147483648.5") << 'i' << "-2147483648" << 0
                                                    << QByteArray();
    QTest::newRow("int at the top of the range") << QByteArray("2147483647.9") << 'i' << "2147483647" << 0
                                                 << QByteArray();
    QTest::newRow("int above the range") << QByteArray("2147483648") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("int far above the range") << QByteArray("1e300") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("int from NaN") << QByteArray("0/0") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("int from minus infinity") << QByteArray("-1/0") << 'i' << "0" << 1 << wrongType;
    QTest::newRow("int from a huge numeric string") << QByteArray("'1e300'") << 'i' << "0" << 1 << wrongType;
}

void LuaDispatchTest::results()
{
    QFETCH(QByteArray, returned);
    QFETCH(char, letter);
    QFETCH(QString, value);
    QFETCH(int, status);
    QFETCH(QByteArray, standardError);

    QCOMPARE(runLua(("result = " + returned).constData()), QString());
    const int top = lua_gettop(L);
    const char format[] = {'>', letter, '\0'};
    int asInt = 0;
    double asDouble = 0;
    const char* asString = "";
    void* target = letter == 'i' ? static_cast<void*>(&asInt)
                   : letter == 'd' ? static_cast<void*>(&asDouble)
                                   : static_cast<void*>(&asString);
    CapturedOutput output;
    QCOMPARE(callLuaFunction(nullptr, "record", format, target), status);
    QCOMPARE(output.standardError(), standardError);
    const QString written = letter == 'i'   ? QString::number(asInt)
                            : letter == 'd' ? QString::number(asDouble)
                                            : QString::fromUtf8(asString);
    QCOMPARE(written, value);
    QCOMPARE(lua_gettop(L), top);
}

void LuaDispatchTest::resultLetterNotAllowed()
{
    QCOMPARE(runLua("result = 1; received = nil"), QString());
    char buffer[errorBufferSize] = "";
    std::uint64_t ignored = 0;
    CapturedOutput output;
    QCOMPARE(callLuaFunction(buffer, "record", "i>u", 3, &ignored), 1);
    QCOMPARE(output.standardError(), QByteArray("Error running Lua function: Invalid option (u)\n"));
    QCOMPARE(QByteArray(buffer), QByteArray("Error running Lua function: Invalid option (u)\n"));
    // The letter is only looked at after the call.
    QCOMPARE(globalString("received"), QStringLiteral("1: number:3"));
}

// Each row: Lua code run first, the name and format dispatched, the message expected
// on standard error and in the error buffer, and the status.
void LuaDispatchTest::failures_data()
{
    QTest::addColumn<QByteArray>("setup");
    QTest::addColumn<QByteArray>("name");
    QTest::addColumn<QByteArray>("format");
    QTest::addColumn<QByteArray>("message");
    QTest::addColumn<int>("status");

    QTest::newRow("function not found") << QByteArray() << QByteArray("nosuch") << QByteArray("")
                                        << QByteArray("Error running Lua function: Function 'nosuch' not found\n") << 1;
    QTest::newRow("global not a function")
        << QByteArray("x = 5") << QByteArray("x") << QByteArray("")
        << QByteArray("Error running Lua function: Function 'x' not found\n") << 1;
    QTest::newRow("module not found") << QByteArray() << QByteArray("nomod.f") << QByteArray("")
                                      << QByteArray("Error running Lua function: Module 'nomod' not found\n") << 1;
    QTest::newRow("field not found")
        << QByteArray("mod = {}") << QByteArray("mod.f") << QByteArray("")
        << QByteArray("Error running Lua function: Function 'f' not found in module 'mod'\n") << 1;
    QTest::newRow("two dots name one field")
        << QByteArray("mod = {a = {b = record}}") << QByteArray("mod.a.b") << QByteArray("")
        << QByteArray("Error running Lua function: Function 'a.b' not found in module 'mod'\n") << 1;
    QTest::newRow("two dots, field with a dot") << QByteArray("mod = {['a.b'] = record}") << QByteArray("mod.a.b")
                                                << QByteArray("") << QByteArray() << 0;
    QTest::newRow("a loaded module's function") << QByteArray("modules = {loaded = {f = record}}") << QByteArray("loaded.f")
                                                << QByteArray("i") << QByteArray() << 0;
    QTest::newRow("invalid option") << QByteArray() << QByteArray("record") << QByteArray("iq")
                                    << QByteArray("Error running Lua function: Invalid option (q)\n") << 1;
    QTest::newRow("error inside the handler")
        << QByteArray("function boom() error('bad thing', 0) end") << QByteArray("boom") << QByteArray("i")
        << QByteArray("Error running Lua function 'boom': bad thing\n") << 1;
    QTest::newRow("error object not a string")
        << QByteArray("function boom() error({}) end") << QByteArray("boom") << QByteArray("")
        << QByteArray("Error running Lua function 'boom': (error object is not a string)\n") << 1;
    const QByteArray strict =
        "setmetatable(_G, {__index = function(t, k) error('undefined global ' .. k, 0) end})";
    QTest::newRow("strict globals, missing function")
        << strict << QByteArray("nosuch") << QByteArray("i")
        << QByteArray("Error running Lua function 'nosuch': undefined global nosuch\n") << 1;
    QTest::newRow("strict globals, missing module")
        << strict << QByteArray("nomod.f") << QByteArray("")
        << QByteArray("Error running Lua function 'nomod.f': undefined global nomod\n") << 1;
    QTest::newRow("strict globals, defined function") << strict << QByteArray("record") << QByteArray("i")
                                                      << QByteArray() << 0;
}

void LuaDispatchTest::failures()
{
    QFETCH(QByteArray, setup);
    QFETCH(QByteArray, name);
    QFETCH(QByteArray, format);
    QFETCH(QByteArray, message);
    QFETCH(int, status);

    QCOMPARE(runLua(setup.constData()), QString());
    const int top = lua_gettop(L);
    char buffer[errorBufferSize] = "";
    {
        CapturedOutput output;
        QCOMPARE(callLuaFunction(buffer, name.constData(), format.constData(), 1), status);
        QCOMPARE(output.standardError(), message);
        QCOMPARE(output.standardOutput(), QByteArray());
    }
    QCOMPARE(QByteArray(buffer), message);
    QCOMPARE(lua_gettop(L), top);

    // The state stays usable, also after many failures in a row.
    CapturedOutput quiet;
    for (int i = 0; i < 10000; ++i)
        callLuaFunction(nullptr, name.constData(), format.constData(), 1);
    QCOMPARE(lua_gettop(L), top);
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 9), 0);
    QCOMPARE(globalString("received"), QStringLiteral("1: number:9"));
}

void LuaDispatchTest::noStateFailsQuietly()
{
    CapturedOutput output;
    vx5plugin_shutdown();
    const QByteArray before = output.standardOutput();
    CapturedOutput during;
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 1), 1);
    QCOMPARE(vx5plugin_onNewChannelEvent(1, 2, 3), 1);
    QCOMPARE(during.standardOutput() + during.standardError(), QByteArray());
    QVERIFY(before.contains("Shutting down Lua interpreter"));
}

void LuaDispatchTest::eventsScriptProblems_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("luaMessage");

    QTest::newRow("missing") << QByteArray() << QByteArray("cannot open");
    QTest::newRow("syntax error") << QByteArray("function broken(") << QByteArray("vx5events.lua:1: <name> or '...' expected near '<eof>'");
    QTest::newRow("runtime error") << QByteArray("error('failed at start', 0)") << QByteArray("failed at start");
}

void LuaDispatchTest::eventsScriptProblems()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, luaMessage);

    const QString path = folder->path() + "/lua_plugin/vx5events.lua";
    if (script.isNull())
        QVERIFY(QFile::remove(path));
    else
        writeEventsScript(script);

    CapturedOutput output;
    QCOMPARE(startPlugin(), 1);
    const QByteArray printed = output.standardOutput();
    QVERIFY2(printed.contains("LUA_PLUGIN: init\nInitializing Lua interpreter\nFailed to load lua script: " +
                              QFile::encodeName(path) + "\n"),
             printed.constData());
    QVERIFY2(printed.contains(luaMessage), printed.constData());
    QVERIFY(L); // the state stays
}

void LuaDispatchTest::scriptErrorKeepsWhatRanBefore()
{
    writeEventsScript(recorder + "\nerror('later failure')\nfunction never() end\n");
    CapturedOutput quiet;
    QCOMPARE(startPlugin(), 1);
    QCOMPARE(callLuaFunction(nullptr, "record", ""), 0);
    QCOMPARE(callLuaFunction(nullptr, "never", ""), 1);
}

void LuaDispatchTest::luaPathFindsModulesInPluginFolder()
{
    QFile module(folder->path() + "/lua_plugin/greeting.lua");
    QVERIFY(module.open(QIODevice::WriteOnly));
    module.write("return { text = 'hello from a module' }\n");
    module.close();
    writeEventsScript("greeting = require('greeting').text\n");

    CapturedOutput quiet;
    QCOMPARE(startPlugin(), 0);
    QCOMPARE(globalString("greeting"), QStringLiteral("hello from a module"));
    QCOMPARE(QByteArray(std::getenv("LUA_PATH")), pluginFolder + "lua_plugin/?.lua");
}

void LuaDispatchTest::registerPluginIdReplacesCopy()
{
    QByteArray id("first-id");
    CapturedOutput output;
    vx5plugin_registerPluginID(id.constData());
    id.fill('x'); // the plug-in keeps its own copy
    vx5plugin_registerPluginID("second-id");
    QCOMPARE(QByteArray(pluginID), QByteArray("second-id"));
    QCOMPARE(output.standardOutput(),
             QByteArray("LUA_PLUGIN: registerPluginID: first-id\nLUA_PLUGIN: registerPluginID: second-id\n"));
}

void LuaDispatchTest::shutdownWithoutStateOrRegistration()
{
    {
        CapturedOutput first;
        vx5plugin_shutdown();
    }
    QVERIFY(!L);
    QVERIFY(!pluginID);
    CapturedOutput output;
    vx5plugin_shutdown();
    QCOMPARE(output.standardOutput(), QByteArray("LUA_PLUGIN: shutdown\nShutting down Lua interpreter\n"));
    QCOMPARE(output.standardError(), QByteArray());
}

void LuaDispatchTest::initShutdownInitStartsAfresh()
{
    QCOMPARE(runLua("leftover = 'from the first state'"), QString());
    CapturedOutput quiet;
    QCOMPARE(startPlugin(), 0);
    QCOMPARE(globalString("leftover"), QString());
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 1), 0);
}

// The poke and text-message exports hand the handler's first result back to the client.
void LuaDispatchTest::pokeAndTextMessageResults_data()
{
    QTest::addColumn<QByteArray>("handler");
    QTest::addColumn<int>("expected");
    QTest::addColumn<bool>("reportsWrongType");

    QTest::newRow("handler returns 1") << QByteArray("return 1") << 1 << false;
    QTest::newRow("handler returns 2.7") << QByteArray("return 2.7") << 2 << false;
    QTest::newRow("handler returns nothing") << QByteArray("") << 0 << true;
    QTest::newRow("handler fails") << QByteArray("error('x')") << 0 << false;
    QTest::newRow("no handler") << QByteArray() << 0 << false;
}

void LuaDispatchTest::pokeAndTextMessageResults()
{
    QFETCH(QByteArray, handler);
    QFETCH(int, expected);
    QFETCH(bool, reportsWrongType);

    if (!handler.isNull()) {
        const QByteArray code = "function onClientPokeEvent() " + handler + " end\n"
                                "function onTextMessageEvent() " + handler + " end";
        QCOMPARE(runLua(code.constData()), QString());
    }
    CapturedOutput output;
    QCOMPARE(vx5plugin_onClientPokeEvent(1, 2, "poker", "unused", "message", 0), expected);
    QCOMPARE(vx5plugin_onTextMessageEvent(1, 1, 2, 3, "from", "uid", "text", 0), expected);
    QCOMPARE(output.standardError().count("Wrong result type"), reportsWrongType ? 2 : 0);
}

// Converting a number error object to text allocates; a garbage-collection step there
// runs finalisers, and one that raises outside protection would panic the state. The
// handler leaves the collector in its finalising phase with its threshold reached, so
// the next allocation anywhere runs a raising finaliser.
void LuaDispatchTest::raisingFinaliserWhileReportingNumberError()
{
    QCOMPARE(runLua(R"lua(
armed, finalising = false, false
local function finaliser()
  finalising = true
  if armed then error("finaliser") end
end
local text = string.rep("x", 4096)
function boom()
  collectgarbage("collect")
  collectgarbage("stop")
  for i = 1, 5000 do getmetatable(newproxy(true)).__gc = finaliser end
  finalising = false
  collectgarbage("restart")
  while not finalising do collectgarbage("step", 0) end
  armed = true
  local pad = text:sub(2) -- one allocation, past the threshold, checked before
  error(42, 0)
end
function disarm() armed = false end
)lua"),
             QString());
    char buffer[errorBufferSize] = "";
    CapturedOutput output;
    QCOMPARE(callLuaFunction(buffer, "boom", ""), 1);
    QCOMPARE(QByteArray(buffer), QByteArray("Error running Lua function 'boom': 42\n"));
    // Raising finalisers may still be pending: each can fail one call.
    int attempts = 0;
    while (callLuaFunction(nullptr, "disarm", "") != 0 && attempts < 10000)
        ++attempts;
    QVERIFY(attempts < 10000);
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 5), 0);
}

// Each row: Lua code whose pcall'ed result (or error) is described, and that description.
void LuaDispatchTest::patternFunctions_data()
{
    QTest::addColumn<QByteArray>("code");
    QTest::addColumn<QString>("outcome");

    const QString tooComplex = QStringLiteral("false pattern too complex");
    const QByteArray deep = "local s, p = ('a'):rep(4e5), ('a?'):rep(4e5) ";
    QTest::newRow("match") << deep + "return pcall(string.match, s, p)" << tooComplex;
    QTest::newRow("find as a method") << deep + "return pcall(function() return s:find(p) end)" << tooComplex;
    QTest::newRow("gmatch") << deep + "return pcall(string.gmatch, s, p)" << tooComplex;
    QTest::newRow("gsub") << deep + "return pcall(string.gsub, s, p, '')" << tooComplex;
    QTest::newRow("plain find") << deep + "return pcall(string.find, p, p, 1, true)" << QStringLiteral("true 1 800000");
    QTest::newRow("150 optional items")
        << QByteArray("return pcall(function() return #string.match(('a'):rep(150), ('a?'):rep(150)) end)")
        << QStringLiteral("true 150");
    QTest::newRow("quantifier characters inside a set")
        << QByteArray("return pcall(string.match, 'a-', '[' .. ('?*+-'):rep(300) .. 'a]+')") << QStringLiteral("true a-");
    QTest::newRow("escaped quantifiers") << QByteArray("return pcall(string.find, ('?'):rep(300), ('%?'):rep(300))")
                                         << QStringLiteral("true 1 300");
    QTest::newRow("ordinary captures") << QByteArray("return pcall(string.match, 'key=value', '(%w+)=(%w+)')")
                                       << QStringLiteral("true key value");
    QTest::newRow("the same trim of a line") << QByteArray("return pcall(string.match, '  key = value  ', '^%s*(.-)%s*$')")
                                             << QStringLiteral("true key = value");
    QTest::newRow("a long subject matched in one pass")
        << QByteArray("return pcall(function() return #(('ab '):rep(100000)):gsub('%s+', '') end)")
        << QStringLiteral("true 200000");
    QTest::newRow("an iterator's subject cannot be swapped")
        << QByteArray("return pcall(debug.setupvalue, string.gmatch('a', 'a'), 1, {})")
        << QStringLiteral("false bad argument #1 to '?' (the upvalues of a C function cannot be changed)");
    QTest::newRow("argument errors keep the name")
        << QByteArray("return pcall(function() return string.match(nil, 'x') end)")
        << QStringLiteral("false bad argument #1 to 'match' (string expected, got nil)");
}

void LuaDispatchTest::patternFunctions()
{
    QFETCH(QByteArray, code);
    QFETCH(QString, outcome);

    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\ntimeLimitMs=300\nsandbox=false\n"));
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    const QByteArray describing = "function probe() outcome = table.concat((function(...) local t = {} for i = 1, "
                                  "select('#', ...) do t[i] = tostring((select(i, ...))):gsub('^.-:%d+: ', '') end "
                                  "return t end)((function() " + code + " end)()), ' ') end";
    QCOMPARE(runLua(describing.constData()), QString());
    QCOMPARE(callLuaFunction(nullptr, "probe", ""), 0);
    QCOMPARE(globalString("outcome"), outcome);
}

void LuaDispatchTest::secondInitClosesFirstState()
{
    const QString marker = folder->path() + "/first-state-closed";
    const QByteArray code = "keep = newproxy(true); getmetatable(keep).__gc = function() io.open('" +
                            QFile::encodeName(marker) + "', 'w'):close() end";
    QCOMPARE(runLua(code.constData()), QString());
    CapturedOutput quiet;
    QCOMPARE(vx5plugin_init(), 0);
    QVERIFY(QFile::exists(marker));
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 1), 0);
}

// A host cuts a path that does not fit its buffer; what the cut names may be another file.
void LuaDispatchTest::pluginPathTooLongIsRefused()
{
    const QByteArray saved = pluginFolder;
    pluginFolder = QFile::encodeName(folder->path()) + '/' + QByteArray(5000, 'x') + '/';
    CapturedOutput output;
    QCOMPARE(startPlugin(), 1);
    pluginFolder = saved;
    QVERIFY(!L);
    QVERIFY2(output.standardOutput().contains("Plugin path too long: not loading the Lua scripts\n"),
             output.standardOutput().constData());
}

// The plug-in's protected functions are reachable from scripts (the dispatcher in the
// registry, the others on the call stack while they run); called from a script, with any
// argument, they refuse instead of taking a value for their own data.
void LuaDispatchTest::pluginFunctionsRefuseScripts()
{
    writeEventsScript(recorder + R"lua(
captured = {loader = debug.getinfo(2, "f").func}
for _, value in pairs(debug.getregistry()) do
  if type(value) == "function" then captured.registry = value end
end
function createMenus() captured.menus = debug.getinfo(2, "f").func return {} end
function capture() captured.dispatcher = debug.getinfo(2, "f").func end
function callCaptured()
  local refusals = 0
  for _, f in pairs(captured) do
    for _, argument in ipairs({false, newproxy(), "x"}) do
      local ok, message = pcall(f, argument)
      if not ok and message:find("cannot be called from a script", 1, true) then refusals = refusals + 1 end
    end
  end
  outcome = refusals
end
)lua");
    CapturedOutput quiet;
    QCOMPARE(startPlugin(), 0);
    MenuItem** items = nullptr;
    char* icon = nullptr;
    vx5plugin_initMenus(&items, &icon);
    std::free(items);
    QCOMPARE(callLuaFunction(nullptr, "capture", ""), 0);
    QCOMPARE(callLuaFunction(nullptr, "callCaptured", ""), 0);
    QCOMPARE(globalString("outcome"), QStringLiteral("12")); // four functions, three arguments each
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 3), 0);
    QCOMPARE(globalString("received"), QStringLiteral("1: number:3"));
}

// Each row: the limit in luaconfig.ini, the body of the handler, and the end of its error
// ("" when it succeeds). The state serves the next call either way.
void LuaDispatchTest::timeLimit_data()
{
    QTest::addColumn<QByteArray>("limit");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QByteArray>("error");

    const QByteArray stopped = "the script ran longer than its time limit of 200 ms (timeLimitMs in [Limits] of "
                               "luaconfig.ini)\n";
    const QByteArray busy = "local t = os.clock() while os.clock() - t < 0.4 do end";
    QTest::newRow("an endless loop") << QByteArray("200") << QByteArray("while true do end") << stopped;
    QTest::newRow("a loop that catches the error")
        << QByteArray("200") << QByteArray("while true do pcall(function() while true do end end) end") << stopped;
    QTest::newRow("a handler that loops")
        << QByteArray("200")
        << QByteArray("while true do xpcall(function() while true do end end, function() while true do end end) end")
        << stopped;
    QTest::newRow("a coroutine made before the call")
        << QByteArray("200") << QByteArray("while true do coroutine.resume(spinning) end") << stopped;
    QTest::newRow("a coroutine made in the call")
        << QByteArray("200") << QByteArray("coroutine.wrap(function() while true do end end)()") << stopped;
    QTest::newRow("the hook cannot be lifted")
        << QByteArray("200") << QByteArray("debug.sethook() while true do end")
        << QByteArray("debug.sethook is not available to scripts (sandbox in [Limits] of luaconfig.ini)\n");
    QTest::newRow("a busy call within the limit") << QByteArray("2000") << busy << QByteArray();
    QTest::newRow("a busy call without a limit") << QByteArray("0") << busy << QByteArray();
    QTest::newRow("the same beyond the limit") << QByteArray("200") << busy << stopped;
}

void LuaDispatchTest::timeLimit()
{
    QFETCH(QByteArray, limit);
    QFETCH(QByteArray, body);
    QFETCH(QByteArray, error);

    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\ntimeLimitMs=" + limit + "\n"));
    writeEventsScript(recorder + "spinning = coroutine.create(function() while true do end end)\n"
                                 "function work() " + body + " end\n");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    QByteArray reported;
    {
        CapturedOutput output;
        QCOMPARE(callLuaFunction(nullptr, "work", ""), error.isEmpty() ? 0 : 1);
        reported = output.standardError();
    }
    QVERIFY2(reported.endsWith(error), reported.constData());
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 4), 0);
    QCOMPARE(globalString("received"), QStringLiteral("1: number:4"));
}

// Each row: [Limits] of luaconfig.ini, the body of a handler, and what it returned
// (described) or "error: " and the error it raised. Files the rows use lie in the scripts'
// data folder, the global "scratch": "big" (24 MiB), "small", "sparse" (4 GiB, no data) and
// "fifo". Whatever the row did, the call ends well within its limit, the next event works
// and the memory is back under the cap.
void LuaDispatchTest::hostileCalls_data()
{
    QTest::addColumn<QByteArray>("limits");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QString>("outcome");

    const QByteArray tight = "timeLimitMs=300\nmemoryMB=64\n";
    const QByteArray small = "memoryMB=32\n"; // with the default time limit, ample for a slow machine
    const QString stopped =
        QStringLiteral("error: the script ran longer than its time limit of 300 ms (timeLimitMs in [Limits] of luaconfig.ini)");
    const QString noMemory = QStringLiteral("error: not enough memory");
    QTest::newRow("string.rep in a loop") << tight << QByteArray("while true do local s = ('x'):rep(2^22) end") << stopped;
    QTest::newRow("string.rep of nothing") << tight << QByteArray("for i = 1, 10 do local a, b, c = ('x'):rep(-1), ('x'):rep(0/0), "
                                                                  "(''):rep(2^31 - 1) end return ('ab'):rep(2.9)")
                                           << QStringLiteral("string:abab");
    QTest::newRow("concatenations in a loop")
        << tight << QByteArray("local s = ('x'):rep(2^23) while true do local t = s .. s end") << stopped;
    QTest::newRow("parsing a long comment in a loop")
        << tight << QByteArray("local c = '--[[' .. ('x'):rep(2^22) .. ']]' while true do loadstring(c) end") << stopped;
    QTest::newRow("sorting a long list")
        << tight << QByteArray("local t = {} for i = 1, 1.5e6 do t[i] = -i end while true do table.sort(t) "
                               "table.sort(t, function(a, b) return a > b end) end")
        << stopped;
    QTest::newRow("joining a long list") << tight
                                         << QByteArray("local t = {} for i = 1, 1e6 do t[i] = 'ab' end "
                                                       "while true do table.concat(t, ', ') end")
                                         << stopped;
    QTest::newRow("reading a file in a loop")
        << tight << QByteArray("while true do local f = io.open(scratch .. 'big') f:read('*a') f:close() end") << stopped;
    QTest::newRow("a pattern that backtracks")
        << tight << QByteArray("return string.find(('a'):rep(40), ('a?'):rep(40) .. ('a'):rep(40))") << stopped;
    QTest::newRow("a trim of 40,000 spaces")
        << tight << QByteArray("return ('x' .. (' '):rep(40000) .. 'x'):match('^%s*(.-)%s*$')") << stopped;
    QTest::newRow("a table filled until memory runs out")
        << small << QByteArray("local t = {} while true do t[#t + 1] = {1, 2, 3, 4, 5, 6, 7, 8} end") << noMemory;
    QTest::newRow("the same, caught") << small
                                      << QByteArray("local t = {} local ok, e = pcall(function() while true do "
                                                    "t[#t + 1] = {1, 2, 3, 4, 5, 6, 7, 8} end end) t = nil return e")
                                      << QStringLiteral("string:not enough memory");
    QTest::newRow("a string longer than the cap") << tight << QByteArray("return ('x'):rep(2^40)") << noMemory;
    QTest::newRow("a file longer than the cap") << tight << QByteArray("return loadfile(scratch .. 'sparse')")
                                                << QStringLiteral("nil string:cannot read <scratch>sparse: not enough memory");
    QTest::newRow("reading a file longer than what is left")
        << tight << QByteArray("local keep = ('x'):rep(2^25) return io.open(scratch .. 'big'):read('*a')") << noMemory;
    QTest::newRow("opening a FIFO") << tight << QByteArray("return io.open(scratch .. 'fifo')")
                                    << QStringLiteral("nil string:<scratch>fifo: not a regular file number:0");
    QTest::newRow("opening a device") << QByteArray("sandbox=false\n") << QByteArray("return io.open('/dev/zero')")
                                      << QStringLiteral("nil string:/dev/zero: not a regular file number:0");
    QTest::newRow("the lines of a FIFO")
        << tight << QByteArray("return io.lines(scratch .. 'fifo')")
        << QStringLiteral("error: bad argument #1 to 'lines' (<scratch>fifo: not a regular file)");
    QTest::newRow("loading a FIFO") << tight << QByteArray("return loadfile(scratch .. 'fifo')")
                                    << QStringLiteral("nil string:cannot open <scratch>fifo: not a regular file");
    QTest::newRow("requiring a FIFO")
        << tight << QByteArray("package.path = scratch .. '?' return pcall(require, 'fifo')")
        << QStringLiteral("false string:module 'fifo' not found:\n\tno field package.preload['fifo']\n\tno file "
                          "'<scratch>fifo'");
    QTest::newRow("a file read whole and in counts")
        << tight << QByteArray("local f = io.open(scratch .. 'small') return f:read(3, '*l', '*a', 1)")
        << QStringLiteral("string:one string: string:two\n nil");
    QTest::newRow("a number, then the rest") << tight << QByteArray("local f = io.open('numbers', 'w') f:write(' -1.5e3x 0x1F') "
                                                                   "f:close() f = io.open('numbers') return f:read('*n', 1, '*n', '*a')")
                                             << QStringLiteral("number:-1500 string:x number:31 string:");
    QTest::newRow("renaming and removing in the data folder")
        << tight << QByteArray("assert(io.open('a', 'w')):close() return os.rename('a', 'b'), os.remove(scratch .. 'b'), io.open('b')")
        << QStringLiteral("true true nil string:b: No such file or directory number:2");
    QTest::newRow("open files up to the limit")
        << tight << QByteArray("local t = {} for i = 1, 40 do local f, e = io.open('small') if not f then return i, e end t[i] = f end")
        << QStringLiteral("number:33 string:small: too many open files (a state holds at most 32)");
    QTest::newRow("metatables of files and strings are locked")
        << tight << QByteArray("return getmetatable(io.open('small')), getmetatable(''), pcall(setmetatable, io.open('small'), {})")
        << QStringLiteral("false false false string:bad argument #1 to '?' (table expected, got userdata)");
    QTest::newRow("unpack of the widest range") << tight << QByteArray("return unpack({}, -2^31, 2^31 - 1)")
                                                << QStringLiteral("error: too many results to unpack");
    QTest::newRow("inserting far below the list") << tight << QByteArray("local t = {1} table.insert(t, -2^31, 0)") << stopped;
    QTest::newRow("a comparison that is a C function")
        << tight << QByteArray("local t = {} for i = 1, 2e6 do t[i] = i % 7 end while true do table.sort(t, rawequal) end")
        << stopped;
    QTest::newRow("debug.sethook without the sandbox")
        << QByteArray("sandbox=false\n") << QByteArray("return pcall(debug.sethook)")
        << QStringLiteral("false string:debug.sethook is not available: the plug-in's time limit uses the hook");
    QTest::newRow("debug.getinfo's '>' without the sandbox")
        << QByteArray("sandbox=false\n") << QByteArray("return pcall(debug.getinfo, 1, '>S')")
        << QStringLiteral("false string:bad argument #2 to '?' (invalid option)");
    QTest::newRow("debug.setlocal in a C frame without the sandbox")
        << QByteArray("sandbox=false\n")
        << QByteArray("table.sort({1, 2, 3}, function(a, b) debug.setlocal(2, 1, 42) return a < b end)")
        << QStringLiteral("error: bad argument #1 to 'setlocal' (the locals of a C function cannot be changed)");

    const QByteArray sandboxed[] = {"os.exit(3)", "os.execute('sleep 1000')", "io.popen('sleep 1000')",
                                    "package.loadlib('libc.so.6', 'abort')", "newproxy(true)",
                                    "debug.setmetatable(io.open('small'), {})", "debug.getregistry()", "io.read()"};
    for (const QByteArray& call : sandboxed) {
        const QByteArray name = call.left(call.indexOf('('));
        QTest::newRow(("sandbox: " + name).constData())
            << QByteArray() << call
            << QString::fromLatin1("error: " + name + " is not available to scripts (sandbox in [Limits] of luaconfig.ini)");
    }
    QTest::newRow("sandbox: the collector's pace")
        << QByteArray() << QByteArray("collectgarbage('stop')")
        << QStringLiteral("error: collectgarbage('stop') is not available to scripts: the plug-in paces the collector "
                          "(sandbox in [Limits] of luaconfig.ini)");
    QTest::newRow("sandbox: precompiled chunks")
        << QByteArray() << QByteArray("return loadstring('\\27Lua')")
        << QStringLiteral("nil string:precompiled chunks are not loaded (sandbox in [Limits] of luaconfig.ini)");
    QTest::newRow("without the sandbox")
        << QByteArray("sandbox=false\n")
        << QByteArray("return os.execute('exit 3') ~= 0, io.popen('echo hi'):read('*a'), type(newproxy(true)), "
                      "type(debug.getregistry()), package.loadlib('/nonexistent.so', 'f') == nil, "
                      "type(loadstring(string.dump(function() end)))")
        << QStringLiteral("true string:hi\n string:userdata string:table true string:function");

    // Text processing on 10 MB is not refused (it runs within the default limit in a release
    // build; the limit here leaves room for a sanitizer build).
    const QByteArray ample = "timeLimitMs=20000\n";
    const QByteArray text = "local s = ('word 12, more\\n'):rep(7.5e5) ";
    QTest::newRow("squeezing white space") << ample << text + "return #s, select(2, s:gsub('%s+', ' '))"
                                           << QStringLiteral("number:10500000 number:2250000");
    QTest::newRow("counting lines") << ample
                                    << text + "local n = 0 for line in s:gmatch('[^\\n]+') do n = n + 1 end return n"
                                    << QStringLiteral("number:750000");
    QTest::newRow("a number at the end") << ample << QByteArray("return (('x'):rep(1e7) .. '42'):find('%d+')")
                                         << QStringLiteral("number:10000001 number:10000002");
    QTest::newRow("splitting CSV") << ample
                                   << text + "local n = 0 for field in s:gmatch('([^,]*)') do n = n + 1 end return n"
                                   << QStringLiteral("number:1500002");
    QTest::newRow("trimming 5 MB") << ample
                                   << QByteArray("return #(('  ' .. ('ab '):rep(1.7e6) .. ' '):match('^%s*(.-)%s*$'))")
                                   << QStringLiteral("number:5099999");
    QTest::newRow("without a limit nothing is refused")
        << QByteArray("timeLimitMs=0\n") << QByteArray("return #(string.match(('a'):rep(20), ('a?'):rep(20) .. ('a'):rep(20)))")
        << QStringLiteral("number:20");
}

void LuaDispatchTest::hostileCalls()
{
    QFETCH(QByteArray, limits);
    QFETCH(QByteArray, body);
    QFETCH(QString, outcome);

    const QString data = folder->path() + "/lua_plugin/data";
    QVERIFY(QDir().mkpath(data));
    const QByteArray scratch = QFile::encodeName(data) + '/';
    QVERIFY(writeFile(data + "/big", QByteArray(24 << 20, 'b')));
    QVERIFY(writeFile(data + "/small", "one\ntwo\n"));
    QFile sparse(data + "/sparse");
    QVERIFY(sparse.open(QIODevice::WriteOnly) && sparse.resize(qint64(4) << 30));
    sparse.close();
    QCOMPARE(::mkfifo((scratch + "fifo").constData(), 0600), 0);
    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\n" + limits));
    writeEventsScript(recorder + "scratch = '" + scratch + "'\n" + "function work() return describe((function() " +
                      body + "\nend)()) end\n");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    char error[errorBufferSize] = "";
    const char* result = nullptr;
    QElapsedTimer timer;
    timer.start();
    const int status = callLuaFunction(error, "work", ">s", &result);
    const qint64 elapsed = timer.elapsed();
    QString got = status == 0 ? QString::fromUtf8(result)
                              : QStringLiteral("error: ") + QString::fromUtf8(error)
                                                                .remove(QStringLiteral("Error running Lua function 'work': "))
                                                                .remove(QRegularExpression(QStringLiteral("^[^\\n]*:\\d+: ")))
                                                                .chopped(1);
    QCOMPARE(got.replace(QString::fromUtf8(scratch), QStringLiteral("<scratch>")), outcome);
    // Ends (the figures against the limit are the benchmark's): a generous bound catches a call that runs on.
    const QRegularExpressionMatch limit = QRegularExpression(QStringLiteral("timeLimitMs=(\\d+)")).match(QString::fromLatin1(limits));
    QVERIFY2(elapsed < (limit.hasMatch() ? limit.captured(1).toInt() : 2000) + 6000, qPrintable(QString::number(elapsed)));
    QCOMPARE(callLuaFunction(nullptr, "record", "i", 4), 0);
    QCOMPARE(globalString("received"), QStringLiteral("1: number:4"));
    lua_gc(L, LUA_GCCOLLECT, 0);
    QVERIFY2(luaMemoryInUse() < (std::size_t(256) << 20), qPrintable(QString::number(luaMemoryInUse())));
}

// Modules load within the start-up call: ten that never end use up its one limit, and the
// rest are named as not loaded; a module the events script loaded itself loads once.
void LuaDispatchTest::moduleLoading_data()
{
    QTest::addColumn<int>("looping");
    QTest::addColumn<QByteArray>("eventsScript");
    QTest::addColumn<QStringList>("lines");
    QTest::addColumn<QString>("fine"); // what modules.fine holds then, when the row says

    QTest::newRow("ten looping modules") << 10 << QByteArray()
                                         << QStringList{"1 failed: ", "1 time limit of 200 ms",
                                                        "10 not loaded: the start-up time limit was used up"}
                                         << QString();
    QTest::newRow("a module the events script loaded")
        << 0 << QByteArray("modules = {fine = dofile(pluginFolder .. 'lua_plugin/fine/init.lua') .. ' by the script'}")
        << QStringList{"1 Lua: module fine was already loaded by the events script"}
        << QStringLiteral("fine by the script");
}

void LuaDispatchTest::moduleLoading()
{
    QFETCH(int, looping);
    QFETCH(QByteArray, eventsScript);
    QFETCH(QStringList, lines);
    QFETCH(QString, fine);

    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\ntimeLimitMs=200\n"));
    writeEventsScript(recorder + "pluginFolder = '" + pluginFolder + "'\n" + eventsScript);
    QStringList names{"fine"};
    for (int n = 0; n < looping; ++n)
        names << QStringLiteral("endless%1").arg(n);
    for (const QString& name : std::as_const(names)) {
        QVERIFY(QDir(folder->path()).mkpath("lua_plugin/" + name));
        QVERIFY(writeFile(folder->path() + "/lua_plugin/" + name + "/init.lua",
                          name == "fine" ? "return 'fine'" : "while true do end"));
    }
    QByteArray printed;
    QElapsedTimer timer;
    timer.start();
    {
        CapturedOutput output;
        QCOMPARE(startPlugin(), 0);
        printed = output.standardOutput();
    }
    QVERIFY2(timer.elapsed() < 200 + 2000, qPrintable(QString::number(timer.elapsed())));
    // "N text": the text stands N times in what the start printed.
    for (const QString& expected : std::as_const(lines)) {
        const qsizetype space = expected.indexOf(' ');
        QVERIFY2(QString::fromUtf8(printed).count(expected.mid(space + 1)) == expected.left(space).toInt(),
                 printed.constData());
    }
    if (!fine.isEmpty()) {
        QCOMPARE(runLua("moduleResult = modules.fine"), QString());
        QCOMPARE(globalString("moduleResult"), fine);
    }
}

// With the sandbox, every way a script names a file outside its folders is refused when the
// file is opened, and the files there stay as they were. Each row is a call that must
// answer "outside the folders scripts may use".
void LuaDispatchTest::filesStayInTheScriptsFolders_data()
{
    QTest::addColumn<QByteArray>("call");

    QTest::newRow("up and out") << QByteArray("io.open('../../outside', 'w')");
    QTest::newRow("an absolute path") << QByteArray("io.open(plugin .. 'outside', 'a')");
    QTest::newRow("the settings") << QByteArray("io.open(plugin .. 'luaconfig.ini', 'w')");
    QTest::newRow("a link planted in the data folder") << QByteArray("io.open('link', 'w')");
    QTest::newRow("an absolute link, read") << QByteArray("io.open('absolute')");
    QTest::newRow("a link to a folder outside") << QByteArray("io.open('folder/outside', 'r+')");
    QTest::newRow("the client's memory") << QByteArray("io.open('/proc/self/mem', 'r+')");
    QTest::newRow("the events script, written") << QByteArray("io.open(plugin .. 'lua_plugin/vx5events.lua', 'a')");
    QTest::newRow("removing through a link") << QByteArray("os.remove('folder/outside')");
    QTest::newRow("renaming out") << QByteArray("os.rename('inside', '../../moved')");
    QTest::newRow("renaming in") << QByteArray("os.rename(plugin .. 'outside', 'stolen')");
    QTest::newRow("loading") << QByteArray("loadfile(plugin .. 'outside')");
    QTest::newRow("requiring") << QByteArray("select(2, pcall(require, 'outside'))");
}

void LuaDispatchTest::filesStayInTheScriptsFolders()
{
    QFETCH(QByteArray, call);

    const QString data = folder->path() + "/lua_plugin/data";
    QVERIFY(QDir().mkpath(data));
    QVERIFY(writeFile(folder->path() + "/outside", "untouched"));
    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\n"));
    QVERIFY(writeFile(data + "/inside", "inside"));
    QVERIFY(QFile::link("../../outside", data + "/link"));
    QVERIFY(QFile::link(folder->path() + "/outside", data + "/absolute"));
    QVERIFY(QFile::link(folder->path(), data + "/folder"));
    writeEventsScript(recorder + "plugin = '" + pluginFolder + "'\npackage.path = plugin .. '?'\n" +
                      "function work() return describe(" + call + ") end\n");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    const char* result = nullptr;
    QCOMPARE(callLuaFunction(nullptr, "work", ">s", &result), 0);
    QVERIFY2(QByteArray(result).contains("outside the folders scripts may use") ||
                 QByteArray(result).contains("no file '" + pluginFolder + "outside'"),
             result);
    QCOMPARE(readAll(folder->path() + "/outside"), QByteArray("untouched"));
    QCOMPARE(readAll(folder->path() + "/luaconfig.ini"), QByteArray("[Limits]\n"));
    QCOMPARE(readAll(data + "/inside"), QByteArray("inside"));
    QVERIFY(readAll(folder->path() + "/lua_plugin/vx5events.lua").startsWith(recorder));
    QVERIFY(!QFile::exists(folder->path() + "/moved") && !QFile::exists(data + "/stolen"));
}

namespace {

// The names the sandbox table lists, refused ones included.
QSet<QByteArray> sandboxRowNames()
{
    QSet<QByteArray> names;
#define VX5_TEST_ROW(name, source, time, memory, reach) names.insert(name);
#define VX5_TEST_REFUSED(name, why) names.insert(name);
    VX5_SANDBOX_ROWS(VX5_TEST_ROW, VX5_TEST_REFUSED)
#undef VX5_TEST_ROW
#undef VX5_TEST_REFUSED
    for (std::size_t row = 0; row < vx5api::hostFunctionCount; ++row)
        names.insert(QByteArray("vx5.") + vx5api::hostFunctions[row].name);
    return names;
}

// The names under which the table at index holds values, with prefix and separator,
// looking into library tables (those whose names are the prefixes of rows).
void collectNames(lua_State* ls, int table, const QByteArray& prefix, const QSet<QByteArray>& rows, QSet<QByteArray>* found)
{
    lua_pushnil(ls);
    while (lua_next(ls, table) != 0) {
        const QByteArray name = prefix + (lua_type(ls, -2) == LUA_TSTRING ? QByteArray(lua_tostring(ls, -2))
                                                                          : QByteArray("<not a name>"));
        bool library = false;
        for (const QByteArray& row : rows)
            library = library || row.startsWith(name + '.');
        if (prefix.isEmpty() && library && lua_istable(ls, -1))
            collectNames(ls, lua_gettop(ls), name + '.', rows, found);
        if (!library || rows.contains(name)) // a library table is a row when the plug-in makes it (vx5)
            found->insert(name);
        lua_pop(ls, 1);
    }
}

} // namespace

// A sandboxed state holds exactly the table's rows: its globals and libraries, the files'
// metatable and methods, the strings' metatable, and package.loaded, which holds only the
// libraries the globals hold.
void LuaDispatchTest::sandboxHoldsOnlyItsRows()
{
    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\n"));
    writeEventsScript("");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    const QSet<QByteArray> rows = sandboxRowNames();
    QSet<QByteArray> found;
    const int top = lua_gettop(L);
    lua_pushvalue(L, LUA_GLOBALSINDEX); // globals
    collectNames(L, top + 1, QByteArray(), rows, &found);
    luaL_getmetatable(L, "FILE*"); // globals, file metatable
    collectNames(L, top + 2, "file:", rows, &found);
    lua_getfield(L, top + 2, "__index"); // globals, file metatable, methods
    collectNames(L, top + 3, "file:", rows, &found);
    lua_pushliteral(L, "");   // ..., ""
    lua_getmetatable(L, -1);  // ..., "", string metatable
    collectNames(L, top + 5, "string:", rows, &found);
    lua_getfield(L, LUA_REGISTRYINDEX, "_LOADED"); // ..., loaded
    lua_pushnil(L);
    while (lua_next(L, top + 6) != 0) { // ..., loaded, name, library
        lua_pushvalue(L, -2);           // ..., name, library, name
        lua_rawget(L, top + 1);         // ..., name, library, global
        QVERIFY2(lua_rawequal(L, -1, -2), lua_tostring(L, -3));
        lua_pop(L, 2);
    }
    lua_settop(L, top);

    found.remove("vx5.<not a name>");
    QSet<QByteArray> notRows = found - rows;
    QVERIFY2(notRows.isEmpty(), notRows.values().join(", ").constData());
    QSet<QByteArray> missing = rows - found;
    QVERIFY2(missing.isEmpty(), missing.values().join(", ").constData());
    QCOMPARE(runLua("assert(select(2, pcall(os.execute, 'true')):find('not available to scripts'))"), QString());
}

// A restart closes every file the state opened, also when a script (without the sandbox)
// took the files' finaliser away; the client's descriptors are where they were.
void LuaDispatchTest::restartsCloseEveryFile_data()
{
    QTest::addColumn<QByteArray>("limits");
    QTest::addColumn<QByteArray>("script");

    const QByteArray openAll = "kept = {} for i = 1, 40 do kept[i] = io.open(data .. 'small') end\n";
    QTest::newRow("sandbox") << QByteArray() << openAll;
    QTest::newRow("without it, and without the finaliser")
        << QByteArray("sandbox=false\n") << "getmetatable(io.stdout).__gc = function() end\n" + openAll;
}

void LuaDispatchTest::restartsCloseEveryFile()
{
    QFETCH(QByteArray, limits);
    QFETCH(QByteArray, script);

    const QString data = folder->path() + "/lua_plugin/data";
    QVERIFY(QDir().mkpath(data));
    QVERIFY(writeFile(data + "/small", "small"));
    QVERIFY(writeFile(folder->path() + "/luaconfig.ini", "[Limits]\n" + limits));
    writeEventsScript("");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    const auto descriptors = [] { return QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::Files | QDir::System).size(); };
    const qsizetype before = descriptors();
    writeEventsScript("data = '" + QFile::encodeName(data) + "/'\n" + script);
    for (int round = 0; round < 50; ++round) {
        int started = 1;
        {
            CapturedOutput quiet;
            started = startPlugin();
        }
        QCOMPARE(started, 0);
        QCOMPARE(runLua("assert(#kept == 32)"), QString());
    }
    writeEventsScript("");
    {
        CapturedOutput quiet;
        QCOMPARE(startPlugin(), 0);
    }
    QCOMPARE(descriptors(), before);
}

QTEST_GUILESS_MAIN(LuaDispatchTest)
#include "tst_luadispatch.moc"
