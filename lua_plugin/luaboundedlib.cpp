#include "luaboundedlib.h"

#include "lualimits.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

// Lua is used as its C build: these functions raise Lua errors (longjmp) and therefore hold
// no objects with destructors; a file descriptor is never open across a call that can raise.

namespace {

// What the parser gets between two looks at the clock (about a tenth of a millisecond).
constexpr std::size_t pieceSize = 64 * 1024;
// Lists up to this length sort within some tens of milliseconds with Lua's own comparison.
constexpr std::size_t sortWithoutChecks = 100000;
constexpr unsigned comparisonsPerCheck = 4096;
constexpr long long concatElementsPerCheck = 65536;
constexpr char fileHandle[] = "FILE*"; // the io library's metatable name
constexpr int defaultInput = 1;        // the io library's key of the default input

bool binaryChunksRefused = false;

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

// ---- string.rep and table.concat: sized first, then built in one block.

int boundedRep(lua_State* ls)
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
    enforceTimeLimit(ls);
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

int boundedConcat(lua_State* ls)
{
    std::size_t separatorLength = 0;
    const char* separator = luaL_optlstring(ls, 2, "", &separatorLength);
    luaL_checktype(ls, 1, LUA_TTABLE);
    const long long first = luaL_optint(ls, 3, 1);
    const long long last = luaL_opt(ls, luaL_checkint, 4, luaL_getn(ls, 1));
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
        if ((i - first) % concatElementsPerCheck == concatElementsPerCheck - 1)
            enforceTimeLimit(ls);
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
        if ((i - first) % concatElementsPerCheck == concatElementsPerCheck - 1)
            enforceTimeLimit(ls);
    }
    lua_pushlstring(ls, block, at);
    enforceTimeLimit(ls);
    return 1;
}

// ---- table.sort: a long list is compared by a function that looks at the time.

lua_CFunction originalSort = nullptr;
unsigned comparisons = 0;

int checkedLessThan(lua_State* ls)
{
    if (++comparisons % comparisonsPerCheck == 0)
        enforceTimeLimit(ls);
    lua_pushboolean(ls, lua_lessthan(ls, 1, 2));
    return 1;
}

int boundedSort(lua_State* ls)
{
    if (lua_type(ls, 1) == LUA_TTABLE && lua_isnoneornil(ls, 2) && lua_objlen(ls, 1) > sortWithoutChecks) {
        lua_settop(ls, 1);
        lua_pushcfunction(ls, checkedLessThan);
    }
    const int results = originalSort(ls);
    enforceTimeLimit(ls);
    return results;
}

// ---- Loading chunks: the parser gets its text in pieces, the clock looked at between them.

void refuseBinaryChunk(lua_State* ls, const char* text, std::size_t size)
{
    if (binaryChunksRefused && size > 0 && text[0] == LUA_SIGNATURE[0]) {
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

int boundedLoad(lua_State* ls)
{
    const char* chunkName = luaL_optstring(ls, 2, "=(load)");
    luaL_checktype(ls, 1, LUA_TFUNCTION);
    lua_settop(ls, 3); // reader, name, the reader's current string
    ReaderPieces reader{0, false};
    return loadResults(ls, lua_load(ls, nextPieceOfReader, &reader, chunkName));
}

int boundedLoadString(lua_State* ls)
{
    std::size_t size = 0;
    const char* text = luaL_checklstring(ls, 1, &size);
    const char* chunkName = luaL_optstring(ls, 2, text);
    return loadResults(ls, loadText(ls, text, size, chunkName));
}

bool pushFileError(lua_State* ls, const char* what, const char* path, const char* reason)
{
    lua_pushfstring(ls, "cannot %s %s: %s", what, path, reason);
    return false;
}

// Reads the regular file at path whole into a new userdata on the stack, or pushes a
// message. The descriptor is open only between open() and close(), with no Lua call there.
bool pushFileText(lua_State* ls, const char* path, const char** text, std::size_t* size)
{
    struct stat info{};
    if (::stat(path, &info) != 0)
        return pushFileError(ls, "open", path, std::strerror(errno));
    if (!S_ISREG(info.st_mode))
        return pushFileError(ls, "open", path, "not a regular file");
    const std::size_t expected = std::size_t(info.st_size);
    if (expected >= SIZE_MAX / 2 || !roomFor(ls, expected + 1))
        return pushFileError(ls, "read", path, "not enough memory");
    // One byte more than expected: a file that grew is noticed, not cut.
    auto* buffer = static_cast<char*>(lua_newuserdata(ls, expected + 1));
    const int fd = ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        lua_pop(ls, 1);
        return pushFileError(ls, "open", path, std::strerror(error));
    }
    struct stat opened{};
    const bool regular = ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode);
    std::size_t got = 0;
    int error = 0;
    while (regular && got <= expected) {
        const ssize_t n = ::read(fd, buffer + got, expected + 1 - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    ::close(fd);
    if (!regular || error || got > expected) {
        lua_pop(ls, 1);
        return pushFileError(ls, regular ? "read" : "open", path,
                             !regular ? "not a regular file"
                             : error  ? std::strerror(error)
                                      : "the file grew while it was read");
    }
    *text = buffer;
    *size = got;
    return true;
}

// Pushes the file's chunk (0) or a message (non-zero), as luaL_loadfile does.
int loadFileChunk(lua_State* ls, const char* path)
{
    const char* text = nullptr;
    std::size_t size = 0;
    if (!pushFileText(ls, path, &text, &size)) // text or message
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

lua_CFunction originalLoadFile = nullptr;
lua_CFunction originalDoFile = nullptr;

// Without a file name both read the client's standard input.
int fromStandardInput(lua_State* ls, lua_CFunction original)
{
    if (binaryChunksRefused)
        return luaL_error(ls, "reading a chunk from standard input is not available to scripts (sandbox in [Limits] "
                              "of luaconfig.ini)");
    return original(ls);
}

int boundedLoadFile(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1))
        return fromStandardInput(ls, originalLoadFile);
    return loadResults(ls, loadFileChunk(ls, luaL_checkstring(ls, 1)));
}

int boundedDoFile(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1))
        return fromStandardInput(ls, originalDoFile);
    const char* path = luaL_checkstring(ls, 1);
    const int top = lua_gettop(ls);
    if (loadFileChunk(ls, path) != 0)
        return lua_error(ls);
    lua_call(ls, 0, LUA_MULTRET);
    return lua_gettop(ls) - top;
}

bool isRegularReadable(const char* path)
{
    struct stat info{};
    return ::stat(path, &info) == 0 && S_ISREG(info.st_mode) && ::access(path, R_OK) == 0;
}

// package.loaders[2]: finds the module along package.path as Lua's own loader does,
// taking only regular files, and loads it bounded. Upvalue: the package table.
int boundedLuaLoader(lua_State* ls)
{
    const char* module = luaL_checkstring(ls, 1);
    const char* name = luaL_gsub(ls, module, ".", LUA_DIRSEP); // module, name
    lua_getfield(ls, lua_upvalueindex(1), "path");            // module, name, path
    const char* path = lua_tostring(ls, -1);
    if (!path)
        return luaL_error(ls, "'package.path' must be a string");
    lua_pushliteral(ls, ""); // module, name, path, tried
    while (*path) {
        if (*path == *LUA_PATHSEP) {
            ++path;
            continue;
        }
        const char* end = std::strchr(path, *LUA_PATHSEP);
        if (!end)
            end = path + std::strlen(path);
        lua_pushlstring(ls, path, std::size_t(end - path));                   // ..., tried, template
        const char* fileName = luaL_gsub(ls, lua_tostring(ls, -1), LUA_PATH_MARK, name); // ..., template, file
        lua_remove(ls, -2);                                                    // ..., tried, file
        path = end;
        if (isRegularReadable(fileName)) {
            if (loadFileChunk(ls, fileName) != 0) // ..., file, chunk or message
                return luaL_error(ls, "error loading module '%s' from file '%s':\n\t%s", module, fileName,
                                  lua_tostring(ls, -1));
            return 1;
        }
        lua_pushfstring(ls, "\n\tno file '%s'", fileName); // ..., tried, file, entry
        lua_remove(ls, -2);                                // ..., tried, entry
        lua_concat(ls, 2);                                 // ..., tried
    }
    return 1; // what was tried
}

// ---- io: files open without waiting, and reads sized by the file.

// open(2) flags for an fopen mode; -1 for a mode fopen refuses.
int openFlags(const char* mode)
{
    const bool update = std::strchr(mode, '+') != nullptr;
    switch (mode[0]) {
    case 'r': return update ? O_RDWR : O_RDONLY;
    case 'w': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    case 'a': return (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    default: return -1;
    }
}

bool isNullDevice(const struct stat& info)
{
    return S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

// Pushes a new file for path as io.open's results: the file, or nil, message and error
// number. Called only from functions that share the io library's environment, which the
// new file takes as its own (its close function is there).
int pushOpenedFile(lua_State* ls, const char* path, const char* mode)
{
    auto* handle = static_cast<FILE**>(lua_newuserdata(ls, sizeof(FILE*))); // file
    *handle = nullptr;
    luaL_getmetatable(ls, fileHandle); // file, metatable
    lua_setmetatable(ls, -2);          // file
    const int flags = openFlags(mode);
    int error = EINVAL;
    bool regular = true;
    if (flags >= 0) {
        // Opening a FIFO for reading would wait for a writer: O_NONBLOCK until the type is known.
        const int fd = ::open(path, flags | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0666);
        error = errno;
        struct stat info{};
        if (fd >= 0 && (::fstat(fd, &info) != 0 || !(S_ISREG(info.st_mode) || isNullDevice(info)))) {
            regular = false;
        } else if (fd >= 0) {
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
            *handle = ::fdopen(fd, mode);
            error = errno;
        }
        if (fd >= 0 && !*handle)
            ::close(fd);
    }
    if (*handle)
        return 1;
    lua_pushnil(ls);
    lua_pushfstring(ls, "%s: %s", path, regular ? std::strerror(error) : "not a regular file");
    lua_pushinteger(ls, regular ? error : 0);
    return 3;
}

int boundedOpen(lua_State* ls)
{
    const char* path = luaL_checkstring(ls, 1);
    const char* mode = luaL_optstring(ls, 2, "r");
    return pushOpenedFile(ls, path, mode);
}

// Upvalues: the file and its lines iterator; the file closes when the lines end.
int linesClosingAtEnd(lua_State* ls)
{
    lua_pushvalue(ls, lua_upvalueindex(2)); // iterator
    lua_call(ls, 0, 1);                     // line?
    if (lua_isnil(ls, -1)) {
        lua_getfield(ls, lua_upvalueindex(1), "close"); // nil, close
        lua_pushvalue(ls, lua_upvalueindex(1));         // nil, close, file
        lua_call(ls, 1, 0);                             // nil
    }
    return 1;
}

lua_CFunction originalLines = nullptr;

int boundedLines(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1))
        return originalLines(ls); // the default input's lines
    const char* path = luaL_checkstring(ls, 1);
    if (pushOpenedFile(ls, path, "r") != 1) // nil, message, number
        return luaL_argerror(ls, 1, lua_tostring(ls, -2));
    lua_getfield(ls, -1, "lines"); // file, lines
    lua_pushvalue(ls, -2);         // file, lines, file
    lua_call(ls, 1, 1);            // file, iterator
    lua_pushcclosure(ls, linesClosingAtEnd, 2);
    return 1;
}

// io.input and io.output: a file name opens as above, then the library's own function
// makes the file the default.
lua_CFunction originalInput = nullptr;
lua_CFunction originalOutput = nullptr;

int setDefaultFile(lua_State* ls, const char* mode, lua_CFunction original)
{
    const int type = lua_type(ls, 1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        const char* path = lua_tostring(ls, 1);
        if (pushOpenedFile(ls, path, mode) != 1)
            return luaL_argerror(ls, 1, lua_tostring(ls, -2));
        lua_replace(ls, 1);
        lua_settop(ls, 1);
    }
    return original(ls);
}

int boundedInput(lua_State* ls)
{
    return setDefaultFile(ls, "r", originalInput);
}

int boundedOutput(lua_State* ls)
{
    return setDefaultFile(ls, "w", originalOutput);
}

lua_CFunction originalRead = nullptr;

// One format of a read of the file at 1: "*a" and counts read what the file holds (at most
// the count) in one block, checked against the cap; other formats, and files that are not
// regular, go to the library's read. Pushes the result; false when it is nil.
bool readOne(lua_State* ls, FILE* file, int format)
{
    bool all = false;
    std::size_t wanted = 0;
    if (lua_type(ls, format) == LUA_TNUMBER) {
        const lua_Number count = lua_tonumber(ls, format);
        wanted = count >= lua_Number(SIZE_MAX / 4) ? SIZE_MAX / 4 : count >= 1 ? std::size_t(count) : 0;
    } else if (const char* text = lua_tostring(ls, format)) {
        all = text[0] == '*' && text[1] == 'a';
    }
    struct stat info{};
    const off_t at = (all || wanted > 0) ? ::ftello(file) : -1;
    if (at < 0 || ::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        lua_pushcfunction(ls, originalRead); // read
        lua_pushvalue(ls, 1);                // read, file
        lua_pushvalue(ls, format);           // read, file, format
        lua_call(ls, 2, 1);                  // result
        return !lua_isnil(ls, -1);
    }
    std::size_t size = info.st_size > at ? std::size_t(info.st_size - at) : 0;
    if (!all)
        size = std::min(size, wanted);
    if (!fitsTwice(ls, size))
        memoryError(ls);
    auto* buffer = static_cast<char*>(lua_newuserdata(ls, size)); // buffer
    const std::size_t got = std::fread(buffer, 1, size, file);
    lua_pushlstring(ls, buffer, got); // buffer, text
    lua_remove(ls, -2);               // text
    enforceTimeLimit(ls);
    if (all || got > 0)
        return true;
    lua_pop(ls, 1);
    lua_pushnil(ls); // the end of the file, as the library says it
    return false;
}

// file:read(...), with the file at 1.
int boundedRead(lua_State* ls)
{
    auto* handle = static_cast<FILE**>(luaL_checkudata(ls, 1, fileHandle));
    if (!*handle)
        return luaL_error(ls, "attempt to use a closed file");
    const int formats = lua_gettop(ls) - 1;
    if (formats == 0)
        return originalRead(ls); // a line
    luaL_checkstack(ls, formats + LUA_MINSTACK, "too many arguments");
    int results = 0;
    while (results < formats && readOne(ls, *handle, 2 + results))
        ++results;
    if (std::ferror(*handle)) { // as the library says it: nil, the system's words, the number
        const int error = errno;
        lua_pushnil(ls);
        lua_pushstring(ls, std::strerror(error));
        lua_pushinteger(ls, error);
        return 3;
    }
    return results < formats ? results + 1 : formats; // up to the first that failed (nil)
}

// io.read(...): the same on the default input.
int boundedIoRead(lua_State* ls)
{
    lua_rawgeti(ls, LUA_ENVIRONINDEX, defaultInput); // ..., input
    lua_insert(ls, 1);                               // input, ...
    return boundedRead(ls);
}

// Functions of the io table replaced here share the library's environment: the files they
// make get its close function, and io.read finds the default input there.
lua_CFunction replaceIoFunction(lua_State* ls, const char* name, lua_CFunction replacement)
{
    lua_getglobal(ls, "io");     // io
    lua_getfield(ls, -1, name);  // io, original
    const lua_CFunction original = lua_tocfunction(ls, -1);
    lua_getfield(ls, -2, "open"); // io, original, open
    lua_getfenv(ls, -1);          // io, original, open, environment
    lua_pushcfunction(ls, replacement); // io, original, open, environment, replacement
    lua_insert(ls, -2);                 // io, original, open, replacement, environment
    lua_setfenv(ls, -2);                // io, original, open, replacement
    lua_setfield(ls, -4, name);         // io, original, open
    lua_pop(ls, 3);                     // (empty)
    return original;
}

void boundIo(lua_State* ls)
{
    originalInput = replaceIoFunction(ls, "input", boundedInput);
    originalOutput = replaceIoFunction(ls, "output", boundedOutput);
    originalLines = replaceIoFunction(ls, "lines", boundedLines);
    replaceIoFunction(ls, "read", boundedIoRead);
    replaceIoFunction(ls, "open", boundedOpen);

    luaL_getmetatable(ls, fileHandle); // methods
    lua_getfield(ls, -1, "read");      // methods, read
    originalRead = lua_tocfunction(ls, -1);
    lua_pop(ls, 1);                       // methods
    lua_pushcfunction(ls, boundedRead);   // methods, bounded read
    lua_setfield(ls, -2, "read");         // methods
    lua_pop(ls, 1);                       // (empty)
}

void boundLoaders(lua_State* ls)
{
    replaceFunction(ls, nullptr, "load", boundedLoad);
    replaceFunction(ls, nullptr, "loadstring", boundedLoadString);
    originalLoadFile = replaceFunction(ls, nullptr, "loadfile", boundedLoadFile);
    originalDoFile = replaceFunction(ls, nullptr, "dofile", boundedDoFile);

    lua_getglobal(ls, "package");       // package
    lua_getfield(ls, -1, "loaders");    // package, loaders
    lua_pushvalue(ls, -2);              // package, loaders, package
    lua_pushcclosure(ls, boundedLuaLoader, 1); // package, loaders, loader
    lua_rawseti(ls, -2, 2);             // package, loaders
    lua_pop(ls, 2);                     // (empty)
}

// ---- Functions whose work grows with their input (at most the cap): the time is checked
// right after them.

struct CheckedFunction
{
    const char* table; // null: a global
    const char* name;
};
constexpr CheckedFunction checkedFunctions[] = {
    {"string", "upper"}, {"string", "lower"}, {"string", "reverse"}, {"string", "sub"},
    {"string", "format"}, {"string", "byte"}, {"string", "char"},   {"table", "insert"},
    {"table", "remove"}, {"table", "maxn"},   {nullptr, "unpack"},  {nullptr, "collectgarbage"},
};
constexpr std::size_t checkedCount = sizeof checkedFunctions / sizeof checkedFunctions[0];
lua_CFunction checkedOriginals[checkedCount] = {};

template <std::size_t Index>
int checkedAfter(lua_State* ls)
{
    const int results = checkedOriginals[Index](ls);
    enforceTimeLimit(ls);
    return results;
}

template <std::size_t... Index>
constexpr std::array<lua_CFunction, checkedCount> makeCheckedWrappers(std::index_sequence<Index...>)
{
    return {checkedAfter<Index>...};
}
constexpr auto checkedWrappers = makeCheckedWrappers(std::make_index_sequence<checkedCount>{});

} // namespace

lua_CFunction replaceFunction(lua_State* ls, const char* table, const char* name, lua_CFunction replacement)
{
    if (table)
        lua_getglobal(ls, table); // table
    else
        lua_pushvalue(ls, LUA_GLOBALSINDEX);
    lua_getfield(ls, -1, name); // table, original
    const lua_CFunction original = lua_tocfunction(ls, -1);
    lua_pop(ls, 1);                     // table
    lua_pushcfunction(ls, replacement); // table, replacement
    lua_setfield(ls, -2, name);         // table
    lua_pop(ls, 1);                     // (empty)
    return original;
}

void installBoundedFunctions(lua_State* ls, bool refuseBinaryChunks)
{
    binaryChunksRefused = refuseBinaryChunks;
    for (std::size_t n = 0; n < checkedCount; ++n)
        checkedOriginals[n] =
            replaceFunction(ls, checkedFunctions[n].table, checkedFunctions[n].name, checkedWrappers[n]);
    replaceFunction(ls, "string", "rep", boundedRep);
    replaceFunction(ls, "table", "concat", boundedConcat);
    originalSort = replaceFunction(ls, "table", "sort", boundedSort);
    boundLoaders(ls);
    boundIo(ls);
}

void loadBoundedFile(lua_State* ls, const char* path)
{
    if (loadFileChunk(ls, path) != 0)
        lua_error(ls);
}
