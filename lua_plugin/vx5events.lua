-- Events script of the Lua plug-in: the client's events arrive here as calls of the
-- global function named after the event. Define a function of that name to handle an
-- event; events without a handler are reported on standard error and otherwise ignored.

local function show(event, text)
  print(string.format("Lua: %s: %s", event, text))
end

function onConnectStatusChangeEvent(connection, newStatus, errorNumber)
  show("onConnectStatusChangeEvent",
       string.format("connection %d status %d (error %d)", connection, newStatus, errorNumber))
end

function onNewChannelEvent(connection, channelID, channelParentID)
  show("onNewChannelEvent", string.format("connection %d channel %d in %d", connection, channelID, channelParentID))
end

function onClientMoveEvent(connection, clientID, oldChannelID, newChannelID, visibility, moveMessage)
  show("onClientMoveEvent", string.format("client %d moved from %d to %d", clientID, oldChannelID, newChannelID))
end

function onTalkStatusChangeEvent(connection, status, isReceivedWhisper, clientID)
  show("onTalkStatusChangeEvent", string.format("client %d talk status %d", clientID, status))
end

-- Returning 1 tells the client that the message was handled here and is not to be shown.
function onTextMessageEvent(connection, targetMode, toID, fromID, fromName, fromUniqueIdentifier, message, ignored)
  show("onTextMessageEvent", string.format("%s: %s", tostring(fromName), tostring(message)))
  return 0
end

-- Returning 1 tells the client that the poke was handled here.
function onClientPokeEvent(connection, fromClientID, pokerName, message, ignored)
  show("onClientPokeEvent", string.format("%s pokes: %s", tostring(pokerName), tostring(message)))
  return 0
end

function onServerErrorEvent(connection, errorMessage, error, extraMessage)
  show("onServerErrorEvent", string.format("%s (%d) %s", tostring(errorMessage), error, tostring(extraMessage)))
end

-- Modules (folders of lua_plugin/ with an init.lua) are loaded by the plug-in once this
-- script has run, each unless the user switched it off in the plug-in's settings dialog;
-- what a module's init.lua returns is kept in the global table "modules" under its name.

print("Lua: events script loaded")
