// Benchmarks of the Lua plug-in's event dispatch.
//
//   bench_luaplugin dispatch [N]    N text-message events through the plug-in's export,
//                                   beside the same pushes and lua_pcall written by hand
//                                   (best of five alternating rounds each)
//   bench_luaplugin lifecycle [R E] R rounds of init, E events, shutdown (run it under
//                                   valgrind or a sanitizer to check for leaks)
//   bench_luaplugin hostile         hostile handlers under the default limits: how long
//                                   each call took, how far past the time limit, and the
//                                   process's peak memory against the memory cap
//   bench_luaplugin restarts [R]    R restarts of a script that opens files and allocates to
//                                   the cap: memory and descriptors before and after
#include "luahelpers.h"
#include "lualimits.h"
#include "luatimelimit.h"
#include "plugin.h"

extern "C" {
#include <lauxlib.h>
#include <lualib.h>
}

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const char* const handlerScript = "function onTextMessageEvent(c, m, t, f, n, u, msg, i) return 0 end\n";

std::string pluginFolder;

void benchPluginPath(char* buffer, std::size_t size)
{
    std::snprintf(buffer, size, "%s", pluginFolder.c_str());
}

void preparePluginFolder(const char* script = handlerScript)
{
    char pattern[] = "/tmp/vx5-bench-XXXXXX";
    pluginFolder = std::string(mkdtemp(pattern)) + "/";
    const std::string scriptDir = pluginFolder + "lua_plugin";
    mkdir(scriptDir.c_str(), 0700);
    FILE* file = std::fopen((scriptDir + "/vx5events.lua").c_str(), "w");
    std::fputs(script, file);
    std::fclose(file);

    VX5Functions table{};
    table.getPluginPath = benchPluginPath;
    table.getConfigPath = benchPluginPath; // luaconfig.ini beside the scripts
    vx5plugin_setFunctionPointers(table);
}

void removePluginFolder()
{
    std::string command = "rm -rf '" + pluginFolder + "'";
    if (std::system(command.c_str()) != 0)
        std::fprintf(stderr, "could not remove %s\n", pluginFolder.c_str());
}

// A line of /proc/self/status ("VmHWM:", "VmRSS:") in MiB.
double statusMiB(const char* key)
{
    FILE* status = std::fopen("/proc/self/status", "r");
    char line[256];
    double kib = 0;
    while (status && std::fgets(line, sizeof line, status)) {
        if (std::strncmp(line, key, std::strlen(key)) == 0)
            kib = std::atof(line + std::strlen(key));
    }
    if (status)
        std::fclose(status);
    return kib / 1024;
}

int openDescriptors()
{
    DIR* folder = opendir("/proc/self/fd");
    int count = 0;
    while (folder && readdir(folder))
        ++count;
    if (folder)
        closedir(folder);
    return count - 3; // ".", ".." and the folder's own descriptor
}

void writeLimits(const char* limits)
{
    FILE* file = std::fopen((pluginFolder + "luaconfig.ini").c_str(), "w");
    std::fputs(limits, file);
    std::fclose(file);
}

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The same work as the dispatcher, by hand: look the handler up, push, call, read the result.
double baseline(lua_State* state, long events)
{
    long sum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; n < events; ++n) {
        lua_getglobal(state, "onTextMessageEvent");
        lua_pushnumber(state, 1);
        lua_pushnumber(state, 1);
        lua_pushnumber(state, 2);
        lua_pushnumber(state, 3);
        lua_pushstring(state, "Alice");
        lua_pushstring(state, "alice-uid");
        lua_pushstring(state, "hello there");
        lua_pushnumber(state, 0);
        if (lua_pcall(state, 8, 1, 0) == 0)
            sum += long(lua_tonumber(state, -1));
        lua_pop(state, 1);
    }
    const double seconds = secondsSince(start);
    return sum == 0 ? seconds : -1;
}

double throughDispatcher(long events)
{
    long sum = 0;
    const auto start = std::chrono::steady_clock::now();
    for (long n = 0; n < events; ++n)
        sum += vx5plugin_onTextMessageEvent(1, 1, 2, 3, "Alice", "alice-uid", "hello there", 0);
    const double seconds = secondsSince(start);
    return sum == 0 ? seconds : -1;
}

int runDispatch(long events)
{
    preparePluginFolder();
    if (vx5plugin_init() != 0)
        return 1;
    // Warm both paths once so that neither pays for first-time allocations; then take the
    // best of five alternating rounds of each, so that a busy machine favours neither.
    lua_State* state = luaL_newstate();
    luaL_openlibs(state);
    luaL_dostring(state, handlerScript);
    throughDispatcher(events / 10);
    baseline(state, events / 10);
    double ours = 1e9;
    double hand = 1e9;
    for (int round = 0; round < 5; ++round) {
        const double dispatched = throughDispatcher(events);
        const double written = baseline(state, events);
        if (dispatched < 0 || written < 0) {
            ours = hand = -1;
            break;
        }
        ours = std::min(ours, dispatched);
        hand = std::min(hand, written);
    }
    lua_close(state);
    vx5plugin_shutdown();
    removePluginFolder();
    if (ours < 0 || hand < 0) {
        std::fprintf(stderr, "a handler call failed\n");
        return 1;
    }
    std::printf("events:              %ld (the plug-in's time limit on: %d ms)\n", events, defaultTimeLimitMs);
    std::printf("dispatcher:          %.0f calls/s\n", events / ours);
    std::printf("hand-written pcall:  %.0f calls/s\n", events / hand);
    std::printf("dispatcher / baseline time: %.2f (target <= 1.25)\n", ours / hand);
    return 0;
}

int runLifecycle(int rounds, long events)
{
    preparePluginFolder();
    for (int round = 0; round < rounds; ++round) {
        vx5plugin_registerPluginID("bench");
        if (vx5plugin_init() != 0)
            return 1;
        for (long n = 0; n < events; ++n) {
            vx5plugin_onTextMessageEvent(1, 1, 2, 3, "Alice", "alice-uid", "hello there", 0);
            vx5plugin_onNewChannelEvent(1, 2, 3); // no handler: the failure path too
        }
        vx5plugin_shutdown();
    }
    removePluginFolder();
    std::printf("lifecycle: %d rounds of init, %ld events, shutdown\n", rounds, events);
    return 0;
}

// Handlers a careless or hostile script author could write; each runs as one event under
// the default limits (time, memory, sandbox). The files they use lie in the scripts' data
// folder: "sparse" (4 GiB, no data), "comment.lua" (200 MB: one long comment, mostly a
// hole) and "big" (200 MB of data, no newline).
struct HostileCase
{
    const char* name;
    const char* body;
};
const HostileCase hostileCases[] = {
    {"string.rep('', 2^31 - 1) ten times", "for i = 1, 10 do string.rep('', 2^31 - 1) end"},
    {"string.rep of 16 MiB in a loop", "while true do local s = ('x'):rep(2^24) end"},
    {"concatenating 32 MiB strings, looped", "local s, i = ('x'):rep(2^25), 0 while true do i = i + 1 local t = s .. i end"},
    {"the same two 16 MiB strings, looped", "local s = ('x'):rep(2^24) while true do local t = s .. s end"},
    {"string.upper of 16 MiB, looped", "local s = ('x'):rep(2^24) while true do s:upper() end"},
    {"loadfile of a 4 GiB sparse file", "assert(loadfile('sparse'))"},
    {"loadfile of a 200 MB comment", "assert(loadfile('comment.lua'))"},
    {"loadstring of a 16 MiB comment, looped", "local c = '--[[' .. ('x'):rep(2^24) .. ']]' while true do loadstring(c) end"},
    {"table.sort of 6 M entries", "local t = {} for i = 1, 6e6 do t[i] = -i end table.sort(t)"},
    {"table.concat of 6 M entries", "local t = {} for i = 1, 6e6 do t[i] = 'ab' end while true do table.concat(t) end"},
    {"reading 200 MB whole, looped", "while true do local f = io.open('big') f:read('*a') f:close() end"},
    {"a 200 MB line, looped", "while true do local f = io.open('big') f:read('*l') f:close() end"},
    {"opening files until refused, looped", "local t = {} while true do t[#t + 1] = io.open('big') end"},
    {"'a?' x 40 then 'a' x 40 on 40 a's", "string.find(('a'):rep(40), ('a?'):rep(40) .. ('a'):rep(40))"},
    {"gsub('%s+', ' ') over 80 MB", "local s = ('word, more\\n'):rep(8e6) s:gsub('%s+', ' ')"},
    {"a table filled to the cap", "local t = {} while true do t[#t + 1] = {1, 2, 3, 4, 5, 6, 7, 8} end"},
    {"pcall loop around an endless loop", "while true do pcall(function() while true do end end) end"},
    {"table.insert far below a list", "local t = {1} table.insert(t, -2^31, 0)"},
    {"unpack of the widest range", "unpack({}, -2^31, 2^31 - 1)"},
    {"table.sort with a C comparison, looped", "local t = {} for i = 1, 6e6 do t[i] = i % 7 end while true do table.sort(t, rawequal) end"},
    {"tonumber of 100 MB of digits, looped", "local s = ('1'):rep(1e8) while true do tonumber(s) end"},
    {"string.format('%q') of 30 MB, looped", "local s = ('\\n'):rep(3e7) while true do string.format('%q', s) end"},
    {"os.date of a 100 MB format", "os.date(('%c'):rep(5e7))"},
    {"string.reverse of 100 MB, looped", "local s = ('x'):rep(1e8) while true do s:reverse() end"},
    {"collectgarbage over 100 MB of tables, looped", "local t = {} for i = 1, 1e6 do t[i] = {i} end while true do collectgarbage() end"},
};

bool writeSparseFile(const std::string& path, const char* head, const char* tail, off_t size)
{
    FILE* file = std::fopen(path.c_str(), "w");
    if (!file)
        return false;
    std::fputs(head, file);
    const bool sized = ::ftruncate(::fileno(file), size) == 0 && std::fseek(file, size, SEEK_SET) == 0;
    std::fputs(tail, file);
    return std::fclose(file) == 0 && sized;
}

int runHostile()
{
    std::string script;
    for (std::size_t n = 0; n < sizeof hostileCases / sizeof hostileCases[0]; ++n)
        script += "function case" + std::to_string(n) + "() " + hostileCases[n].body + " end\n";
    preparePluginFolder(script.c_str());
    const std::string data = pluginFolder + "lua_plugin/data/";
    mkdir(data.c_str(), 0700);
    const std::string big = data + "big";
    FILE* file = std::fopen(big.c_str(), "w");
    const std::string block(1 << 20, 'b');
    for (int n = 0; file && n < 200; ++n)
        std::fwrite(block.data(), 1, block.size(), file);
    if (!file || std::fclose(file) != 0 || !writeSparseFile(data + "sparse", "", "", off_t(4) << 30) ||
        !writeSparseFile(data + "comment.lua", "--[[", "]]", 200000000)) {
        std::fprintf(stderr, "cannot write the files in %s\n", pluginFolder.c_str());
        return 1;
    }
    const double before = statusMiB("VmRSS:");
    if (vx5plugin_init() != 0)
        return 1;
    std::printf("%-40s %-46s %8s %8s\n", "handler", "outcome", "ms", "past");
    double worst = 0;
    for (std::size_t n = 0; n < sizeof hostileCases / sizeof hostileCases[0]; ++n) {
        char error[errorBufferSize] = "";
        const auto start = std::chrono::steady_clock::now();
        const int status = callLuaFunction(error, ("case" + std::to_string(n)).c_str(), "");
        const double ms = secondsSince(start) * 1000;
        // The error without "Error running Lua function 'caseN': " and the script's position.
        std::string outcome = status == 0 ? "ran" : std::string(error).substr(std::strlen("Error running Lua function ''"));
        for (const char* mark : {"': ", ".lua:"}) {
            const std::size_t at = outcome.find(mark);
            if (at != std::string::npos)
                outcome = outcome.substr(outcome.find(": ", at) + 2);
        }
        outcome = outcome.substr(0, std::min(outcome.find('\n'), std::size_t(46)));
        const double past = std::max(0.0, ms - defaultTimeLimitMs);
        worst = std::max(worst, past);
        std::printf("%-40s %-46s %8.0f %8.0f\n", hostileCases[n].name, outcome.c_str(), ms, past);
    }
    vx5plugin_shutdown();
    removePluginFolder();
    const double peak = statusMiB("VmHWM:");
    std::printf("worst overrun past the %d ms limit: %.0f ms (target <= 250)\n", defaultTimeLimitMs, worst);
    std::printf("peak memory of the client: %.0f MiB, %.0f MiB before the plug-in started, memoryMB %d: %.0f MiB "
                "more than the two (target <= 16)\n",
                peak, before, defaultMemoryMB, std::max(0.0, peak - before - defaultMemoryMB));
    return 0;
}

// Restarts of a script that opens files and fills its memory: after the first round (the
// C library's own first allocations), memory and descriptors stay where they are.
int runRestarts(int rounds)
{
    preparePluginFolder("local f = {} for i = 1, 40 do f[i] = io.open('file', 'w') end\n"
                        "local t = {} pcall(function() while true do t[#t + 1] = {1, 2, 3, 4, 5, 6, 7, 8} end end)\n");
    writeLimits("[Limits]\nmemoryMB=32\n");
    double rss = 0;
    int descriptors = 0;
    for (int round = 0; round <= rounds; ++round) {
        if (vx5plugin_init() != 0)
            return 1;
        vx5plugin_shutdown();
        if (round == 0) {
            rss = statusMiB("VmRSS:");
            descriptors = openDescriptors();
        }
    }
    std::printf("restarts: %d of a script that opens 40 files and allocates to a 32 MB cap\n", rounds);
    std::printf("memory after the first: %.1f MiB, after the last: %.1f MiB; descriptors: %d, then %d\n", rss,
                statusMiB("VmRSS:"), descriptors, openDescriptors());
    removePluginFolder();
    return 0;
}

} // namespace

int main(int argc, char* argv[])
{
    const std::string mode = argc > 1 ? argv[1] : "dispatch";
    if (mode == "dispatch")
        return runDispatch(argc > 2 ? std::atol(argv[2]) : 1000000);
    if (mode == "lifecycle") {
        // The plug-in's chatter would drown the figures.
        std::freopen("/dev/null", "w", stderr);
        return runLifecycle(argc > 2 ? std::atoi(argv[2]) : 100, argc > 3 ? std::atol(argv[3]) : 10000);
    }
    if (mode == "hostile") {
        std::freopen("/dev/null", "w", stderr);
        return runHostile();
    }
    if (mode == "restarts") {
        std::freopen("/dev/null", "w", stderr);
        return runRestarts(argc > 2 ? std::atoi(argv[2]) : 1000);
    }
    std::fprintf(stderr, "usage: bench_luaplugin dispatch [N] | lifecycle [ROUNDS EVENTS] | hostile | restarts [R]\n");
    return 2;
}
