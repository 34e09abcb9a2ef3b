#include "luaboundedlib.h"

#include "luafiles.h"
#include "luahelpers.h"
#include "lualimits.h"
#include "luasandbox.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <algorithm>
#include <cctype>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <ctime>

// Lua is used as its C build: these functions raise Lua errors (longjmp) and therefore hold
// no objects with destructors.

namespace {

// What the parser gets between two looks at the clock (about a tenth of a millisecond).
constexpr std::size_t pieceSize = 64 * 1024;
// Work between two looks at the clock in loops over elements or bytes (well under a
// millisecond each).
constexpr long elementsPerCheck = 65536;
constexpr std::size_t bytesPerCheck = 1 << 20;
constexpr unsigned callbacksPerCheck = 64;
// Lua's unpack and C functions in general take at most this many stack slots.
constexpr lua_Number maxResults = LUAI_MAXCSTACK;
// A string longer than this is no number (the C library would read it all, in one go).
constexpr std::size_t maxNumberText = 16 << 20;
// string.format copies its format and %q's strings byte by byte: at most this much.
constexpr std::size_t maxFormatWork = 32 << 20;
// A module name longer than a path can be names no file.
constexpr std::size_t maxModuleName = hostPathSize;

lua_CFunction librarySort = nullptr;
lua_CFunction libraryLoadFile = nullptr;
lua_CFunction libraryDoFile = nullptr;
lua_CFunction libraryFormat = nullptr;
lua_CFunction libraryTonumber = nullptr;
lua_CFunction libraryCollectGarbage = nullptr;

int memoryError(lua_State* ls)
{
    lua_pushliteral(ls, "not enough memory");
    return lua_error(ls);
}

// Whether size bytes fit twice (a work area, then the Lua string made from it).
bool fitsTwice(lua_State* ls, std::size_t size)
{
    return size <= SIZE_MAX / 2 && roomFor(ls, 2 * size);
}

// A whole number argument within the int range (the library would cast it blindly).
int checkPosition(lua_State* ls, int arg)
{
    const lua_Number value = luaL_checknumber(ls, arg);
    if (!(value >= lua_Number(INT_MIN) && value <= lua_Number(INT_MAX)))
        luaL_argerror(ls, arg, "number out of the integer range");
    return int(value);
}

int optPosition(lua_State* ls, int arg, int fallback)
{
    return lua_isnoneornil(ls, arg) ? fallback : checkPosition(ls, arg);
}

void checkEvery(lua_State* ls, long done)
{
    if (done % elementsPerCheck == elementsPerCheck - 1)
        enforceTimeLimit(ls);
}

// ---- string.rep and table.concat: sized first, then built in one block.

int buildRep(lua_State* ls)
{
    std::size_t length = 0;
    const char* text = luaL_checklstring(ls, 1, &length);
    const lua_Number count = luaL_checknumber(ls, 2);
    if (length == 0 || !(count >= 1)) { // NaN too
        lua_pushliteral(ls, "");
        return 1;
    }
    if (count >= lua_Number(SIZE_MAX / 4) || std::size_t(count) > SIZE_MAX / 4 / length ||
        !fitsTwice(ls, length * std::size_t(count)))
        return memoryError(ls);
    const std::size_t total = length * std::size_t(count);
    auto* block = static_cast<char*>(lua_newuserdata(ls, total));
    std::memcpy(block, text, length);
    for (std::size_t filled = length; filled < total;) {
        const std::size_t piece = std::min(filled, total - filled);
        std::memcpy(block + filled, block, piece);
        filled += piece;
    }
    lua_pushlstring(ls, block, total);
    return 1;
}

// Pushes element i of the table at 1 as a string, or raises as table.concat does.
const char* pushConcatElement(lua_State* ls, long long i, std::size_t* length)
{
    lua_rawgeti(ls, 1, int(i));
    if (!lua_isstring(ls, -1))
        luaL_error(ls, "invalid value (at index %d) in table for 'concat'", int(i));
    return lua_tolstring(ls, -1, length);
}

// ---- Strings mapped byte by byte into one block.

char upperByte(char c)
{
    return char(std::toupper(static_cast<unsigned char>(c)));
}

char lowerByte(char c)
{
    return char(std::tolower(static_cast<unsigned char>(c)));
}

// Each byte mapped, or (without a map) the bytes in reverse order.
int mapBytes(lua_State* ls, char (*map)(char))
{
    std::size_t length = 0;
    const char* text = luaL_checklstring(ls, 1, &length);
    if (!fitsTwice(ls, length))
        return memoryError(ls);
    auto* block = static_cast<char*>(lua_newuserdata(ls, length));
    for (std::size_t at = 0; at < length;) {
        const std::size_t end = std::min(length, at + bytesPerCheck);
        for (; at < end; ++at)
            block[at] = map ? map(text[at]) : text[length - 1 - at];
        enforceTimeLimit(ls);
    }
    lua_pushlstring(ls, block, length);
    return 1;
}

// ---- Comparisons and callbacks that look at the time.

unsigned callbacks = 0;

void countCallback(lua_State* ls)
{
    if (++callbacks % callbacksPerCheck == 0)
        enforceTimeLimit(ls);
}

int checkedLessThan(lua_State* ls)
{
    countCallback(ls);
    lua_pushboolean(ls, lua_lessthan(ls, 1, 2));
    return 1;
}

// A callback that is a C function, or a table looked up with its first argument, runs no
// instruction the hook could stop. Upvalue: the callback.
int checkedCallback(lua_State* ls)
{
    countCallback(ls);
    if (lua_istable(ls, lua_upvalueindex(1))) {
        lua_settop(ls, 1);                      // key
        lua_gettable(ls, lua_upvalueindex(1));  // value
        return 1;
    }
    lua_pushvalue(ls, lua_upvalueindex(1)); // arguments..., callback
    lua_insert(ls, 1);                      // callback, arguments...
    lua_call(ls, lua_gettop(ls) - 1, LUA_MULTRET);
    return lua_gettop(ls);
}

// ---- Loading chunks: the parser gets its text in pieces, the clock looked at between them.

void refuseBinaryChunk(lua_State* ls, const char* text, std::size_t size)
{
    if (sandboxActive() && size > 0 && text[0] == LUA_SIGNATURE[0]) {
        lua_pushliteral(ls, "precompiled chunks are not loaded (sandbox in [Limits] of luaconfig.ini)");
        lua_error(ls);
    }
}

struct TextPieces
{
    const char* text;
    std::size_t left;
    bool started;
};

const char* nextPieceOfText(lua_State* ls, void* data, std::size_t* size)
{
    auto* pieces = static_cast<TextPieces*>(data);
    enforceTimeLimit(ls);
    if (!pieces->started) {
        pieces->started = true;
        refuseBinaryChunk(ls, pieces->text, pieces->left);
    }
    *size = std::min(pieces->left, pieceSize);
    const char* piece = pieces->text;
    pieces->text += *size;
    pieces->left -= *size;
    return *size ? piece : nullptr;
}

int loadText(lua_State* ls, const char* text, std::size_t size, const char* chunkName)
{
    TextPieces pieces{text, size, false};
    return lua_load(ls, nextPieceOfText, &pieces, chunkName);
}

// load's and loadstring's results: the chunk, or nil and the message.
int loadResults(lua_State* ls, int status)
{
    if (status == 0)
        return 1;
    lua_pushnil(ls);    // message, nil
    lua_insert(ls, -2); // nil, message
    return 2;
}

// load(reader): the reader's current string stays in stack slot 3 while its pieces are parsed.
struct ReaderPieces
{
    std::size_t offset;
    bool started;
};

const char* nextPieceOfReader(lua_State* ls, void* data, std::size_t* size)
{
    auto* reader = static_cast<ReaderPieces*>(data);
    enforceTimeLimit(ls);
    std::size_t length = 0;
    const char* text = lua_tolstring(ls, 3, &length);
    if (!text || reader->offset >= length) {
        luaL_checkstack(ls, 2, "too many nested functions");
        lua_pushvalue(ls, 1); // reader
        lua_call(ls, 0, 1);   // piece
        if (lua_isnil(ls, -1)) {
            lua_pop(ls, 1);
            *size = 0;
            return nullptr;
        }
        if (!lua_isstring(ls, -1))
            luaL_error(ls, "reader function must return a string");
        lua_replace(ls, 3);
        text = lua_tolstring(ls, 3, &length);
        reader->offset = 0;
        if (!reader->started) {
            reader->started = true;
            refuseBinaryChunk(ls, text, length);
        }
    }
    *size = std::min(length - reader->offset, pieceSize);
    const char* piece = text + reader->offset;
    reader->offset += *size;
    return *size ? piece : nullptr;
}

// Pushes the file's chunk (0) or a message (non-zero), as luaL_loadfile does.
int loadFileChunk(lua_State* ls, const char* path, bool confined)
{
    const char* text = nullptr;
    std::size_t size = 0;
    if (!pushFileText(ls, path, confined, &text, &size)) // text or message
        return LUA_ERRFILE;
    // A first line starting with '#' (a shebang) is skipped; its newline stays, so that
    // line numbers hold.
    if (size > 0 && text[0] == '#') {
        const auto* newline = static_cast<const char*>(std::memchr(text, '\n', size));
        const std::size_t skip = newline ? std::size_t(newline - text) : size;
        text += skip;
        size -= skip;
    }
    lua_pushfstring(ls, "@%s", path);                                  // text, name
    const int status = loadText(ls, text, size, lua_tostring(ls, -1)); // text, name, chunk or message
    lua_replace(ls, -3);                                               // chunk or message, name
    lua_pop(ls, 1);                                                    // chunk or message
    return status;
}

// Without a file name both read the client's standard input.
int fromStandardInput(lua_State* ls, lua_CFunction library)
{
    if (sandboxActive())
        return luaL_error(ls, "reading a chunk from standard input is not available to scripts (sandbox in [Limits] "
                              "of luaconfig.ini)");
    return library(ls);
}

// ---- require with the sandbox: package.loaded, package.preload, then Lua files along
// package.path, found and read beneath the scripts folder.

char loadingSentinel; // marks a module being loaded, as Lua's own require does

// Pushes the chunk of the first file along the templates of path (package.path) that is a
// regular file, for module; or the places tried ("\n\tno file '...'" each). Each template
// looks at the clock.
bool pushModuleFile(lua_State* ls, const char* module, const char* path, bool confined)
{
    const char* name = luaL_gsub(ls, module, ".", LUA_DIRSEP); // name
    lua_pushliteral(ls, "");                                   // name, tried
    while (*path) {
        enforceTimeLimit(ls);
        if (*path == *LUA_PATHSEP) {
            ++path;
            continue;
        }
        const char* end = std::strchr(path, *LUA_PATHSEP);
        if (!end)
            end = path + std::strlen(path);
        lua_pushlstring(ls, path, std::size_t(end - path));                             // ..., tried, template
        const char* fileName = luaL_gsub(ls, lua_tostring(ls, -1), LUA_PATH_MARK, name); // ..., template, file
        lua_remove(ls, -2);                                                              // ..., tried, file
        path = end;
        if (isScriptFile(fileName)) {
            if (loadFileChunk(ls, fileName, confined) != 0) // ..., tried, file, chunk or message
                luaL_error(ls, "error loading module '%s' from file '%s':\n\t%s", module, fileName, lua_tostring(ls, -1));
            lua_replace(ls, -4); // chunk, tried, file
            lua_pop(ls, 2);      // chunk
            return true;
        }
        lua_pushfstring(ls, "\n\tno file '%s'", fileName); // ..., tried, file, entry
        lua_remove(ls, -2);                                  // ..., tried, entry
        lua_concat(ls, 2);                                   // ..., tried
    }
    lua_remove(ls, -2); // tried
    return false;
}

// Pushes a loader for module (a function) or the text of the places tried (a string).
void findModule(lua_State* ls, const char* module, int package)
{
    lua_getfield(ls, package, "preload"); // preload
    if (lua_istable(ls, -1)) {
        lua_getfield(ls, -1, module); // preload, loader?
        if (!lua_isnil(ls, -1)) {
            lua_remove(ls, -2); // loader
            return;
        }
        lua_pop(ls, 1); // preload
    }
    lua_pop(ls, 1);                                                      // (as before)
    lua_pushfstring(ls, "\n\tno field package.preload['%s']", module); // preload tried
    lua_getfield(ls, package, "path");                                   // preload tried, path
    const char* path = lua_tostring(ls, -1);
    if (!path)
        luaL_error(ls, "'package.path' must be a string");
    if (pushModuleFile(ls, module, path, true)) { // preload tried, path, chunk
        lua_replace(ls, -3);                      // chunk, path
        lua_pop(ls, 1);                           // chunk
        return;
    }
    lua_remove(ls, -2); // preload tried, files tried
    lua_concat(ls, 2);  // tried
}

// ---- os.date, with the C library's reentrant time conversions.

void setDateField(lua_State* ls, const char* key, int value)
{
    lua_pushinteger(ls, value);
    lua_setfield(ls, -2, key);
}

// ---- The state's own random numbers (xorshift64*): the C library's generator is the
// client's.

std::uint64_t randomState = 0x9e3779b97f4a7c15ULL;

double nextRandom()
{
    randomState ^= randomState >> 12;
    randomState ^= randomState << 25;
    randomState ^= randomState >> 27;
    return double((randomState * 0x2545f4914f6cdd1dULL) >> 11) * 0x1.0p-53;
}

} // namespace

void checkCallbacks(lua_State* ls, int index)
{
    if (!lua_iscfunction(ls, index) && !lua_istable(ls, index))
        return;
    lua_pushvalue(ls, index);                 // ..., callback
    lua_pushcclosure(ls, checkedCallback, 1); // ..., checked
    lua_replace(ls, index);                   // ...
}

void takeLibraryOriginals(lua_State* ls)
{
    const struct
    {
        const char* table;
        const char* name;
        lua_CFunction* original;
    } originals[] = {
        {"table", "sort", &librarySort},     {nullptr, "loadfile", &libraryLoadFile},
        {nullptr, "dofile", &libraryDoFile}, {"string", "format", &libraryFormat},
        {nullptr, "tonumber", &libraryTonumber}, {nullptr, "collectgarbage", &libraryCollectGarbage},
    };
    for (const auto& original : originals) {
        if (original.table)
            lua_getglobal(ls, original.table); // table
        else
            lua_pushvalue(ls, LUA_GLOBALSINDEX); // globals
        lua_getfield(ls, -1, original.name);     // table, function
        *original.original = lua_tocfunction(ls, -1);
        lua_pop(ls, 2); // (empty)
    }
    randomState = 0x9e3779b97f4a7c15ULL;
}

void loadBoundedFile(lua_State* ls, const char* path)
{
    if (loadFileChunk(ls, path, false) != 0)
        lua_error(ls);
}

int boundedLuaLoader(lua_State* ls)
{
    const char* module = luaL_checkstring(ls, 1);
    lua_getfield(ls, lua_upvalueindex(1), "path"); // module, path
    const char* path = lua_tostring(ls, -1);
    if (!path)
        return luaL_error(ls, "'package.path' must be a string");
    pushModuleFile(ls, module, path, false); // module, path, chunk or tried
    return 1;
}

// ---- base

int boundedCollectGarbage(lua_State* ls)
{
    static const char* const options[] = {"collect", "count", "step", "stop", "restart", "setpause", "setstepmul",
                                          nullptr};
    const int option = luaL_checkoption(ls, 1, "collect", options);
    if (sandboxActive() && option > 2)
        return luaL_error(ls, "collectgarbage('%s') is not available to scripts: the plug-in paces the collector "
                              "(sandbox in [Limits] of luaconfig.ini)", options[option]);
    const int results = libraryCollectGarbage(ls);
    enforceTimeLimit(ls);
    return results;
}

int boundedDoFile(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1))
        return fromStandardInput(ls, libraryDoFile);
    const char* path = luaL_checkstring(ls, 1);
    const int top = lua_gettop(ls);
    if (loadFileChunk(ls, path, sandboxActive()) != 0)
        return lua_error(ls);
    lua_call(ls, 0, LUA_MULTRET);
    return lua_gettop(ls) - top;
}

int boundedLoad(lua_State* ls)
{
    const char* chunkName = luaL_optstring(ls, 2, "=(load)");
    luaL_checktype(ls, 1, LUA_TFUNCTION);
    lua_settop(ls, 3); // reader, name, the reader's current string
    ReaderPieces reader{0, false};
    return loadResults(ls, lua_load(ls, nextPieceOfReader, &reader, chunkName));
}

int boundedLoadFile(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1))
        return fromStandardInput(ls, libraryLoadFile);
    return loadResults(ls, loadFileChunk(ls, luaL_checkstring(ls, 1), sandboxActive()));
}

int boundedLoadString(lua_State* ls)
{
    std::size_t size = 0;
    const char* text = luaL_checklstring(ls, 1, &size);
    const char* chunkName = luaL_optstring(ls, 2, text);
    return loadResults(ls, loadText(ls, text, size, chunkName));
}

int boundedTonumber(lua_State* ls)
{
    if (lua_type(ls, 1) == LUA_TSTRING && lua_objlen(ls, 1) > maxNumberText) {
        lua_pushnil(ls);
        return 1;
    }
    return libraryTonumber(ls);
}

int boundedUnpack(lua_State* ls)
{
    luaL_checktype(ls, 1, LUA_TTABLE);
    const int first = optPosition(ls, 2, 1);
    const int last = lua_isnoneornil(ls, 3) ? int(luaL_getn(ls, 1)) : checkPosition(ls, 3);
    if (first > last)
        return 0;
    const lua_Number count = lua_Number(last) - lua_Number(first) + 1;
    if (count > maxResults || !lua_checkstack(ls, int(count)))
        return luaL_error(ls, "too many results to unpack");
    for (int i = first;; ++i) {
        lua_rawgeti(ls, 1, i);
        if (i == last)
            break;
    }
    return int(count);
}

int sandboxRequire(lua_State* ls)
{
    std::size_t length = 0;
    const char* module = luaL_checklstring(ls, 1, &length);
    lua_settop(ls, 1);
    lua_getfield(ls, LUA_REGISTRYINDEX, "_LOADED"); // module, loaded
    lua_getfield(ls, 2, module);                    // module, loaded, value?
    if (lua_toboolean(ls, -1)) {
        if (lua_touserdata(ls, -1) == &loadingSentinel)
            return luaL_error(ls, "loop or previous error loading module '%s'", module);
        return 1;
    }
    lua_pop(ls, 1);                           // module, loaded
    lua_getfield(ls, 2, "package");           // module, loaded, package
    if (!lua_istable(ls, 3))
        return luaL_error(ls, "'package' must be a table");
    if (length >= maxModuleName)
        return luaL_error(ls, "module '%s' not found: the name is longer than a path can be", module);
    findModule(ls, module, 3); // module, loaded, package, loader or tried
    if (!lua_isfunction(ls, -1))
        return luaL_error(ls, "module '%s' not found:%s", module, lua_tostring(ls, -1));
    lua_pushlightuserdata(ls, &loadingSentinel); // ..., loader, sentinel
    lua_setfield(ls, 2, module);                 // ..., loader
    lua_pushvalue(ls, 1);                        // ..., loader, module
    lua_call(ls, 1, 1);                          // ..., result
    if (!lua_isnil(ls, -1))
        lua_setfield(ls, 2, module); // loaded[module] = result
    else
        lua_pop(ls, 1);
    lua_getfield(ls, 2, module); // ..., value
    if (lua_touserdata(ls, -1) == &loadingSentinel) {
        lua_pushboolean(ls, 1);      // ..., sentinel, true
        lua_pushvalue(ls, -1);       // ..., sentinel, true, true
        lua_setfield(ls, 2, module); // ..., sentinel, true
    }
    return 1;
}

// ---- string

int boundedFormat(lua_State* ls)
{
    std::size_t length = 0;
    const char* format = luaL_checklstring(ls, 1, &length);
    // The format's bytes and every %q string are copied one by one.
    std::size_t work = length;
    int argument = 1;
    for (const char* at = format; (at = static_cast<const char*>(std::memchr(at, '%', length - std::size_t(at - format))));) {
        ++at;
        if (at == format + length)
            break;
        if (*at == '%') {
            ++at;
            continue;
        }
        ++argument;
        const char* conversion = at + std::strspn(at, "-+ #0123456789.");
        if (conversion < format + length && *conversion == 'q' && lua_type(ls, argument) == LUA_TSTRING)
            work += lua_objlen(ls, argument);
    }
    if (work > maxFormatWork)
        return luaL_error(ls, "string.format makes at most %d MiB from its format and %%q strings",
                          int(maxFormatWork >> 20));
    const int results = libraryFormat(ls);
    enforceTimeLimit(ls);
    return results;
}

int boundedLower(lua_State* ls)
{
    return mapBytes(ls, lowerByte);
}

int boundedRep(lua_State* ls)
{
    const int results = buildRep(ls);
    enforceTimeLimit(ls);
    return results;
}

int boundedReverse(lua_State* ls)
{
    return mapBytes(ls, nullptr);
}

int boundedUpper(lua_State* ls)
{
    return mapBytes(ls, upperByte);
}

// ---- table

int boundedConcat(lua_State* ls)
{
    std::size_t separatorLength = 0;
    const char* separator = luaL_optlstring(ls, 2, "", &separatorLength);
    luaL_checktype(ls, 1, LUA_TTABLE);
    const long long first = optPosition(ls, 3, 1);
    const long long last = lua_isnoneornil(ls, 4) ? luaL_getn(ls, 1) : checkPosition(ls, 4);
    if (first > last) {
        lua_pushliteral(ls, "");
        return 1;
    }
    std::size_t total = 0;
    for (long long i = first; i <= last; ++i) {
        std::size_t length = 0;
        pushConcatElement(ls, i, &length);
        lua_pop(ls, 1);
        const std::size_t add = length + (i < last ? separatorLength : 0);
        if (add > SIZE_MAX / 4 - total)
            return memoryError(ls);
        total += add;
        checkEvery(ls, long(i - first));
    }
    if (!fitsTwice(ls, total))
        return memoryError(ls);
    auto* block = static_cast<char*>(lua_newuserdata(ls, total));
    std::size_t at = 0;
    for (long long i = first; i <= last; ++i) {
        std::size_t length = 0;
        const char* piece = pushConcatElement(ls, i, &length);
        // A finaliser run by an allocation above could have changed the table meanwhile.
        const std::size_t add = length + (i < last ? separatorLength : 0);
        if (add > total - at)
            return luaL_error(ls, "the table changed while 'concat' joined it");
        std::memcpy(block + at, piece, length);
        at += length;
        lua_pop(ls, 1);
        if (i < last) {
            std::memcpy(block + at, separator, separatorLength);
            at += separatorLength;
        }
        checkEvery(ls, long(i - first));
    }
    lua_pushlstring(ls, block, at);
    enforceTimeLimit(ls);
    return 1;
}

int boundedInsert(lua_State* ls)
{
    luaL_checktype(ls, 1, LUA_TTABLE);
    long long end = static_cast<long long>(luaL_getn(ls, 1)) + 1; // the first empty element
    long long position = end;
    switch (lua_gettop(ls)) {
    case 2:
        break;
    case 3:
        position = checkPosition(ls, 2);
        end = std::max(end, position); // past the end: nothing moves
        for (long long i = end; i > position; --i) {
            lua_rawgeti(ls, 1, int(i - 1));
            lua_rawseti(ls, 1, int(i));
            checkEvery(ls, long(end - i));
        }
        break;
    default:
        return luaL_error(ls, "wrong number of arguments to 'insert'");
    }
    lua_rawseti(ls, 1, int(position));
    return 0;
}

int boundedMaxn(lua_State* ls)
{
    luaL_checktype(ls, 1, LUA_TTABLE);
    lua_Number max = 0;
    long seen = 0;
    lua_pushnil(ls); // key
    while (lua_next(ls, 1)) { // key, value
        lua_pop(ls, 1);       // key
        if (lua_type(ls, -1) == LUA_TNUMBER)
            max = std::max(max, lua_tonumber(ls, -1));
        checkEvery(ls, seen++);
    }
    lua_pushnumber(ls, max);
    return 1;
}

int boundedRemove(lua_State* ls)
{
    luaL_checktype(ls, 1, LUA_TTABLE);
    const int end = int(luaL_getn(ls, 1));
    int position = optPosition(ls, 2, end);
    if (!(1 <= position && position <= end))
        return 0; // nothing to remove
    lua_rawgeti(ls, 1, position); // result
    for (; position < end; ++position) {
        lua_rawgeti(ls, 1, position + 1);
        lua_rawseti(ls, 1, position);
        checkEvery(ls, end - position);
    }
    lua_pushnil(ls);
    lua_rawseti(ls, 1, end);
    return 1;
}

int boundedSort(lua_State* ls)
{
    luaL_checktype(ls, 1, LUA_TTABLE);
    if (lua_isnoneornil(ls, 2)) {
        lua_settop(ls, 1);
        lua_pushcfunction(ls, checkedLessThan);
    } else {
        checkCallbacks(ls, 2);
    }
    const int results = librarySort(ls);
    enforceTimeLimit(ls);
    return results;
}

// ---- math and os

int boundedDate(lua_State* ls)
{
    const char* format = luaL_optstring(ls, 1, "%c");
    std::time_t time = std::time(nullptr);
    if (!lua_isnoneornil(ls, 2)) {
        const lua_Number given = luaL_checknumber(ls, 2);
        if (!(std::fabs(given) < 0x1.0p62)) {
            lua_pushnil(ls); // no calendar has that time
            return 1;
        }
        time = std::time_t(given);
    }
    const bool utc = format[0] == '!';
    if (utc)
        ++format;
    std::tm date{};
    if (!(utc ? gmtime_r(&time, &date) : localtime_r(&time, &date))) {
        lua_pushnil(ls);
        return 1;
    }
    if (std::strcmp(format, "*t") == 0) {
        lua_createtable(ls, 0, 9);
        setDateField(ls, "sec", date.tm_sec);
        setDateField(ls, "min", date.tm_min);
        setDateField(ls, "hour", date.tm_hour);
        setDateField(ls, "day", date.tm_mday);
        setDateField(ls, "month", date.tm_mon + 1);
        setDateField(ls, "year", date.tm_year + 1900);
        setDateField(ls, "wday", date.tm_wday + 1);
        setDateField(ls, "yday", date.tm_yday + 1);
        lua_pushboolean(ls, date.tm_isdst);
        lua_setfield(ls, -2, "isdst");
        return 1;
    }
    luaL_Buffer text;
    luaL_buffinit(ls, &text);
    for (long n = 0; *format; ++format, ++n) {
        if (*format != '%' || format[1] == '\0') {
            luaL_addchar(&text, *format);
        } else {
            const char conversion[] = {'%', *++format, '\0'};
            char piece[200];
            luaL_addlstring(&text, piece, std::strftime(piece, sizeof piece, conversion, &date));
        }
        checkEvery(ls, n);
    }
    luaL_pushresult(&text);
    return 1;
}

int boundedRandom(lua_State* ls)
{
    const double fraction = nextRandom();
    switch (lua_gettop(ls)) {
    case 0:
        lua_pushnumber(ls, fraction);
        return 1;
    case 1: {
        const int upper = checkPosition(ls, 1);
        luaL_argcheck(ls, 1 <= upper, 1, "interval is empty");
        lua_pushnumber(ls, std::floor(fraction * upper) + 1);
        return 1;
    }
    case 2: {
        const int lower = checkPosition(ls, 1);
        const int upper = checkPosition(ls, 2);
        luaL_argcheck(ls, lower <= upper, 2, "interval is empty");
        lua_pushnumber(ls, std::floor(fraction * (lua_Number(upper) - lower + 1)) + lower);
        return 1;
    }
    default:
        return luaL_error(ls, "wrong number of arguments");
    }
}

int boundedRandomSeed(lua_State* ls)
{
    const lua_Number seed = luaL_checknumber(ls, 1);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &seed, sizeof bits);
    randomState = bits ^ 0x9e3779b97f4a7c15ULL;
    if (randomState == 0) // the one state xorshift never leaves
        randomState = 1;
    return 0;
}
