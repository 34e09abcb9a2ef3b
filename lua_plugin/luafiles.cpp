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
#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fcntl.h>
#include <linux/openat2.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

constexpr char fileHandle[] = "FILE*"; // the io library's metatable name
constexpr int defaultInput = 1; // the io library's key of the default input
// Lines and unsized reads look at the clock after this many bytes.
constexpr std::size_t bytesPerCheck = 1 << 20;
// A number in a file is at most this long (a longer one is read as far as this).
constexpr std::size_t maxNumberLength = 200;
// The client's output takes at most this much in one write (what a pipe that is ready
// takes without blocking).
constexpr std::size_t outputPiece = 4096;
constexpr char outsideFolders[] = "outside the folders scripts may use (sandbox in [Limits] of luaconfig.ini)";

// The folders of the state in use, as descriptors the kernel resolves paths beneath.
struct ScriptFolders
{
    int scripts = -1;
    int data = -1; // opened when first needed
    char scriptsPath[hostPathSize] = "";
    std::size_t scriptsLength = 0;
};
ScriptFolders folders;

// The files scripts have open; a state holds at most maxScriptFiles.
FILE* openFiles[maxScriptFiles] = {};

char fileEnvironmentKey; // its address keys the files' environment in the registry

int openBeneath(int folder, const char* path, int flags)
{
    open_how how{};
    how.flags = std::uint64_t(flags);
    how.mode = (flags & O_CREAT) ? 0666 : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS;
    return int(::syscall(SYS_openat2, folder, path, &how, sizeof how));
}

// The data folder's descriptor, made when create asks for it; -1 with errno set.
int dataFolder(bool create)
{
    if (folders.data >= 0)
        return folders.data;
    if (folders.scripts < 0) {
        errno = ENOENT;
        return -1;
    }
    if (create && ::mkdirat(folders.scripts, scriptDataFolder, 0700) != 0 && errno != EEXIST)
        return -1;
    open_how how{};
    how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
    folders.data = int(::syscall(SYS_openat2, folders.scripts, scriptDataFolder, &how, sizeof how));
    return folders.data;
}

bool startsWith(const char* path, const char* prefix, std::size_t length)
{
    return std::strncmp(path, prefix, length) == 0;
}

// Where a confined path is resolved: the folder's descriptor and the path beneath it.
// Which folder the path names is read from its text; the kernel then keeps the
// resolution beneath that folder. False with errno EXDEV for a path outside.
bool resolveScriptPath(const char* path, bool write, int* folder, const char** rest)
{
    if (path[0] != '/') {
        *folder = dataFolder(write);
        *rest = path;
    } else if (startsWith(path, folders.scriptsPath, folders.scriptsLength) &&
               startsWith(path + folders.scriptsLength, scriptDataFolder, sizeof scriptDataFolder - 1) &&
               path[folders.scriptsLength + sizeof scriptDataFolder - 1] == '/') {
        *folder = dataFolder(write);
        *rest = path + folders.scriptsLength + sizeof scriptDataFolder;
    } else if (!write && startsWith(path, folders.scriptsPath, folders.scriptsLength)) {
        *folder = folders.scripts;
        *rest = path + folders.scriptsLength;
        if (*folder < 0)
            errno = ENOENT; // the scripts folder could not be opened
    } else {
        errno = EXDEV;
        return false;
    }
    if (**rest == '\0')
        *rest = ".";
    return *folder >= 0;
}

bool isNullDevice(const struct stat& info)
{
    return S_ISCHR(info.st_mode) && info.st_rdev == makedev(1, 3);
}

// A descriptor for path as scripts may open it (never waiting: O_NONBLOCK), or -1 with errno.
int openScriptPath(const char* path, int flags, bool confined)
{
    flags |= O_CLOEXEC | O_NOCTTY | O_NONBLOCK;
    if (!confined || std::strcmp(path, "/dev/null") == 0)
        return ::open(path, flags, 0666);
    int folder = -1;
    const char* rest = nullptr;
    const bool write = (flags & (O_WRONLY | O_RDWR | O_CREAT | O_TRUNC | O_APPEND)) != 0;
    if (!resolveScriptPath(path, write, &folder, &rest))
        return -1;
    return openBeneath(folder, rest, flags);
}

// What went wrong with a path, in words.
const char* pathError(int error, bool confined)
{
    return confined && error == EXDEV ? outsideFolders : std::strerror(error);
}

// Results as the io and os libraries give them: true, or nil, "path: why" and the number.
int pushResult(lua_State* ls, bool ok, const char* path, int error)
{
    if (ok) {
        lua_pushboolean(ls, 1);
        return 1;
    }
    lua_pushnil(ls);
    if (path)
        lua_pushfstring(ls, "%s: %s", path, pathError(error, sandboxActive()));
    else
        lua_pushstring(ls, std::strerror(error));
    lua_pushinteger(ls, error);
    return 3;
}

int freeFileSlot()
{
    for (int n = 0; n < maxScriptFiles; ++n) {
        if (!openFiles[n])
            return n;
    }
    return -1;
}

void forgetFile(FILE* file)
{
    for (FILE*& slot : openFiles) {
        if (slot == file)
            slot = nullptr;
    }
}

// The files' __close (the io library's close, io.close and the collector call it with the
// file at 1): closes the file and frees its place.
int closeScriptFile(lua_State* ls)
{
    auto* handle = static_cast<FILE**>(lua_touserdata(ls, 1));
    FILE* file = *handle;
    *handle = nullptr;
    forgetFile(file);
    const bool ok = std::fclose(file) == 0;
    return pushResult(ls, ok, nullptr, errno);
}

// Opens path for a new file on the stack: io.open's results, the file or nil, message and
// error number.
int pushOpenedFile(lua_State* ls, const char* path, const char* mode)
{
    const int slot = freeFileSlot();
    if (slot < 0) {
        lua_pushnil(ls);
        lua_pushfstring(ls, "%s: too many open files (a state holds at most %d)", path, maxScriptFiles);
        lua_pushinteger(ls, EMFILE);
        return 3;
    }
    auto* handle = static_cast<FILE**>(lua_newuserdata(ls, sizeof(FILE*))); // file
    *handle = nullptr;
    luaL_getmetatable(ls, fileHandle);              // file, metatable
    lua_setmetatable(ls, -2);                       // file
    lua_pushlightuserdata(ls, &fileEnvironmentKey); // file, key
    lua_rawget(ls, LUA_REGISTRYINDEX);              // file, environment
    lua_setfenv(ls, -2);                            // file
    const bool update = std::strchr(mode, '+') != nullptr;
    int flags = -1;
    switch (mode[0]) {
    case 'r': flags = update ? O_RDWR : O_RDONLY; break;
    case 'w': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
    case 'a': flags = (update ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
    default: break;
    }
    int error = EINVAL;
    bool regular = true;
    if (flags >= 0) {
        const int fd = openScriptPath(path, flags, sandboxActive());
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
    if (*handle) {
        openFiles[slot] = *handle;
        return 1;
    }
    lua_pushnil(ls);
    lua_pushfstring(ls, "%s: %s", path, regular ? pathError(error, sandboxActive()) : "not a regular file");
    lua_pushinteger(ls, regular ? error : 0);
    return 3;
}

FILE* checkOpenFile(lua_State* ls, int index)
{
    auto* handle = static_cast<FILE**>(luaL_checkudata(ls, index, fileHandle));
    if (!*handle)
        luaL_error(ls, "attempt to use a closed file");
    return *handle;
}

// ---- Reading: every format is read here, in pieces the clock is looked at between, and
// what a read makes is a Lua string (counted).

// Reads at most limit bytes (all when limit is SIZE_MAX) in pieces; pushes them.
void readPieces(lua_State* ls, FILE* file, std::size_t limit)
{
    luaL_Buffer buffer;
    luaL_buffinit(ls, &buffer);
    std::size_t sinceCheck = 0;
    while (limit > 0) {
        char* piece = luaL_prepbuffer(&buffer);
        const std::size_t wanted = std::min<std::size_t>(LUAL_BUFFERSIZE, limit);
        const std::size_t got = std::fread(piece, 1, wanted, file);
        luaL_addsize(&buffer, got);
        limit -= got;
        sinceCheck += got;
        if (got < wanted)
            break;
        if (sinceCheck >= bytesPerCheck) {
            sinceCheck = 0;
            enforceTimeLimit(ls);
        }
    }
    luaL_pushresult(&buffer);
}

// "*a" (limit SIZE_MAX) and counts: a regular file's rest is read in one block whose size
// is checked against the cap first; anything else in pieces. Pushes what was read.
void readBlock(lua_State* ls, FILE* file, std::size_t limit)
{
    struct stat info{};
    const off_t at = ::ftello(file);
    if (at < 0 || ::fstat(::fileno(file), &info) != 0 || !S_ISREG(info.st_mode)) {
        readPieces(ls, file, limit);
        return;
    }
    const std::size_t size = std::min(info.st_size > at ? std::size_t(info.st_size - at) : 0, limit);
    // Room for the block and for the string made from it.
    if (size > SIZE_MAX / 2 || !roomFor(ls, 2 * size)) {
        lua_pushliteral(ls, "not enough memory");
        lua_error(ls);
    }
    auto* block = static_cast<char*>(lua_newuserdata(ls, size)); // block
    const std::size_t got = std::fread(block, 1, size, file);
    lua_pushlstring(ls, block, got); // block, text
    lua_remove(ls, -2);              // text
    enforceTimeLimit(ls);
}

// One line without its newline; false at the end of the file.
bool readLine(lua_State* ls, FILE* file)
{
    luaL_Buffer buffer;
    luaL_buffinit(ls, &buffer);
    std::size_t sinceCheck = 0;
    for (;;) {
        char* piece = luaL_prepbuffer(&buffer);
        if (!std::fgets(piece, LUAL_BUFFERSIZE, file)) {
            luaL_pushresult(&buffer);
            return lua_objlen(ls, -1) > 0;
        }
        const std::size_t length = std::strlen(piece);
        if (length > 0 && piece[length - 1] == '\n') {
            luaL_addsize(&buffer, length - 1);
            luaL_pushresult(&buffer);
            return true;
        }
        luaL_addsize(&buffer, length);
        sinceCheck += length;
        if (sinceCheck >= bytesPerCheck) {
            sinceCheck = 0;
            enforceTimeLimit(ls);
        }
    }
}

// The characters a number can go on with, as the C library reads one: digits (hex ones
// after "0x"), one point, and an exponent with its sign.
bool readNumber(lua_State* ls, FILE* file)
{
    int c = std::getc(file);
    std::size_t skipped = 0;
    while (c != EOF && std::isspace(c)) {
        if (++skipped % bytesPerCheck == 0)
            enforceTimeLimit(ls);
        c = std::getc(file);
    }
    char text[maxNumberLength + 1];
    std::size_t length = 0;
    const auto take = [&](bool wanted) {
        if (!wanted || c == EOF || length == maxNumberLength)
            return false;
        text[length++] = char(c);
        c = std::getc(file);
        return true;
    };
    take(c == '+' || c == '-');
    bool hex = false;
    if (take(c == '0') && take(c == 'x' || c == 'X'))
        hex = true;
    bool point = false;
    while (take(hex ? std::isxdigit(c) : std::isdigit(c)) || (!point && (point = take(c == '.')))) {
    }
    if (take(hex ? (c == 'p' || c == 'P') : (c == 'e' || c == 'E'))) {
        take(c == '+' || c == '-');
        while (take(std::isdigit(c))) {
        }
    }
    if (c != EOF)
        std::ungetc(c, file);
    text[length] = '\0';
    char* end = nullptr;
    const double value = std::strtod(text, &end);
    if (length > 0 && end == text + length) {
        lua_pushnumber(ls, value);
        return true;
    }
    lua_pushnil(ls);
    return false;
}

// One format of file:read at index format; pushes its result, false when it is nil.
bool readFormat(lua_State* ls, FILE* file, int format)
{
    if (lua_type(ls, format) == LUA_TNUMBER) {
        const lua_Number count = lua_tonumber(ls, format);
        if (!(count >= 1)) { // 0 (and below, NaN): whether the file has more
            const int c = std::getc(file);
            std::ungetc(c, file);
            lua_pushliteral(ls, "");
            return c != EOF;
        }
        readBlock(ls, file, count >= lua_Number(SIZE_MAX / 4) ? SIZE_MAX / 4 : std::size_t(count));
        return lua_objlen(ls, -1) > 0;
    }
    const char* text = lua_tostring(ls, format);
    if (!text || text[0] != '*') {
        luaL_argerror(ls, format, "invalid option");
        return false;
    }
    switch (text[1]) {
    case 'n': return readNumber(ls, file);
    case 'l': return readLine(ls, file);
    case 'a': readBlock(ls, file, SIZE_MAX); return true;
    default: luaL_argerror(ls, format, "invalid format"); return false;
    }
}

// file:read(...) with the file at index 1 (io.read puts the default input there).
int readFile(lua_State* ls, FILE* file)
{
    const int formats = lua_gettop(ls) - 1;
    std::clearerr(file);
    if (formats == 0) {
        if (!readLine(ls, file)) {
            lua_pop(ls, 1);
            lua_pushnil(ls);
        }
        return 1;
    }
    luaL_checkstack(ls, formats + LUA_MINSTACK, "too many arguments");
    int results = 0;
    bool success = true;
    while (success && results < formats) {
        success = readFormat(ls, file, 2 + results);
        ++results;
    }
    if (std::ferror(file))
        return pushResult(ls, false, nullptr, errno);
    if (!success) {
        lua_pop(ls, 1);
        lua_pushnil(ls);
    }
    return results;
}

// Upvalues: the file, and whether it closes at the end of its lines (io.lines).
int nextLine(lua_State* ls)
{
    auto* handle = static_cast<FILE**>(lua_touserdata(ls, lua_upvalueindex(1)));
    if (!*handle)
        return luaL_error(ls, "file is already closed");
    if (readLine(ls, *handle))
        return 1;
    if (std::ferror(*handle))
        return luaL_error(ls, "%s", std::strerror(errno));
    if (lua_toboolean(ls, lua_upvalueindex(2))) {
        lua_settop(ls, 0);
        lua_pushvalue(ls, lua_upvalueindex(1)); // file
        closeScriptFile(ls);
    }
    return 0;
}

void pushLineIterator(lua_State* ls, int file, bool closeAtEnd)
{
    lua_pushvalue(ls, file);             // file
    lua_pushboolean(ls, closeAtEnd);     // file, close?
    lua_pushcclosure(ls, nextLine, 2);   // iterator
}

// ---- What the io library gets besides, without the sandbox: the functions that read or
// set the default files open and read as above.

lua_CFunction libraryLines = nullptr;
lua_CFunction libraryInput = nullptr;
lua_CFunction libraryOutput = nullptr;

int setDefaultFile(lua_State* ls, const char* mode, lua_CFunction library)
{
    const int type = lua_type(ls, 1);
    if (type == LUA_TSTRING || type == LUA_TNUMBER) {
        const char* path = lua_tostring(ls, 1);
        if (pushOpenedFile(ls, path, mode) != 1)
            return luaL_argerror(ls, 1, lua_tostring(ls, -2));
        lua_replace(ls, 1);
        lua_settop(ls, 1);
    }
    return library(ls);
}

int defaultInputFile(lua_State* ls)
{
    return setDefaultFile(ls, "r", libraryInput);
}

int defaultOutputFile(lua_State* ls)
{
    return setDefaultFile(ls, "w", libraryOutput);
}

int readDefaultInput(lua_State* ls)
{
    lua_rawgeti(ls, LUA_ENVIRONINDEX, defaultInput); // ..., input
    lua_insert(ls, 1);                               // input, ...
    return readFile(ls, checkOpenFile(ls, 1));
}

// io.name = replacement, sharing the library's environment, where the default files are.
lua_CFunction replaceIoFunction(lua_State* ls, const char* name, lua_CFunction replacement)
{
    lua_getglobal(ls, "io");     // io
    lua_getfield(ls, -1, name);  // io, library
    const lua_CFunction library = lua_tocfunction(ls, -1);
    lua_getfenv(ls, -1);                // io, library, environment
    lua_pushcfunction(ls, replacement); // io, library, environment, replacement
    lua_insert(ls, -2);                 // io, library, replacement, environment
    lua_setfenv(ls, -2);                // io, library, replacement
    lua_setfield(ls, -3, name);         // io, library
    lua_pop(ls, 2);                     // (empty)
    return library;
}

// ---- Removing and renaming: the folder a name is in, opened beneath the data folder.

struct PlaceOfName
{
    int folder;       // an O_PATH descriptor, or -1
    const char* name; // the last component
};

// Opens the folder of a confined path's last component into place; false with errno.
bool openPlaceOfName(const char* path, char (&folderPath)[hostPathSize], PlaceOfName* place)
{
    int root = -1;
    const char* rest = nullptr;
    if (!resolveScriptPath(path, true, &root, &rest))
        return false;
    const char* slash = std::strrchr(rest, '/');
    const std::size_t folderLength = slash ? std::size_t(slash - rest) : 0;
    place->name = slash ? slash + 1 : rest;
    if (!*place->name || std::strcmp(place->name, ".") == 0 || std::strcmp(place->name, "..") == 0) {
        errno = EINVAL;
        return false;
    }
    if (folderLength >= sizeof folderPath) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(folderPath, rest, folderLength);
    folderPath[folderLength] = '\0';
    place->folder = openBeneath(root, folderLength ? folderPath : ".", O_PATH | O_DIRECTORY | O_CLOEXEC);
    return place->folder >= 0;
}

} // namespace

void openScriptFolders(const char* scriptsFolder)
{
    closeScriptFiles();
    std::snprintf(folders.scriptsPath, sizeof folders.scriptsPath, "%s", scriptsFolder);
    folders.scriptsLength = std::strlen(folders.scriptsPath);
    folders.scripts = ::open(scriptsFolder, O_PATH | O_DIRECTORY | O_CLOEXEC);
}

void closeScriptFiles()
{
    for (FILE*& file : openFiles) {
        if (file)
            std::fclose(file);
        file = nullptr;
    }
    for (int* fd : {&folders.data, &folders.scripts}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void installScriptFiles(lua_State* ls)
{
    lua_pushlightuserdata(ls, &fileEnvironmentKey); // key
    lua_createtable(ls, 0, 1);                      // key, environment
    lua_pushcfunction(ls, closeScriptFile);         // key, environment, close
    lua_setfield(ls, -2, "__close");                // key, environment
    lua_rawset(ls, LUA_REGISTRYINDEX);              // (empty)
    if (sandboxActive())
        return;
    lua_getglobal(ls, "io");           // io
    lua_getfield(ls, -1, "lines");     // io, lines
    libraryLines = lua_tocfunction(ls, -1);
    lua_pop(ls, 2);                    // (empty)
    libraryInput = replaceIoFunction(ls, "input", defaultInputFile);
    libraryOutput = replaceIoFunction(ls, "output", defaultOutputFile);
    replaceIoFunction(ls, "read", readDefaultInput);
}

bool pushFileText(lua_State* ls, const char* path, bool confined, const char** text, std::size_t* size)
{
    // Sized first with a descriptor closed again at once: none may stay open across the
    // allocation, which can raise.
    struct stat info{};
    int fd = openScriptPath(path, O_RDONLY, confined);
    if (fd < 0 || ::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = fd < 0 ? errno : 0;
        if (fd >= 0)
            ::close(fd);
        lua_pushfstring(ls, "cannot open %s: %s", path, error ? pathError(error, confined) : "not a regular file");
        return false;
    }
    ::close(fd);
    const std::size_t expected = std::size_t(info.st_size);
    if (expected >= SIZE_MAX / 2 || !roomFor(ls, expected + 1)) {
        lua_pushfstring(ls, "cannot read %s: not enough memory", path);
        return false;
    }
    // One byte more than expected: a file that grew is noticed, not cut.
    auto* buffer = static_cast<char*>(lua_newuserdata(ls, expected + 1));
    fd = openScriptPath(path, O_RDONLY, confined);
    struct stat opened{};
    const bool same = fd >= 0 && ::fstat(fd, &opened) == 0 && opened.st_dev == info.st_dev && opened.st_ino == info.st_ino;
    std::size_t got = 0;
    int error = fd < 0 ? errno : 0;
    while (same && got <= expected) {
        const ssize_t n = ::read(fd, buffer + got, expected + 1 - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            error = errno;
        if (n <= 0)
            break;
        got += std::size_t(n);
    }
    if (fd >= 0)
        ::close(fd);
    if (!same || error || got > expected) {
        lua_pop(ls, 1);
        lua_pushfstring(ls, "cannot read %s: %s", path,
                        error ? pathError(error, confined) : !same ? "the file changed while it was read"
                                                                   : "the file grew while it was read");
        return false;
    }
    *text = buffer;
    *size = got;
    return true;
}

bool isScriptFile(const char* path)
{
    const int fd = openScriptPath(path, O_RDONLY, sandboxActive());
    if (fd < 0)
        return false;
    struct stat info{};
    const bool regular = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    ::close(fd);
    return regular;
}

void writeToOutput(lua_State* ls, const char* text, std::size_t size)
{
    std::fflush(stdout); // the plug-in's own lines first
    while (size > 0) {
        enforceTimeLimit(ls); // an output that takes every piece, but slowly
        pollfd output{STDOUT_FILENO, POLLOUT, 0};
        const long left = remainingMs();
        const int ready = ::poll(&output, 1, left < 0 ? -1 : int(std::min(left, 1L << 30)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready == 0)
            raiseTimeLimit(ls);
        // No reader (writing would raise SIGPIPE), or no output at all.
        if (ready < 0 || (output.revents & (POLLERR | POLLHUP | POLLNVAL)))
            return;
        const ssize_t written = ::write(STDOUT_FILENO, text, std::min(size, outputPiece));
        if (written < 0 && (errno == EINTR || errno == EAGAIN))
            continue;
        if (written < 0)
            return;
        text += written;
        size -= std::size_t(written);
    }
}

int scriptOpen(lua_State* ls)
{
    const char* path = luaL_checkstring(ls, 1);
    const char* mode = luaL_optstring(ls, 2, "r");
    return pushOpenedFile(ls, path, mode);
}

int scriptLines(lua_State* ls)
{
    if (lua_isnoneornil(ls, 1) && !sandboxActive())
        return libraryLines(ls); // the default input's lines
    const char* path = luaL_checkstring(ls, 1);
    if (pushOpenedFile(ls, path, "r") != 1) // nil, message, number
        return luaL_argerror(ls, 1, lua_tostring(ls, -2));
    pushLineIterator(ls, lua_gettop(ls), true);
    return 1;
}

int scriptRead(lua_State* ls)
{
    return readFile(ls, checkOpenFile(ls, 1));
}

int scriptFileLines(lua_State* ls)
{
    checkOpenFile(ls, 1);
    pushLineIterator(ls, 1, false);
    return 1;
}

int scriptWrite(lua_State* ls)
{
    const int last = lua_gettop(ls);
    for (int n = 1; n <= last; ++n) {
        std::size_t length = 0;
        const char* text = luaL_checklstring(ls, n, &length); // numbers as Lua formats them
        writeToOutput(ls, text, length);
    }
    lua_pushboolean(ls, 1);
    return 1;
}

int scriptPrint(lua_State* ls)
{
    const int count = lua_gettop(ls);
    lua_getglobal(ls, "tostring"); // arguments..., tostring
    luaL_Buffer line;
    luaL_buffinit(ls, &line);
    for (int n = 1; n <= count; ++n) {
        lua_pushvalue(ls, count + 1); // ..., tostring
        lua_pushvalue(ls, n);         // ..., tostring, argument
        lua_call(ls, 1, 1);           // ..., text
        if (!lua_isstring(ls, -1))
            return luaL_error(ls, "'tostring' must return a string to 'print'");
        if (n > 1)
            luaL_addchar(&line, '\t');
        luaL_addvalue(&line);
    }
    luaL_addchar(&line, '\n');
    luaL_pushresult(&line); // ..., line
    std::size_t length = 0;
    const char* text = lua_tolstring(ls, -1, &length);
    writeToOutput(ls, text, length);
    return 0;
}

int scriptRemove(lua_State* ls)
{
    const char* path = luaL_checkstring(ls, 1);
    if (!sandboxActive())
        return pushResult(ls, std::remove(path) == 0, path, errno);
    char folderPath[hostPathSize];
    PlaceOfName place{-1, nullptr};
    bool ok = openPlaceOfName(path, folderPath, &place);
    if (ok && ::unlinkat(place.folder, place.name, 0) != 0)
        ok = errno == EISDIR && ::unlinkat(place.folder, place.name, AT_REMOVEDIR) == 0;
    const int error = errno;
    if (place.folder >= 0)
        ::close(place.folder);
    return pushResult(ls, ok, path, error);
}

int scriptRename(lua_State* ls)
{
    const char* from = luaL_checkstring(ls, 1);
    const char* to = luaL_checkstring(ls, 2);
    if (!sandboxActive())
        return pushResult(ls, std::rename(from, to) == 0, from, errno);
    char fromFolder[hostPathSize];
    char toFolder[hostPathSize];
    PlaceOfName source{-1, nullptr};
    PlaceOfName target{-1, nullptr};
    const bool ok = openPlaceOfName(from, fromFolder, &source) && openPlaceOfName(to, toFolder, &target) &&
                    ::renameat(source.folder, source.name, target.folder, target.name) == 0;
    const int error = errno;
    for (const PlaceOfName& place : {source, target}) {
        if (place.folder >= 0)
            ::close(place.folder);
    }
    return pushResult(ls, ok, from, error);
}
