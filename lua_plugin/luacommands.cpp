// The ways in for a user besides events: the chat console command "/lua", the plug-in
// menus a script declares, and the configure action that opens the module dialog.
#include "plugin.h"

#include "luaconfigdialog.h"
#include "luahelpers.h"
#include "luatimelimit.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t commandSize = 128;
constexpr int maxArguments = 5;
constexpr std::size_t menuTextSize = 128;
// The records the plug-in makes for the client are its own memory, outside the cap: a
// script declares at most this many items.
constexpr int maxMenuItems = 256;

const char* const helpText =
    "[b]Lua console commands:[/b]\n"
    "/lua load <filename> - Load lua script from scipts folder.\n"
    "/lua run <function> [args]- Run lua function. The script must have been previously loaded. (Currently no "
    "arguments supported)\n"
    "/lua help - Show this help";

void printToTab(const char* text)
{
    if (vx5Functions.printMessageToCurrentTab)
        vx5Functions.printMessageToCurrentTab(text);
}

// A name below the scripts folder: no absolute path, no ".." component.
bool isScriptName(const char* name)
{
    if (name[0] == '/')
        return false;
    for (const char* part = name; part; part = std::strchr(part, '/')) {
        if (*part == '/')
            ++part;
        if (std::strncmp(part, "..", 2) == 0 && (part[2] == '/' || part[2] == '\0'))
            return false;
    }
    return true;
}

void loadScript(const char* name)
{
    if (!name) {
        printToTab("Error: Script name missing. Usage is: /lua load <filename>");
        return;
    }
    char message[hostPathSize + 64];
    if (!isScriptName(name)) {
        std::snprintf(message, sizeof message, "Error: Scripts are loaded from the scripts folder only: %s", name);
        printToTab(message);
        return;
    }
    char resources[hostPathSize];
    char path[hostPathSize];
    // A path that does not fit could name another file once cut: it is refused.
    if (!getHostPath(vx5Functions.getResourcesPath, resources) ||
        std::snprintf(path, sizeof path, "%splugins/lua_plugin/%s", resources, name) >= int(sizeof path)) {
        printToTab("Error loading lua script: the path is too long");
        return;
    }
    std::printf("scriptPath: %s\n", path);
    if (loadLuaScript(path) != 0) {
        std::snprintf(message, sizeof message, "Error loading lua script: %s", path);
        printToTab(message);
        return;
    }
    printToTab("Lua script loaded");
}

// The console's arguments: the connection, then each word as an int when it is digits
// only and fits one, as a string otherwise.
struct ConsoleCall
{
    std::uint64_t connection;
    const char* const* words;
    int count;
};

bool asInt(const char* word, int* value)
{
    if (!*word || std::strspn(word, "0123456789") != std::strlen(word))
        return false;
    errno = 0;
    const long number = std::strtol(word, nullptr, 10);
    if (errno != 0 || number > INT_MAX)
        return false;
    *value = int(number);
    return true;
}

int consoleBody(lua_State* ls, void* data)
{
    const auto* call = static_cast<const ConsoleCall*>(data);
    pushLuaValue(ls, call->connection); // function, connection
    for (int n = 0; n < call->count; ++n) {
        int number = 0;
        if (asInt(call->words[n], &number))
            pushLuaValue(ls, number);
        else
            pushLuaValue(ls, call->words[n]);
    } // function, connection, arguments...
    lua_call(ls, call->count + 1, 0);
    return 0;
}

void runFunction(std::uint64_t connection, const char* name, const char* const* arguments, int count)
{
    if (!name || !*name) {
        printToTab("Error: Function parameter missing. Usage is: /lua run <function> [args]");
        return;
    }
    char errorBuffer[errorBufferSize] = "";
    ConsoleCall console{connection, arguments, count};
    ProtectedCall call{errorBuffer, name, consoleBody, &console, 1, nullptr};
    if (callProtected(call) == 0)
        return;
    if (!errorBuffer[0]) // no state, say
        std::snprintf(errorBuffer, sizeof errorBuffer, "Error running Lua function '%s'", name);
    printToTab(errorBuffer);
}

// What createMenus produced; handed to the client only when complete.
struct Menus
{
    MenuItem** list = nullptr;
    char* icon = nullptr;
    bool produced = false;
};

// The text, cut to what a record holds; a cut never splits a UTF-8 character.
char* copyText(char* target, lua_State* ls, int index)
{
    const char* text = lua_tostring(ls, index);
    std::size_t length = std::strlen(text);
    if (length >= menuTextSize) {
        length = menuTextSize - 1;
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xc0) == 0x80)
            --length; // text[length] continues a character: cut before that character
    }
    std::memcpy(target, text, length);
    target[length] = '\0';
    return target;
}

// One {type, menu ID, text, icon} element into a new record; null when it is not one.
MenuItem* makeMenuItem(lua_State* ls)
{
    if (!lua_istable(ls, -1) || lua_objlen(ls, -1) != 4) { // element
        std::printf("Invalid return value. Expecting 4 items for menu.\n");
        return nullptr;
    }
    auto* item = static_cast<MenuItem*>(std::calloc(1, sizeof(MenuItem)));
    if (!item)
        return nullptr;
    int* numbers[] = {&item->type, &item->id};
    const char* numberComplaints[] = {"Invalid return value. Expecting integer for type.\n",
                                      "Invalid return value. Expecting integer for menuID.\n"};
    for (int n = 0; n < 2; ++n) {
        lua_rawgeti(ls, -1, n + 1); // element, value
        if (lua_type(ls, -1) != LUA_TNUMBER || !toIntResult(ls, -1, numbers[n]))
            std::printf("%s", numberComplaints[n]);
        lua_pop(ls, 1); // element
    }
    char* texts[] = {item->text, item->icon};
    const char* textComplaints[] = {"Invalid return value. Expecting string for menu text.\n",
                                    "Invalid return value. Expecting string for menu icon.\n"};
    for (int n = 0; n < 2; ++n) {
        lua_rawgeti(ls, -1, n + 3); // element, value
        if (lua_type(ls, -1) == LUA_TSTRING)
            copyText(texts[n], ls, -1);
        else
            std::printf("%s", textComplaints[n]);
        lua_pop(ls, 1); // element
    }
    return item;
}

// Says that createMenus failed, and the error on top of the stack on the next line.
void reportMenusFailure(lua_State* ls)
{
    char numberText[numberTextSize];
    std::printf("Failed to call createMenus.\n%.*s\n", errorTextLength, errorText(ls, -1, numberText));
}

// Runs protected as a whole (a strict metatable on the globals raises in the lookup),
// and reads the result raw: no metamethod runs, so nothing raises once memory is taken.
int createMenusProtected(lua_State* ls)
{
    auto* menus = static_cast<Menus*>(takeCallData(ls, createMenusProtected));
    lua_getglobal(ls, "createMenus"); // createMenus?
    if (!lua_isfunction(ls, -1))
        return 0;
    if (lua_pcall(ls, 0, 1, 0) != 0) { // result or message
        reportMenusFailure(ls);
        return 0;
    }
    if (!lua_istable(ls, -1)) {
        std::printf("Invalid return value for createMenus, not a table.\n");
        return 0;
    }
    const int length = int(lua_objlen(ls, -1));
    if (length == 0)
        return 0;
    lua_rawgeti(ls, -1, 2); // result, icon?
    if (lua_type(ls, -1) == LUA_TSTRING) {
        menus->icon = static_cast<char*>(std::malloc(menuTextSize));
        if (menus->icon)
            copyText(menus->icon, ls, -1);
    }
    lua_pop(ls, 1); // result
    int entries = length > 2 ? length - 2 : 0;
    if (entries > maxMenuItems) {
        std::printf("Too many menu items: the first %d are used.\n", maxMenuItems);
        entries = maxMenuItems;
    }
    menus->list = static_cast<MenuItem**>(std::calloc(std::size_t(entries) + 1, sizeof(MenuItem*)));
    for (int n = 3; menus->list && n < 3 + entries; ++n) {
        lua_rawgeti(ls, -1, n); // result, element
        MenuItem* item = makeMenuItem(ls);
        lua_pop(ls, 1); // result
        if (!item)
            break; // the list ends at the first element that is no menu item
        menus->list[n - 3] = item;
    }
    menus->produced = true;
    return 0;
}

} // namespace

const char* vx5plugin_commandKeyword()
{
    return "lua";
}

int vx5plugin_processCommand(std::uint64_t connection, const char* command)
{
    if (!command)
        command = "";
    std::printf("LUA_PLUGIN: process command: '%s'\n", command);
    char line[commandSize];
    std::snprintf(line, sizeof line, "%s", command);

    char* words[2 + maxArguments] = {};
    int count = 0;
    char* rest = nullptr;
    for (char* word = strtok_r(line, " ", &rest); word; word = strtok_r(nullptr, " ", &rest)) {
        if (count == 2 + maxArguments) {
            std::printf("Too many args: %d\n", maxArguments);
            break;
        }
        words[count++] = word;
    }
    const char* sub = words[0];
    if (sub && std::strcmp(sub, "load") == 0)
        loadScript(words[1]);
    else if (sub && std::strcmp(sub, "run") == 0)
        runFunction(connection, words[1], words + 2, count > 2 ? count - 2 : 0);
    else
        printToTab(helpText);
    return 0;
}

void vx5plugin_initMenus(MenuItem*** menuItems, char** menuIcon)
{
    if (!L || stopRequested()) {
        std::printf("No Lua state when trying to create menus.\n");
        return;
    }
    Menus menus;
    const int top = lua_gettop(L);
    enterClientCall();
    if (callInProtection(L, createMenusProtected, &menus) != 0)
        reportMenusFailure(L);
    lua_settop(L, top);
    leaveClientCall();
    if (!menus.produced) { // nothing, or stopped before anything was taken
        std::free(menus.icon);
        return;
    }
    *menuItems = menus.list;
    if (menus.icon)
        *menuIcon = menus.icon;
}

int vx5plugin_onMenuItemEvent(std::uint64_t connection, int type, int menuItemID, std::uint64_t selectedItemID)
{
    static HandlerName handler{"onMenuItemEvent"};
    return callLuaHandler(nullptr, handler, connection, type, menuItemID, selectedItemID);
}

int vx5plugin_offersConfigure()
{
    return 2;
}

void vx5plugin_configure(void* /*handle*/, void* qParentWidget)
{
    openLuaConfigDialog(static_cast<QWidget*>(qParentWidget));
}
