#pragma once

// What sandboxed scripts get: one row per global, library function, value and file method,
// with how it is bounded in time (how its C work ends within the call's limit), in memory
// (what it makes outside Lua's allocator) and in reach (what outside the state it touches).
// The sandboxed environment is built from these rows alone (luasandbox.cpp); the reference
// for script authors prints them; a test walks a sandboxed state and fails on anything
// that is not a row.
//
//   ROW(name, source, time, memory, reach)
//   REFUSED(name, why): present as a function that raises "<name> is not available to
//   scripts (sandbox in [Limits] of luaconfig.ini)".
//
// Names: "print" a global, "string.rep" a library function or value, "file:read" a method or
// metatable field of files, "string:__index" a field of the strings' metatable.
// Sources, spelt by the file that expands the rows:
//   LIBRARY        Lua's own, as the library has it (its work is fixed or bounded by its
//                  arguments: read below);
//   CHECKED        Lua's own, with the clock looked at right after it;
//   BOUND(f)       the plug-in's f, also without the sandbox;
//   SANDBOXED(f)   the plug-in's f, with the sandbox only;
//   MADE(what)     a value the plug-in makes: the globals, a lock (false), the files'
//                  methods, the loaded modules, a new table, the string table, or one made
//                  later by the plug-in's start (vx5, modules).
// Without the sandbox scripts get the whole library, with the BOUND and CHECKED rows in
// place of Lua's own functions.

#define VX5_FIXED "a fixed amount of work"
#define VX5_PER_STEP "a fixed amount of work per step"
#define VX5_ARGUMENTS "grows with its arguments, at most the 8,000 values a call takes"
#define VX5_LUA_ONLY "nothing outside Lua's allocator"
#define VX5_STATE "the state only"
#define VX5_PIECES "parsed in pieces of 64 KiB, the clock looked at between them; the chunk runs later as any Lua code"
#define VX5_SIZED "the file's size is checked against memoryMB before it is read into a Lua userdata"
#define VX5_PATTERN "patterns deeper than 200 levels are refused; a search that a cheap bound says could be long is first counted on its subject against the call's deadline, and ends the call when it could not finish in time; the clock is looked at right after"
#define VX5_MAPPED "one pass, the clock looked at every MiB"
#define VX5_RESULT_SIZED "the result's size is checked against memoryMB first"
#define VX5_SHIFT "moves the elements after the position, the clock looked at every 65,536"
#define VX5_MATH "a fixed amount of work (a C library function)"
#define VX5_COROUTINE "a fixed amount of work; the coroutine's Lua code runs under the call's limit (coroutines inherit the hook)"
#define VX5_OUTPUT "tostring runs as Lua code; the text goes out in pieces of 4 KiB, each waiting for the client's output at most until the call's deadline"
#define VX5_TIME_LIMIT_HOOK "the time limit's hook would be lifted"
#define VX5_FINALISERS "finalisers would run without the time limit"
#define VX5_OTHER_FRAMES "reaches into frames and functions of C code, where changes crash Lua"

#define VX5_SANDBOX_ROWS(ROW, REFUSED)                                                                             \
    ROW("_G", MADE(globals), VX5_FIXED, VX5_LUA_ONLY, "the sandbox's own globals")                                          \
    ROW("_VERSION", LIBRARY, "a string", VX5_LUA_ONLY, VX5_STATE)                                                 \
    ROW("assert", LIBRARY, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                                 \
    ROW("collectgarbage", BOUND(boundedCollectGarbage),                                                            \
        "'collect' and 'step' run at most one collection cycle over what the state holds (at most memoryMB), the " \
        "clock looked at right after; 'stop', 'restart', 'setpause' and 'setstepmul' raise (the plug-in paces "   \
        "the collector to the cap)",                                                                               \
        VX5_LUA_ONLY, VX5_STATE)                                                                                   \
    ROW("dofile", BOUND(boundedDoFile), VX5_PIECES, VX5_SIZED, "a regular file beneath the scripts folder")      \
    ROW("error", LIBRARY, "one copy of the message, with its position", VX5_LUA_ONLY, VX5_STATE)                  \
    ROW("getfenv", LIBRARY, VX5_FIXED, VX5_LUA_ONLY,                                                               \
        "the environment of a Lua function or of the thread (for C functions: the globals)")                      \
    ROW("getmetatable", LIBRARY, VX5_FIXED, VX5_LUA_ONLY,                                                          \
        "a table's metatable; strings and files answer false (their metatables are locked)")                      \
    ROW("ipairs", LIBRARY, VX5_PER_STEP, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("load", BOUND(boundedLoad), "the reader runs as Lua code; what it returns is " VX5_PIECES,                \
        VX5_LUA_ONLY, "precompiled chunks are refused")                                                            \
    ROW("loadfile", BOUND(boundedLoadFile), VX5_PIECES, VX5_SIZED,                                                 \
        "a regular file beneath the scripts folder; precompiled chunks are refused")                               \
    ROW("loadstring", BOUND(boundedLoadString), VX5_PIECES, VX5_LUA_ONLY, "precompiled chunks are refused")       \
    ROW("modules", MADE(later), "made by the plug-in", VX5_LUA_ONLY, "what the modules' init.lua returned")              \
    ROW("next", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                       \
    ROW("pairs", LIBRARY, VX5_PER_STEP, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("pcall", BOUND(limitedPcall),                                                                              \
        "its function runs under the call's limit; once the time is up, the error goes on at the next "           \
        "instruction",                                                                                             \
        "collects the garbage after an error a refused allocation caused", VX5_STATE)                              \
    ROW("print", BOUND(scriptPrint), VX5_OUTPUT, "the line is a Lua string", "the client's standard output")     \
    ROW("rawequal", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("rawget", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                     \
    ROW("rawset", LIBRARY, "as an assignment (a table may grow)", VX5_LUA_ONLY, VX5_STATE)                        \
    ROW("require", SANDBOXED(sandboxRequire),                                                                      \
        "package.loaded, package.preload, then the templates of package.path, the clock looked at between them; " \
        "the file loads as loadfile",                                                                              \
        VX5_SIZED, "Lua files beneath the scripts folder; no native modules")                                     \
    ROW("select", LIBRARY, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                                 \
    ROW("setfenv", LIBRARY, VX5_FIXED, VX5_LUA_ONLY,                                                               \
        "the environment of a Lua function or of the thread; C functions are refused")                             \
    ROW("setmetatable", LIBRARY, VX5_FIXED, VX5_LUA_ONLY,                                                          \
        "tables only; __gc has no effect on a table in Lua 5.1, so no script makes a finaliser")                   \
    ROW("tonumber", BOUND(boundedTonumber), "reads the string once; a string over 16 MiB is no number (nil)",     \
        VX5_LUA_ONLY, VX5_STATE)                                                                                   \
    ROW("tostring", LIBRARY, "a fixed amount of work; __tostring runs as Lua code", VX5_LUA_ONLY, VX5_STATE)      \
    ROW("type", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                       \
    ROW("unpack", BOUND(boundedUnpack),                                                                            \
        "at most 8,000 values: the range is checked before any is taken", VX5_LUA_ONLY, VX5_STATE)               \
    ROW("vx5", MADE(later), "each function makes one call into the client (see The vx5 table)",                          \
        "list and buffer arguments are Lua userdata (counted); what the client hands back is copied into Lua and " \
        "given back at once",                                                                                      \
        "the client")                                                                                              \
    ROW("xpcall", BOUND(limitedXpcall), "as pcall; once the time is up, the message handler is not run",          \
        "as pcall", VX5_STATE)                                                                                     \
    ROW("coroutine.create", LIBRARY, VX5_COROUTINE, "the coroutine's stack is in Lua's allocator", VX5_STATE)     \
    ROW("coroutine.resume", LIBRARY, VX5_COROUTINE, VX5_LUA_ONLY, VX5_STATE)                                       \
    ROW("coroutine.running", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                          \
    ROW("coroutine.status", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                           \
    ROW("coroutine.wrap", LIBRARY, VX5_COROUTINE, "as coroutine.create", VX5_STATE)                                \
    ROW("coroutine.yield", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                            \
    ROW("debug.getinfo", BOUND(boundedGetInfo),                                                                    \
        "a fixed amount of work: the options 'L' (every line of a function) and '>' are refused", VX5_LUA_ONLY,   \
        "the call's own frames; C functions are not handed out (func is nil for them)")                            \
    ROW("debug.traceback", LIBRARY, "at most 22 levels of the call stack", VX5_LUA_ONLY, "the call's own frames") \
    REFUSED("debug.debug", "reads commands from the client's standard input")                                     \
    REFUSED("debug.getfenv", VX5_OTHER_FRAMES)                                                                     \
    REFUSED("debug.gethook", "the hook is the plug-in's")                                                          \
    REFUSED("debug.getlocal", VX5_OTHER_FRAMES)                                                                    \
    REFUSED("debug.getmetatable", "would pass the locks on the metatables of strings and files")                  \
    REFUSED("debug.getregistry", "holds the plug-in's and the libraries' own records")                            \
    REFUSED("debug.getupvalue", VX5_OTHER_FRAMES)                                                                  \
    REFUSED("debug.setfenv", VX5_OTHER_FRAMES)                                                                     \
    REFUSED("debug.sethook", VX5_TIME_LIMIT_HOOK)                                                                  \
    REFUSED("debug.setlocal", VX5_OTHER_FRAMES)                                                                    \
    REFUSED("debug.setmetatable", VX5_FINALISERS)                                                                  \
    REFUSED("debug.setupvalue", VX5_OTHER_FRAMES)                                                                  \
    ROW("file:__gc", LIBRARY, "closes the file when it is collected, as file:close", VX5_LUA_ONLY,                \
        "not reachable by scripts")                                                                                \
    ROW("file:__index", MADE(fileMethods), VX5_FIXED, VX5_LUA_ONLY, "the methods below")                                       \
    ROW("file:__metatable", MADE(lock), VX5_FIXED, VX5_LUA_ONLY, "false: the lock")                                     \
    ROW("file:__tostring", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                            \
    ROW("file:close", LIBRARY, "flushes at most the file's 4 KiB buffer", "gives the file's place back",         \
        "the file")                                                                                                \
    ROW("file:flush", LIBRARY, "writes at most the file's 4 KiB buffer", VX5_LUA_ONLY, "the file")               \
    ROW("file:lines", BOUND(scriptFileLines), "each step reads one line, in pieces, the clock looked at every MiB", \
        "the line is a Lua string", "the file")                                                                    \
    ROW("file:read", BOUND(scriptRead),                                                                            \
        "'*a' and counts: one block; '*l': in pieces, the clock looked at every MiB; '*n': at most 200 "           \
        "characters",                                                                                              \
        "a block's size is checked against memoryMB first; '*n' is read without the C library's scanf, which "    \
        "buffers outside the cap",                                                                                 \
        "the file")                                                                                                \
    ROW("file:seek", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, "the file")                                                 \
    REFUSED("file:setvbuf", "its buffers are the C library's, outside the cap")                                    \
    ROW("file:write", CHECKED, "one write of its arguments (at most memoryMB), the clock looked at right after",  \
        VX5_LUA_ONLY, "the file")                                                                                  \
    ROW("io.close", LIBRARY, "as file:close", "as file:close", "the file")                                        \
    REFUSED("io.input", "the client's standard input is the client's")                                           \
    ROW("io.lines", BOUND(scriptLines), "opens as io.open; each step as file:lines; the file closes at its end",  \
        "as io.open", "as io.open, for reading")                                                                   \
    ROW("io.open", BOUND(scriptOpen), "one open, never waiting (a FIFO is refused, not waited on)",               \
        "a C library file with a 4 KiB buffer; a state holds at most 32 open files",                              \
        "regular files beneath the scripts folder (reading) or its data folder (writing), and the null device; "  \
        "the kernel refuses any path that leads elsewhere")                                                        \
    REFUSED("io.output", "the client's standard output is the client's: print writes to it")                      \
    REFUSED("io.popen", "blocks the client while a child runs")                                                    \
    REFUSED("io.read", "the client's standard input is the client's")                                             \
    REFUSED("io.tmpfile", "makes a file outside the data folder")                                                  \
    ROW("io.type", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("io.write", SANDBOXED(scriptWrite), VX5_OUTPUT, VX5_LUA_ONLY, "the client's standard output")             \
    ROW("math.abs", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.acos", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.asin", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.atan", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.atan2", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("math.ceil", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.cos", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.cosh", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.deg", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.exp", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.floor", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("math.fmod", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.frexp", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("math.huge", LIBRARY, "a number", VX5_LUA_ONLY, VX5_STATE)                                                 \
    ROW("math.ldexp", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("math.log", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.log10", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                  \
    ROW("math.max", LIBRARY, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                               \
    ROW("math.min", LIBRARY, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                               \
    ROW("math.modf", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.pi", LIBRARY, "a number", VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.pow", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.rad", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.random", BOUND(boundedRandom), VX5_FIXED, VX5_LUA_ONLY,                                             \
        "the state's own generator, not the C library's, which is the client's")                                  \
    ROW("math.randomseed", BOUND(boundedRandomSeed), VX5_FIXED, VX5_LUA_ONLY, "as math.random")                   \
    ROW("math.sin", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.sinh", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.sqrt", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    ROW("math.tan", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                    \
    ROW("math.tanh", LIBRARY, VX5_MATH, VX5_LUA_ONLY, VX5_STATE)                                                   \
    REFUSED("module", "builds a table for every part of a dotted name in one C call; return a table instead")    \
    REFUSED("newproxy", VX5_FINALISERS)                                                                            \
    ROW("os.clock", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, "the processor time the client used")                       \
    ROW("os.date", BOUND(boundedDate), "a conversion at a time, the clock looked at every 65,536 bytes of the format", \
        VX5_LUA_ONLY, "the system's clock and time zone (reentrant conversions)")                                 \
    ROW("os.difftime", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                \
    REFUSED("os.execute", "blocks the client while a child runs")                                                 \
    REFUSED("os.exit", "would end the client")                                                                     \
    REFUSED("os.getenv", "the client's environment may hold secrets")                                              \
    ROW("os.remove", BOUND(scriptRemove), "one system call", VX5_LUA_ONLY,                                         \
        "a file or an empty folder beneath the data folder")                                                       \
    ROW("os.rename", BOUND(scriptRename), "one system call", VX5_LUA_ONLY,                                         \
        "a file or folder beneath the data folder, to a name there")                                               \
    REFUSED("os.setlocale", "changes the locale of the whole client")                                              \
    ROW("os.time", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, "the system's clock and time zone")                          \
    REFUSED("os.tmpname", "makes a file outside the data folder")                                                  \
    ROW("package.loaded", MADE(loaded), VX5_FIXED, VX5_LUA_ONLY, "the modules required so far and the libraries above")   \
    REFUSED("package.loadlib", "native code runs outside every limit")                                             \
    ROW("package.path", LIBRARY, "a string", VX5_LUA_ONLY, "where require looks: the scripts folder")             \
    ROW("package.preload", MADE(newTable), VX5_FIXED, VX5_LUA_ONLY, "loaders a script adds")                                 \
    ROW("string.byte", CHECKED, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                            \
    ROW("string.char", CHECKED, VX5_ARGUMENTS, VX5_LUA_ONLY, VX5_STATE)                                            \
    REFUSED("string.dump", "makes precompiled chunks, which Lua 5.1 loads without checking")                      \
    ROW("string.find", BOUND(guardedFind), VX5_PATTERN, VX5_LUA_ONLY, VX5_STATE)                                   \
    ROW("string.format", BOUND(boundedFormat),                                                                     \
        "copies its format and %q strings byte by byte: at most 32 MiB of them; the clock is looked at right "    \
        "after",                                                                                                   \
        VX5_LUA_ONLY, VX5_STATE)                                                                                   \
    ROW("string.gmatch", BOUND(guardedGmatch), "as string.find, for each step, against the deadline of the call "  \
        "the step runs in", VX5_LUA_ONLY, VX5_STATE)                                                               \
    ROW("string.gsub", BOUND(guardedGsub), VX5_PATTERN "; a replacement function runs as Lua code, a table or C " \
        "function as replacement looks at the clock every 64 calls", VX5_LUA_ONLY,                                 \
        VX5_STATE)                                                                                                 \
    ROW("string.len", LIBRARY, VX5_FIXED, VX5_LUA_ONLY, VX5_STATE)                                                 \
    ROW("string.lower", BOUND(boundedLower), VX5_MAPPED, VX5_RESULT_SIZED, VX5_STATE)                              \
    ROW("string.match", BOUND(guardedMatch), VX5_PATTERN, VX5_LUA_ONLY, VX5_STATE)                                 \
    ROW("string.rep", BOUND(boundedRep), "built by doubling, the clock looked at right after", VX5_RESULT_SIZED,  \
        VX5_STATE)                                                                                                 \
    ROW("string.reverse", BOUND(boundedReverse), VX5_MAPPED, VX5_RESULT_SIZED, VX5_STATE)                          \
    ROW("string.sub", CHECKED, "one copy of at most the string, the clock looked at right after", VX5_LUA_ONLY,   \
        VX5_STATE)                                                                                                 \
    ROW("string.upper", BOUND(boundedUpper), VX5_MAPPED, VX5_RESULT_SIZED, VX5_STATE)                              \
    ROW("string:__index", MADE(stringLibrary), VX5_FIXED, VX5_LUA_ONLY, "the string table: strings' methods are its functions")  \
    ROW("string:__metatable", MADE(lock), VX5_FIXED, VX5_LUA_ONLY, "false: the lock")                                   \
    ROW("table.concat", BOUND(boundedConcat), "the lengths are summed first, the clock looked at every 65,536 "    \
        "elements", VX5_RESULT_SIZED, VX5_STATE)                                                                   \
    ROW("table.insert", BOUND(boundedInsert), VX5_SHIFT, VX5_LUA_ONLY, VX5_STATE)                                  \
    ROW("table.maxn", BOUND(boundedMaxn), "walks the table, the clock looked at every 65,536 keys", VX5_LUA_ONLY,  \
        VX5_STATE)                                                                                                 \
    ROW("table.remove", BOUND(boundedRemove), VX5_SHIFT, VX5_LUA_ONLY, VX5_STATE)                                  \
    ROW("table.sort", BOUND(boundedSort),                                                                          \
        "the clock is looked at every 64 comparisons (a Lua comparison function runs under the hook too)",        \
        VX5_LUA_ONLY, VX5_STATE)
