#pragma once

// The files scripts reach, and the client's standard output.
//
// With the sandbox, the kernel confines every path a script names: it reads files beneath
// the scripts folder (the plug-in's "lua_plugin/") and creates, writes, removes and
// renames them beneath that folder's "data/" folder, which is made (mode 0700) when a
// script first writes. A relative path is taken from the data folder. Paths are resolved
// with openat2(RESOLVE_BENEATH | RESOLVE_NO_MAGICLINKS) from the folder's descriptor: "..",
// an absolute path elsewhere, a link leading out and /proc's magic links are refused when
// the file is opened. The null device ("/dev/null") is the one file outside. Without the
// sandbox, paths are the system's.
//
// Either way, files open without waiting and only when they are regular files (or the
// null device): a FIFO, a socket or a device is refused as "not a regular file". A state
// holds at most maxScriptFiles open files; closing the state closes every file it opened.
//
// Lua is the C build: the functions here raise Lua errors (longjmp) and hold no objects
// with destructors; a descriptor is never open across a call that can raise.

#include <cstddef>

struct lua_State;

constexpr int maxScriptFiles = 32;
// The scripts' data folder in the scripts folder (never a module).
constexpr char scriptDataFolder[] = "data";

// The new state's folders (the scripts folder ends with '/'); with the sandbox
// (luasandbox.h), paths are confined to them. Before the state runs anything of a script.
void openScriptFolders(const char* scriptsFolder);
// After the state is closed: the folders' descriptors and every file a script left open.
void closeScriptFiles();

// The state's file metatable gets its close function, bounded reads and lines, and the
// io library the replacements of its functions that open files. Under protection.
void installScriptFiles(lua_State* state);

// Reads the file whole, as scripts may reach it (confined) or as the plug-in's own loading
// does, into a new userdata on the stack; false with a message there instead ("cannot open
// PATH: why" or "cannot read PATH: why"). Its size is checked against the memory cap first.
bool pushFileText(lua_State* state, const char* path, bool confined, const char** text, std::size_t* size);
// Whether path names a regular file scripts may read (require's search).
bool isScriptFile(const char* path);

// Writes text to the client's standard output in pieces, each once the output can take it
// and at most until the call's deadline (then the time limit's error is raised). Output
// that has no reader any more is dropped.
void writeToOutput(lua_State* state, const char* text, std::size_t size);

// The functions scripts call (luasandboxtable.h).
int scriptOpen(lua_State* state);        // io.open
int scriptLines(lua_State* state);       // io.lines
int scriptRead(lua_State* state);        // file:read
int scriptFileLines(lua_State* state);   // file:lines
int scriptWrite(lua_State* state);       // io.write (to the client's output)
int scriptPrint(lua_State* state);       // print
int scriptRemove(lua_State* state);      // os.remove
int scriptRename(lua_State* state);      // os.rename
