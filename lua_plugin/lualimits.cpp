#include "lualimits.h"

#include "luasandbox.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <cstdint>
#include <cstdlib>

#include <algorithm>
#include <cstring>

#include <malloc.h>
#include <sys/mman.h>

int protectedLuaDepth = 0;
bool collectionPending = false;

namespace {

// The plug-in has one state at a time: its allocator's account lives here.
struct MemoryAccount
{
    std::size_t used = 0;
    std::size_t cap = 0;  // 0: none
    std::size_t live = 0; // what was left after the last collection cycle
    // The garbage since that cycle may fill half of what is left beyond this.
    std::size_t collectAbove = SIZE_MAX;
    std::size_t highest = 0; // since the heap was last trimmed
    lua_State* mainThread = nullptr;
};

// Once a collection has freed this much, the C library gives the free pages of its heap
// back to the system: it keeps them otherwise, and memory a script filled with small
// objects and let go would stay the client's on top of what the state holds next.
constexpr std::size_t trimAfterFreeing = 32 << 20;

// An allocation this large looks at the clock: instructions that copy much memory are few
// between two of the hook's looks.
constexpr std::size_t largeAllocation = 1 << 20;
MemoryAccount account;

void setLive(std::size_t live)
{
    if (account.highest > live + trimAfterFreeing)
        malloc_trim(0);
    account.highest = live;
    account.live = live;
    account.collectAbove = account.cap == 0 ? SIZE_MAX : live + (account.cap > live ? account.cap - live : 0) / 2;
}

// Blocks this large are mapped on their own and given back to the system when freed: from
// the heap they would leave it grown, and the C library raises its own threshold for
// mapping after each large block freed, so a script's large strings would turn into
// memory the client keeps beyond the cap.
constexpr std::size_t mappedBlockSize = 256 << 10;
constexpr std::size_t pageSize = 4096;

bool isMapped(std::size_t size)
{
    return size >= mappedBlockSize;
}

std::size_t pagesFor(std::size_t size)
{
    return (size + pageSize - 1) & ~(pageSize - 1);
}

// What a block of that size takes: its pages, or its usable size and the C library's
// header. The cap counts this, not the sizes Lua asks for: for small objects the
// difference is a sixth.
std::size_t takenBy(void* block, std::size_t size)
{
    if (!block)
        return 0;
    return isMapped(size) ? pagesFor(size) : malloc_usable_size(block) + sizeof(std::size_t);
}

void release(void* block, std::size_t size)
{
    if (isMapped(size))
        ::munmap(block, pagesFor(size));
    else
        std::free(block);
}

void* mapBlock(std::size_t size)
{
    void* block = ::mmap(nullptr, pagesFor(size), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return block == MAP_FAILED ? nullptr : block;
}

// Lua tells the size of every block it gives back, so the size alone says where it lies.
void* resize(void* block, std::size_t oldSize, std::size_t newSize)
{
    const bool wasMapped = block && isMapped(oldSize);
    if (!wasMapped && !isMapped(newSize))
        return std::realloc(block, newSize);
    if (wasMapped && isMapped(newSize)) {
        void* moved = ::mremap(block, pagesFor(oldSize), pagesFor(newSize), MREMAP_MAYMOVE);
        return moved == MAP_FAILED ? nullptr : moved;
    }
    void* fresh = isMapped(newSize) ? mapBlock(newSize) : std::malloc(newSize);
    if (fresh && block) {
        std::memcpy(fresh, block, std::min(oldSize, newSize));
        release(block, oldSize);
    }
    return fresh;
}

void* cappedAllocator(void* ud, void* block, std::size_t oldSize, std::size_t newSize)
{
    auto* memory = static_cast<MemoryAccount*>(ud);
    const std::size_t before = takenBy(block, oldSize);
    if (newSize == 0) {
        if (block)
            release(block, oldSize);
        memory->used -= before;
        return nullptr;
    }
    // Only growth is refused: Lua never expects a shrinking block to fail.
    if (newSize > oldSize && memory->cap != 0 && protectedLuaDepth > 0 &&
        newSize + sizeof(std::size_t) > before + (memory->cap > memory->used ? memory->cap - memory->used : 0)) {
        collectionPending = true;
        return nullptr;
    }
    // Once the time is up, the main thread stops at its next instruction (setting a hook is
    // safe anywhere); a coroutine is stopped by the hook or the next collection cycle.
    if (newSize > oldSize && newSize - oldSize >= largeAllocation && protectedLuaDepth > 0 && timeIsUp())
        stopAtNextInstruction(memory->mainThread);
    void* grown = resize(block, oldSize, newSize);
    if (!grown)
        return nullptr;
    memory->used = memory->used - before + takenBy(grown, newSize);
    memory->highest = std::max(memory->highest, memory->used);
    if (memory->used > memory->collectAbove)
        collectionPending = true;
    return grown;
}

// A finaliser of the plug-in's own on an object nobody holds: it runs once per
// garbage-collection cycle and arms the next one. Cycles come with allocations, so it
// looks at the deadline also where instructions allocate much and are few (concatenating
// long strings). It also paces the collector: Lua 5.1 collects nothing when an allocation
// is refused, so under a cap the next cycle starts before the garbage could fill what is
// left (Lua's own pace lets garbage grow as large as the live data).
char sentinelKey; // its address keys the sentinel's metatable in the registry

void armCollectionCheck(lua_State* ls)
{
    lua_newuserdata(ls, 0);                  // sentinel
    lua_pushlightuserdata(ls, &sentinelKey); // sentinel, key
    lua_rawget(ls, LUA_REGISTRYINDEX);       // sentinel, metatable
    if (lua_istable(ls, -1))                 // (a script with the registry may have replaced it)
        lua_setmetatable(ls, -2);            // sentinel
    else
        lua_pop(ls, 1);                      // sentinel
    lua_pop(ls, 1);                          // (empty)
}

void paceCollector(lua_State* ls)
{
    constexpr int luaPause = 200;   // Lua's default: the next cycle once memory has doubled
    constexpr int luaStepMul = 200; // Lua's default work per step
    int pause = luaPause;
    int stepMul = luaStepMul;
    if (account.cap != 0 && account.used > 0) {
        // A quarter of what is left may fill with garbage before the next cycle starts, and
        // near the cap a cycle ends within few steps, so that it is over before large
        // allocations fill the rest.
        const double left = account.cap > account.used ? double(account.cap - account.used) : 0;
        pause = int(100 * (double(account.used) + left / 4) / double(account.used));
        pause = pause < 100 ? 100 : pause > luaPause ? luaPause : pause;
        stepMul = account.used > account.cap / 8 ? 20 * luaStepMul : luaStepMul;
    }
    lua_gc(ls, LUA_GCSETPAUSE, pause);
    lua_gc(ls, LUA_GCSETSTEPMUL, stepMul);
}

int collectionCheck(lua_State* ls)
{
    setLive(account.used); // the cycle's sweep is over
    armCollectionCheck(ls);
    paceCollector(ls);
    enforceTimeLimit(ls);
    return 0;
}

} // namespace

int limitedPcall(lua_State* ls)
{
    luaL_checkany(ls, 1);
    const int status = lua_pcall(ls, lua_gettop(ls) - 1, LUA_MULTRET, 0); // results... or message
    if (status != 0)
        collectAfterRefusal(ls);
    lua_pushboolean(ls, status == 0); // results..., ok
    lua_insert(ls, 1);                // ok, results...
    return lua_gettop(ls);
}

namespace {

// An error raised by the time limit's hook leaves hooks off until a pcall catches it, and
// Lua calls a message handler before that: a handler that loops would never be stopped.
// Once the time is up, xpcall's handler is therefore not run; the error goes on as it is.
int limitedMessageHandler(lua_State* ls)
{
    if (timeIsUp())
        return 1;                           // message
    lua_pushvalue(ls, lua_upvalueindex(1)); // message, handler
    lua_insert(ls, 1);                      // handler, message
    lua_call(ls, lua_gettop(ls) - 1, 1);    // result
    return 1;
}

} // namespace

int limitedXpcall(lua_State* ls)
{
    luaL_checkany(ls, 2);
    lua_settop(ls, 2);                               // function, handler
    lua_pushcclosure(ls, limitedMessageHandler, 1);  // function, limited handler
    lua_insert(ls, 1);                               // limited handler, function
    const int status = lua_pcall(ls, 0, LUA_MULTRET, 1); // limited handler, results...
    if (status != 0)
        collectAfterRefusal(ls);
    lua_pushboolean(ls, status == 0); // limited handler, results..., ok
    lua_replace(ls, 1);               // ok, results...
    return lua_gettop(ls);
}

namespace {

int collectProtected(lua_State* ls)
{
    lua_gc(ls, LUA_GCCOLLECT, 0);
    return 0;
}

void installCollectionCheck(lua_State* ls)
{
    lua_pushlightuserdata(ls, &sentinelKey); // key
    lua_createtable(ls, 0, 1);               // key, metatable
    lua_pushcfunction(ls, collectionCheck);  // key, metatable, check
    lua_setfield(ls, -2, "__gc");            // key, metatable
    lua_rawset(ls, LUA_REGISTRYINDEX);       // (empty)
    armCollectionCheck(ls);
}

} // namespace

lua_State* newLimitedState(const LuaLimits& limits)
{
    account = MemoryAccount{};
    account.cap = std::size_t(limits.memoryMB > 0 ? limits.memoryMB : 0) << 20;
    setLive(0);
    collectionPending = false;
    setTimeLimit(limits.timeLimitMs);
    account.mainThread = lua_newstate(cappedAllocator, &account);
    return account.mainThread;
}

void closeLimitedState(lua_State* state)
{
    lua_close(state);
    malloc_trim(0);
    account = MemoryAccount{};
}

void installLimits(lua_State* state, const LuaLimits& limits)
{
    installScriptLibrary(state, limits.sandbox);
    installTimeLimit(state);
    installCollectionCheck(state);
}

namespace {

void collectGarbage(lua_State* state)
{
    if (protectedLuaDepth > 0) {
        lua_gc(state, LUA_GCCOLLECT, 0);
    } else if (lua_cpcall(state, collectProtected, nullptr) != 0) {
        lua_pop(state, 1); // a finaliser's error: nobody to tell
    }
    setLive(account.used);
}

} // namespace

void collectAfterRefusal(lua_State* state)
{
    if (!collectionPending || !state)
        return;
    collectGarbage(state);
    // What the script still held may become garbage soon (it caught the error and let go):
    // while the state is near its cap, the next call from the client collects once more.
    collectionPending = account.used > account.cap / 2;
}

void collectBetweenCalls(lua_State* state)
{
    if (state)
        collectGarbage(state);
    collectionPending = false;
}

bool roomFor(lua_State* state, std::size_t size)
{
    if (size <= luaMemoryLeft())
        return true;
    collectGarbage(state); // the garbage may hold what is missing
    collectionPending = size > luaMemoryLeft();
    return !collectionPending;
}

std::size_t luaMemoryInUse()
{
    return account.used;
}

std::size_t luaMemoryLeft()
{
    if (account.cap == 0)
        return SIZE_MAX;
    return account.cap > account.used ? account.cap - account.used : 0;
}

