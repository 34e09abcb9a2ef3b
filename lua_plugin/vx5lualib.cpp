// The vx5 table: one Lua binding per row of the host function table (vx5hostapi.h),
// made by the templates below from the row's parameter kinds. Every binding checks its
// arguments, calls the host entry, prints the row's failure line when the host fails,
// and pushes the outputs and the code.
//
// Lua is the C build: a failed argument check longjmps out of the binding. So nothing
// here has a destructor; lists and buffers live in Lua userdata, which the garbage
// collector frees whatever way the binding is left. Memory the host hands out is turned
// into Lua values under protection and released before any error goes on, so it comes
// back exactly once whatever Lua raises (a finaliser may raise in any allocation).
#include "vx5lualib.h"

#include "luahelpers.h"
#include "vx5hostapi.h"

extern "C" {
#include <lauxlib.h>
#include <lua.h>
}

#include <array>
#include <cstdio>
#include <cstring>
#include <tuple>
#include <type_traits>

namespace {

using namespace vx5api;

constexpr int keepGoing = -1;
// A buffer the host fills and cuts grows up to this before the result counts as too long.
constexpr std::size_t maxBufferSize = 1 << 20;

// The registry key of the one value a protected conversion hands back (made when the
// table is registered, so storing and fetching it allocates nothing).
const char convertedValueKey = 0;

void pushConvertedValueKey(lua_State* ls)
{
    lua_pushlightuserdata(ls, const_cast<char*>(&convertedValueKey));
}

void* hostEntry(int position)
{
    return reinterpret_cast<void* const*>(&vx5Functions)[position];
}

// A Lua number as a 64-bit integer, cut toward zero; NaN, infinities and numbers beyond
// the 64-bit range are an argument error (the conversion would be undefined).
lua_Integer toInteger(lua_State* ls, int index, bool* ok)
{
    const lua_Number value = lua_tonumber(ls, index);
    *ok = lua_isnumber(ls, index) && value >= -9223372036854775808.0 && value < 9223372036854775808.0;
    return *ok ? lua_Integer(value) : 0;
}

lua_Integer checkInteger(lua_State* ls, int arg)
{
    luaL_checknumber(ls, arg);
    bool ok = false;
    const lua_Integer value = toInteger(ls, arg, &ok);
    if (!ok)
        luaL_argerror(ls, arg, "number out of the integer range");
    return value;
}

// The same for parameters the host takes as unsigned 64 bits (IDs, flags): also 2^63 and
// above, as the getters hand such IDs out.
std::uint64_t toUnsigned64(lua_State* ls, int index, bool* ok)
{
    const lua_Number value = lua_tonumber(ls, index);
    if (lua_isnumber(ls, index) && value >= 9223372036854775808.0 && value < 18446744073709551616.0) {
        *ok = true;
        return std::uint64_t(value);
    }
    return std::uint64_t(toInteger(ls, index, ok));
}

std::uint64_t checkUnsigned64(lua_State* ls, int arg)
{
    luaL_checknumber(ls, arg);
    bool ok = false;
    const std::uint64_t value = toUnsigned64(ls, arg, &ok);
    if (!ok)
        luaL_argerror(ls, arg, "number out of the integer range");
    return value;
}

// A string argument as the host will read it: up to its first zero byte. One that holds a
// zero byte would arrive cut, so it is an argument error.
const char* checkText(lua_State* ls, int arg)
{
    std::size_t length = 0;
    const char* text = luaL_checklstring(ls, arg, &length);
    if (std::strlen(text) != length)
        luaL_argerror(ls, arg, "string holds a zero byte");
    return text;
}

// What a parameter holds while the call is made.
template <P Kind> struct Slot { using type = typename CType<Kind>::type; };
template <> struct Slot<OutStr> { using type = char*; };
template <> struct Slot<OutU64> { using type = std::uint64_t; };
template <> struct Slot<OutI32> { using type = int; };
template <> struct Slot<OutFloat> { using type = float; };
template <> struct Slot<OutDouble> { using type = double; };
template <> struct Slot<OutId16> { using type = anyID; };
template <> struct Slot<OutList64> { using type = std::uint64_t*; };
template <> struct Slot<OutList16> { using type = anyID*; };
struct Buffer
{
    char* data;
    std::size_t size;
};
template <> struct Slot<BufPtr> { using type = Buffer; };

// A table of integers as a 0-ended array in a userdata (left on the stack); or, instead
// of going on, the code the binding returns at once.
template <typename Item>
int readList(lua_State* ls, int arg, const Item** list, const HostFunction& function)
{
    if (!lua_istable(ls, arg)) {
        std::printf("Invalid paramater in %s, not a table\n", function.name);
        return ERROR_parameter_invalid_size;
    }
    const std::size_t count = lua_objlen(ls, arg);
    if (count == 0 && (function.flags & EmptyListIsNoop))
        return ERROR_ok;
    if (count == 0 && (function.flags & EmptyListIsNull)) {
        *list = nullptr;
        return keepGoing;
    }
    auto* items = static_cast<Item*>(lua_newuserdata(ls, (count + 1) * sizeof(Item))); // ..., items
    for (std::size_t n = 1; n <= count; ++n) {
        lua_rawgeti(ls, arg, int(n)); // ..., items, element
        bool ok = false;
        const Item value = Item(toUnsigned64(ls, -1, &ok));
        if (!ok)
            return luaL_error(ls, "bad argument #%d to '%s' (element %d is not an integer)", arg, function.name,
                              int(n));
        // A 0 ends the list for the host: the elements after it would be lost.
        if (value == 0)
            return luaL_error(ls, "bad argument #%d to '%s' (element %d is 0%s, which would end the list)", arg,
                              function.name, int(n), sizeof(Item) < sizeof(std::uint64_t) ? " in 16 bits" : "");
        items[n - 1] = value;
        lua_pop(ls, 1); // ..., items
    }
    items[count] = 0;
    *list = items;
    return keepGoing;
}

// A table of strings as an array ended by an empty string, in a userdata. The strings
// stay in the table, which the caller holds for the whole call.
const char* const* readNames(lua_State* ls, int arg, const char* name)
{
    luaL_checktype(ls, arg, LUA_TTABLE);
    const std::size_t count = lua_objlen(ls, arg);
    auto* items = static_cast<const char**>(lua_newuserdata(ls, (count + 1) * sizeof(const char*))); // ..., items
    for (std::size_t n = 1; n <= count; ++n) {
        lua_rawgeti(ls, arg, int(n)); // ..., items, element
        if (lua_type(ls, -1) != LUA_TSTRING)
            luaL_error(ls, "bad argument #%d to '%s' (element %d is not a string)", arg, name, int(n));
        // An empty name ends the list for the host; a zero byte cuts the name.
        std::size_t length = 0;
        items[n - 1] = lua_tolstring(ls, -1, &length);
        if (length == 0 || std::strlen(items[n - 1]) != length)
            luaL_error(ls, "bad argument #%d to '%s' (element %d is %s)", arg, name, int(n),
                       length == 0 ? "empty, which would end the list" : "a string holding a zero byte");
        lua_pop(ls, 1); // ..., items
    }
    items[count] = "";
    return items;
}

Buffer makeBuffer(lua_State* ls, std::size_t size)
{
    auto* data = static_cast<char*>(lua_newuserdata(ls, size)); // ..., buffer
    std::memset(data, 0, size);
    return {data, size};
}

template <std::size_t Row>
Buffer makeBuffer(lua_State* ls)
{
    // Converted text grows; the host is told the size and cuts what does not fit.
    return makeBuffer(ls, (hostFunctions[Row].flags & BufferFromText) ? 4 * lua_objlen(ls, 1) + 64 : pathBufferSize);
}

// Reads the value of parameter I before the call; keepGoing, or a code to return.
template <std::size_t Row, std::size_t I, typename Slots>
int readParam(lua_State* ls, int& arg, Slots& slots)
{
    constexpr P kind = hostFunctions[Row].params[I];
    auto& slot = std::get<I>(slots);
    if constexpr (kind == N64)
        slot = checkUnsigned64(ls, arg++);
    else if constexpr (kind == N32)
        slot = int(checkInteger(ls, arg++));
    else if constexpr (kind == Id16)
        slot = anyID(checkInteger(ls, arg++) & 0xffff);
    else if constexpr (kind == Str)
        slot = checkText(ls, arg++);
    else if constexpr (kind == List64 || kind == List16)
        return readList(ls, arg++, &slot, hostFunctions[Row]);
    else if constexpr (kind == Names)
        slot = readNames(ls, arg++, hostFunctions[Row].name);
    else if constexpr (kind == PluginId)
        slot = pluginID;
    else if constexpr (kind == BufPtr)
        slot = makeBuffer<Row>(ls);
    else if constexpr (kind == BufSize)
        slot = std::get<I - 1>(slots).size;
    // Tag and Zero64 stay null and 0; every output stays empty until the host fills it.
    return keepGoing;
}

template <std::size_t Row, std::size_t I, typename Slots>
auto passParam(Slots& slots)
{
    constexpr P kind = hostFunctions[Row].params[I];
    auto& slot = std::get<I>(slots);
    if constexpr (kind == BufPtr)
        return slot.data;
    else if constexpr (isOutput(kind))
        return &slot;
    else
        return slot;
}

template <typename Item>
void pushList(lua_State* ls, const void* block)
{
    const auto* items = static_cast<const Item*>(block);
    lua_newtable(ls); // list
    for (int n = 0; items[n] != 0; ++n) {
        lua_pushnumber(ls, lua_Number(items[n])); // list, item
        lua_rawseti(ls, -2, n + 1);               // list
    }
}

void pushText(lua_State* ls, const void* block)
{
    lua_pushstring(ls, static_cast<const char*>(block));
}

// A block the host handed out, and how it becomes a Lua value.
struct HostBlock
{
    void (*push)(lua_State*, const void*);
    void* block;
};

// Protected: the value, kept under convertedValueKey.
int convertProtected(lua_State* ls)
{
    const auto* host = static_cast<const HostBlock*>(takeCallData(ls, convertProtected));
    pushConvertedValueKey(ls);         // key
    host->push(ls, host->block);       // key, value
    lua_rawset(ls, LUA_REGISTRYINDEX); // (empty)
    return 0;
}

// Pushes the host's block as a Lua value and gives the block back, in that order of
// safety: the conversion runs protected, the block goes back, then an error (if any)
// goes on.
void pushHostBlock(lua_State* ls, void (*push)(lua_State*, const void*), void* block)
{
    HostBlock host{push, block};
    const int failed = callInProtection(ls, convertProtected, &host); // message?
    vx5Functions.freeMemory(block);
    if (failed)
        lua_error(ls);
    pushConvertedValueKey(ls);         // key
    lua_rawget(ls, LUA_REGISTRYINDEX); // value
    pushConvertedValueKey(ls);         // value, key
    lua_pushboolean(ls, 0);            // value, key, false
    lua_rawset(ls, LUA_REGISTRYINDEX); // value
}

// Pushes output I (nothing for other parameters) and releases what the host handed over;
// returns the number of values pushed. Only a successful call's outputs are read.
template <std::size_t Row, std::size_t I, typename Slots>
int pushOutput(lua_State* ls, Slots& slots, bool ok)
{
    constexpr P kind = hostFunctions[Row].params[I];
    auto& slot = std::get<I>(slots);
    if constexpr (kind == OutStr) {
        if (ok && slot)
            pushHostBlock(ls, pushText, slot);
        else if (!ok && (hostFunctions[Row].flags & NilOnFailure))
            lua_pushnil(ls);
        else
            lua_pushstring(ls, "");
        return 1;
    } else if constexpr (kind == OutList64 || kind == OutList16) {
        using Item = std::remove_pointer_t<std::remove_reference_t<decltype(slot)>>;
        if (ok && slot)
            pushHostBlock(ls, pushList<Item>, slot);
        else if (ok)
            lua_newtable(ls);
        else
            lua_pushnil(ls);
        return 1;
    } else if constexpr (kind == BufPtr) {
        slot.data[slot.size - 1] = '\0'; // whatever the host wrote, the text ends in the buffer
        lua_pushstring(ls, ok ? slot.data : "");
        return 1;
    } else if constexpr (isOutput(kind)) {
        lua_pushnumber(ls, ok ? lua_Number(slot) : 0);
        return 1;
    } else {
        return 0;
    }
}

// The position of the buffer a row's host entry fills and may cut; -1 when it has none
// (or when the buffer is sized from the text it converts).
template <std::size_t Row>
constexpr int cuttableBuffer()
{
    if (hostFunctions[Row].flags & BufferFromText)
        return -1;
    for (int i = 0; i < int(paramCount(hostFunctions[Row])); ++i)
        if (hostFunctions[Row].params[i] == BufPtr)
            return i;
    return -1;
}

// Whether the host may have cut what it wrote: it filled the buffer.
bool filled(const Buffer& buffer)
{
    return ::strnlen(buffer.data, buffer.size) >= buffer.size - 1;
}

template <std::size_t Row>
constexpr bool takesPluginId()
{
    for (const P kind : hostFunctions[Row].params)
        if (kind == PluginId)
            return true;
    return false;
}

template <std::size_t Row, std::size_t... I>
int callHost(lua_State* ls, std::index_sequence<I...>)
{
    constexpr const HostFunction& function = hostFunctions[Row];
    constexpr R returns = function.returns;
    if constexpr ((function.flags & BufferFromText) != 0) {
        luaL_checkstring(ls, 1);
        if (lua_objlen(ls, 1) == 0) { // nothing to convert: the host is not asked
            lua_pushstring(ls, "");
            return 1;
        }
    }
    std::tuple<typename Slot<function.params[I]>::type...> slots{};
    [[maybe_unused]] int arg = 1; // the next Lua argument
    int early = keepGoing;
    // In parameter order; the first list that is refused (or empty where that means
    // nothing to do) ends the call with its code.
    ((early == keepGoing ? early = readParam<Row, I>(ls, arg, slots) : 0), ...);
    if (early != keepGoing) {
        lua_pushinteger(ls, early);
        return 1;
    }
    if constexpr (takesPluginId<Row>()) {
        if (!pluginID) {
            std::printf("Lua: %s: the client has not registered the plug-in yet\n", function.name);
            if constexpr (returns == R::Code) {
                lua_pushinteger(ls, ERROR_undefined);
                return 1;
            }
            return 0;
        }
    }
    const auto host = reinterpret_cast<typename Signature<Row>::Pointer>(hostEntry(function.entry));
    if (!host)
        return luaL_error(ls, "vx5.%s: the client does not offer this function", function.name);

    unsigned int code = ERROR_ok;
    std::uint64_t value = 0;
    const auto callOnce = [&] {
        if constexpr (returns == R::Code)
            code = host(passParam<Row, I>(slots)...);
        else if constexpr (returns == R::U64)
            value = host(passParam<Row, I>(slots)...);
        else
            host(passParam<Row, I>(slots)...);
    };
    callOnce();
    if constexpr (cuttableBuffer<Row>() >= 0) {
        // A cut list of folders can name another folder, a cut path another file: the
        // buffer grows until the answer fits, and an answer that never fits is an error.
        Buffer& buffer = std::get<cuttableBuffer<Row>()>(slots);
        while (code == ERROR_ok && filled(buffer) && buffer.size < maxBufferSize) {
            luaL_checkstack(ls, 1, "no room for a larger buffer");
            buffer = makeBuffer(ls, buffer.size * 2);
            std::get<cuttableBuffer<Row>() + 1>(slots) = buffer.size;
            callOnce();
        }
        if (code == ERROR_ok && filled(buffer))
            return luaL_error(ls, "vx5.%s: the client's answer is longer than %d bytes", function.name,
                              int(maxBufferSize));
    }
    if constexpr (function.failure != nullptr) {
        if (code != ERROR_ok)
            std::printf(function.failure, int(code));
    }

    const int outputs = (0 + ... + pushOutput<Row, I>(ls, slots, code == ERROR_ok));
    if constexpr (returns == R::Code) {
        lua_pushinteger(ls, lua_Integer(code));
        return outputs + 1;
    } else if constexpr (returns == R::U64) {
        lua_pushnumber(ls, lua_Number(value));
        return outputs + 1;
    } else {
        return outputs;
    }
}

template <std::size_t Row>
int l_hostFunction(lua_State* ls)
{
    return callHost<Row>(ls, std::make_index_sequence<paramCount(hostFunctions[Row])>{});
}

template <std::size_t... Row>
constexpr std::array<luaL_Reg, sizeof...(Row) + 1> makeCallbackList(std::index_sequence<Row...>)
{
    return {{{hostFunctions[Row].name, &l_hostFunction<Row>}..., {nullptr, nullptr}}};
}

// Every host function scripts can call, by its Lua name, in the table's order.
const auto callbackList = makeCallbackList(std::make_index_sequence<hostFunctionCount>{});

} // namespace

void registerVX5Lib(lua_State* state)
{
    luaL_register(state, "vx5", callbackList.data()); // vx5
    pushConvertedValueKey(state);                     // vx5, key
    lua_pushboolean(state, 0);                        // vx5, key, false
    lua_rawset(state, LUA_REGISTRYINDEX);             // vx5
    lua_pop(state, 1);                                // (empty)
}
