-- Helpers shared by the two luasession scripts of the Ardour session test (loaded with dofile).
--
-- Every outcome is one marker line on standard output: "KESTRUNE-OK" when the script reached its
-- end, "KESTRUNE-FAIL: reason" when a check failed. The driver judges by the marker, not by the
-- exit code, because luasession sometimes crashes while shutting down after a complete run.

local M = {}

-- The edition the session runs, as the driver says in KESTRUNE_ARDOUR_FORMAT: "vst" for the VST 2.4
-- module (found through the scanner's cache), "lv2" for the LV2 bundle (found through LV2_PATH).
M.format = os.getenv("KESTRUNE_ARDOUR_FORMAT") or "vst"
M.lv2_uri = "urn:brisk-lantern:kestrune"

function M.fail(message)
  print("KESTRUNE-FAIL: " .. message)
  io.stdout:flush()
  os.exit(1)
end

function M.check(condition, message)
  if not condition then M.fail(message) end
end

-- Runs body and leaves without close_session(), which crashes now and then: the session file is
-- saved by the scripts themselves, so nothing is lost by exiting at once.
function M.run(body)
  local ok, err = xpcall(body, debug.traceback)
  if not ok then M.fail("script error: " .. tostring(err)) end
  print("KESTRUNE-OK")
  io.stdout:flush()
  os.exit(0)
end

-- "a,b,c" -> {a, b, c} as numbers.
function M.numbers(text)
  local values = {}
  for item in string.gmatch(text, "[^,]+") do values[#values + 1] = tonumber(item) end
  return values
end

-- The Dummy backend needs no sound hardware; it runs at the rate of the test signal so that no
-- resampling happens anywhere. The plug-in folder must be set before a session is created or
-- loaded, and Ardour only takes plug-ins from the scanner's cache (the driver scans first).
function M.start_engine(plugin_dir, rate)
  ARDOUR.config():set_plugin_path_lxvst(plugin_dir)
  -- Without this, new tracks get their inputs wired to capture ports and outputs re-wired
  -- behind our back; every connection the test relies on is made explicitly instead.
  ARDOUR.config():set_input_auto_connect(ARDOUR.AutoConnectOption.ManualConnect)
  ARDOUR.config():set_output_auto_connect(ARDOUR.AutoConnectOption.ManualConnect)
  local backend = AudioEngine:set_backend("None (Dummy)", "", "")
  M.check(backend and not backend:isnil(), "the Dummy backend is not available")
  M.check(AudioEngine:set_sample_rate(rate) == 0, "the Dummy backend refuses " .. rate .. " Hz")
  M.check(AudioEngine:start(false) == 0, "the audio engine did not start")
end

-- A new Kestrune processor of the session's edition (nil-like when Ardour does not know it).
function M.new_kestrune()
  if M.format == "lv2" then
    return ARDOUR.LuaAPI.new_plugin(Session, M.lv2_uri, ARDOUR.PluginType.LV2, "")
  end
  return ARDOUR.LuaAPI.new_plugin(Session, "Kestrune", ARDOUR.PluginType.LXVST, "")
end

function M.route(name)
  local route = Session:route_by_name(name)
  M.check(route and not route:isnil(), "no route called " .. name)
  return route
end

-- The single Kestrune insert of a route. A module that failed to load is kept by Ardour as a
-- silent stand-in (an UnknownProcessor that passes nothing), so every processor is checked.
function M.kestrune_insert(route)
  local found = nil
  local i = 0
  while true do
    local proc = route:nth_processor(i)
    if proc:isnil() then break end
    M.check(proc:to_unknownprocessor():isnil(),
            route:name() .. ": processor '" .. proc:name() .. "' did not load (Ardour kept a stand-in)")
    local insert = proc:to_insert()
    if not insert:isnil() then
      M.check(found == nil, route:name() .. " has more than one plug-in")
      local plugin = insert:plugin(0)
      M.check(plugin:name() == "Kestrune", route:name() .. ": plug-in is '" .. plugin:name() .. "'")
      local expected_id = M.format == "lv2" and M.lv2_uri or "1112689729"
      M.check(plugin:unique_id() == expected_id, "Kestrune has unique ID " .. plugin:unique_id())
      M.check(insert:get_count() == 1, "Ardour replicated the plug-in " .. insert:get_count() .. " times")
      found = proc
    end
    i = i + 1
  end
  M.check(found ~= nil, route:name() .. " has no Kestrune insert")
  return found
end

-- Gain staging that the sample-exact comparison depends on: trim and fader at exactly 1, no
-- polarity inversion, and the panner bypassed so the main outs copy buffer i to port i (a
-- panner's gains are a pan law's numbers, not necessarily exactly 1 and 0).
function M.check_unity(route)
  M.check(route:gain_control():get_value() == 1, route:name() .. ": fader is not at unity")
  M.check(route:trim_control():get_value() == 1, route:name() .. ": trim is not at unity")
  M.check(not route:phase_control():inverted(0) and not route:phase_control():inverted(1),
          route:name() .. ": polarity inverted")
  M.check(route:panner_shell():bypassed(), route:name() .. ": panner is not bypassed")
  M.check(not route:muted(), route:name() .. " is muted")
end

return M
