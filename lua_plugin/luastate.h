#pragma once

// The Lua state's lifecycle: it starts with the libraries, the limits, the vx5 functions,
// the events script and the modules, and it closes or restarts only between calls from
// the client: asked for while a script runs (the client may run its event loop inside a
// vx5 call), the change waits until the outermost call has returned. Closing also stops
// the running script at its next instruction and refuses every further call meanwhile,
// so nothing of the plug-in runs Lua once shutdown was asked for.

// Starts a new state (closing the one there is). 0 when the events script ran, and when
// the start waits for the running call.
int initLua();
void closeLua();
void restartLua();
// closeLua, and the plug-in's ID given back with the state.
void shutdownLua();
