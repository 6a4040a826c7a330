-- First luasession run of the Ardour session test: builds and saves the session.
--
-- Arguments: COMMON_LUA SESSION_DIR SESSION_NAME RATE PLUGIN_DIR CASE PARAMETERS
--   CASE is "self" (Kestrune keys from its own track) or "sidechain" (a track "Key" feeds the
--   insert's sidechain); PARAMETERS are the six parameter values, comma-separated, in index order:
--   normalised for the VST 2.4 module, engineering units for the LV2 plug-in.
-- Environment: KESTRUNE_ARDOUR_FORMAT (see ardour_common.lua); KESTRUNE_ARDOUR_PRESET, when set,
--   names a preset of the plug-in that Ardour loads instead of setting the values one by one (they
--   must then be what the preset holds).
--
-- Result: track "Main" (stereo, Kestrune inserted) wired to the master bus, for "sidechain" also
-- track "Key" wired only to Kestrune's sidechain inputs. The audio is put on the tracks by the
-- driver afterwards, because Ardour 7.3's Lua cannot import files.

local common = dofile(arg[1])
local session_dir, session_name, rate, plugin_dir, case, parameters =
  arg[2], arg[3], tonumber(arg[4]), arg[5], arg[6], common.numbers(arg[7])

common.run(function ()
  common.check(#parameters == 6, "expected six parameter values, got " .. #parameters)
  common.start_engine(plugin_dir, rate)
  common.check(create_session(session_dir, session_name, rate), "create_session failed")

  local function stereo_track(name)
    -- (inputs, outputs, group, how many, name, order, mode, input auto-connect, trigger visibility)
    local tracks = Session:new_audio_track(2, 2, nil, 1, name, ARDOUR.PresentationInfo.max_order,
                                           ARDOUR.TrackMode.Normal, false, false)
    common.check(tracks:size() == 1, "could not create track " .. name)
    local track = tracks:front()
    track:panner_shell():set_bypassed(true)
    return track
  end

  local main = stereo_track("Main")
  local master = Session:master_out()
  master:panner_shell():set_bypassed(true)

  local proc = common.new_kestrune()
  if common.format == "lv2" then
    common.check(not proc:isnil(), "Ardour does not know " .. common.lv2_uri .. ": the bundle is not on LV2_PATH")
  else
    common.check(not proc:isnil(), "Ardour does not know Kestrune: it was not in the scanner's cache "
                 .. "(scan by the exact path of the plug-in folder; the cache must be newer than the module)")
  end
  common.check(main:add_processor_by_index(proc, 0, nil, true) == 0, "could not insert Kestrune")
  local insert = proc:to_insert()

  for i = 0, 1 do
    common.check(main:output():audio(i):connect(master:input():audio(i):name()) == 0,
                 "could not connect Main to the master bus")
  end

  if case == "sidechain" then
    local key = stereo_track("Key")
    common.check(main:add_sidechain(proc), "could not add a sidechain to Kestrune")
    local sidechain = insert:sidechain_input()
    common.check(not sidechain:isnil(), "Kestrune's insert has no sidechain input")
    while sidechain:n_ports():n_audio() < 2 do
      common.check(sidechain:add_port("", nil, ARDOUR.DataType("audio")) == 0, "could not add a sidechain port")
    end
    -- Key goes to the sidechain only: were it also on the master bus, the export would hold the
    -- key signal mixed into Kestrune's output.
    for i = 0, 1 do
      common.check(key:output():audio(i):connect(sidechain:audio(i):name()) == 0,
                   "could not connect Key to the sidechain")
    end
    -- Plug-in pin i reads buffer i: pins 0 and 1 the track's own channels, pins 2 and 3 the two
    -- sidechain ports, which follow the track's channels in the insert's buffers.
    local map = ARDOUR.ChanMapping()
    for i = 0, 3 do map:set(ARDOUR.DataType("audio"), i, i) end
    insert:set_input_map(0, map)
  end

  local preset = os.getenv("KESTRUNE_ARDOUR_PRESET") or ""
  if preset ~= "" then
    local plugin = insert:plugin(0)
    local record = plugin:preset_by_label(preset)
    common.check(record and record.valid, "Ardour does not list the preset '" .. preset .. "'")
    common.check(plugin:load_preset(record), "Ardour could not load the preset '" .. preset .. "'")
  else
    for i = 0, 5 do
      common.check(ARDOUR.LuaAPI.set_processor_param(proc, i, parameters[i + 1]),
                   "could not set parameter " .. i)
    end
  end
  for i = 0, 5 do
    local value = ARDOUR.LuaAPI.get_processor_param(proc, i, true)
    common.check(value == parameters[i + 1],
                 "parameter " .. i .. " is " .. tostring(value) .. ", expected " .. parameters[i + 1])
  end

  common.kestrune_insert(main)
  common.check_unity(main)
  common.check_unity(master)
  common.check(Session:save_state("", false, false, false, false, false) == 0, "save_state failed")
end)
