#pragma once

// Lua source of describe(...), which tells exactly what a handler received, for
// example "number:5 nil string:x" (numbers in full precision).
inline const char* const luaDescribeSource = R"lua(
function describe(...)
  local parts = {}
  for i = 1, select('#', ...) do
    local v = select(i, ...)
    if type(v) == "number" then v = "number:" .. string.format("%.17g", v)
    elseif type(v) == "string" then v = "string:" .. v
    else v = tostring(v) end
    parts[#parts + 1] = v
  end
  return table.concat(parts, " ")
end
)lua";
