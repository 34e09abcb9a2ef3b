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

-- Modules: every folder of lua_plugin/ with an init.lua is a module, loaded here unless
-- the user switched it off in the plug-in's settings dialog (stored in luaconfig.ini in
-- the client's configuration folder; a module the file does not name counts as on).
-- A module's init.lua runs once per start of the Lua state; what it returns is kept in
-- the global table "modules" under the module's name.
local function moduleChoices()
  local choices = {}
  local file = io.open(vx5.getConfigPath() .. "luaconfig.ini", "r")
  if not file then
    return choices
  end
  local inModules = false
  for line in file:lines() do
    local section = line:match("^%s*%[(.-)%]%s*$")
    if section then
      inModules = section == "Modules"
    elseif inModules then
      local state, name = line:match("^%s*%d+\\(o[nf]f?)%s*=%s*(.-)%s*$")
      if name then
        name = name:match('^"(.*)"$') or name
      end
      if (state == "on" or state == "off") and name ~= "" then
        choices[name] = state == "on"
      end
    end
  end
  file:close()
  return choices
end

local function loadModules()
  local moduleFolder = vx5.getPluginPath() .. "lua_plugin/"
  local choices = moduleChoices()
  -- The client lists the folder's sub-folders one a line.
  for name in vx5.getDirectories(moduleFolder):gmatch("[^\n]+") do
    local init = moduleFolder .. name .. "/init.lua"
    local file = io.open(init, "r")
    if file then
      file:close()
      if choices[name] ~= false then
        local ok, result = pcall(dofile, init)
        if ok then
          modules[name] = result == nil and true or result
          print("Lua: module " .. name .. " loaded")
        else
          print("Lua: module " .. name .. " failed: " .. tostring(result))
        end
      end
    end
  end
end

modules = {}
local ok, problem = pcall(loadModules)
if not ok then
  print("Lua: modules not loaded: " .. tostring(problem))
end

print("Lua: events script loaded")
