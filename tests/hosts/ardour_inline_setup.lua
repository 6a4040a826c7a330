-- luasession run of the inline-display test: a session whose track "Main" feeds Kestrune (LV2) a
-- steady 0.5 from the script "Steady 0.5" in front of it, monitoring its input so that it
-- processes with the transport stopped. Before saving, the track's meter must read the level that
-- the driver expects after the compressor, so the picture the GUI run shows is of a plug-in that
-- compresses.
--
-- Arguments: COMMON_LUA SESSION_DIR SESSION_NAME RATE PLUGIN_DIR PARAMETERS BELOW_FULL_SCALE
--   PARAMETERS are the six control inputs in engineering units, comma-separated, in port order
--   (the first is positive: luasession would take a leading minus sign for an option);
--   BELOW_FULL_SCALE is how many dB the steady output peak lies below 0 dBFS, checked within 0.05 dB.

local common = dofile(arg[1])
local session_dir, session_name, rate, plugin_dir, parameters, expected =
  arg[2], arg[3], tonumber(arg[4]), arg[5], common.numbers(arg[6]), -tonumber(arg[7])

common.run(function ()
  common.check(#parameters == 6, "expected six parameter values, got " .. #parameters)
  common.start_engine(plugin_dir, rate)
  common.check(create_session(session_dir, session_name, rate), "create_session failed")

  local tracks = Session:new_audio_track(2, 2, nil, 1, "Main", ARDOUR.PresentationInfo.max_order,
                                         ARDOUR.TrackMode.Normal, false, false)
  common.check(tracks:size() == 1, "could not create track Main")
  local main = tracks:front()
  main:monitoring_control():set_value(ARDOUR.MonitorChoice.MonitorInput, PBD.GroupControlDisposition.NoGroup)
  local master = Session:master_out()
  for i = 0, 1 do
    common.check(main:output():audio(i):connect(master:input():audio(i):name()) == 0,
                 "could not connect Main to the master bus")
  end

  local proc = common.new_kestrune()
  common.check(not proc:isnil(), "Ardour does not know " .. common.lv2_uri .. ": the bundle is not on LV2_PATH")
  common.check(main:add_processor_by_index(proc, 0, nil, true) == 0, "could not insert Kestrune")
  for i = 0, 5 do
    common.check(ARDOUR.LuaAPI.set_processor_param(proc, i, parameters[i + 1]), "could not set parameter " .. i)
  end
  common.kestrune_insert(main)

  -- Found by name in the user's script folder, where the driver put it; the session keeps a copy.
  local steady = ARDOUR.LuaAPI.new_luaproc(Session, "Steady 0.5")
  common.check(not steady:isnil(), "Ardour did not load the script 'Steady 0.5' from its script folder")
  common.check(main:add_processor_by_index(steady, 0, nil, true) == 0, "could not insert the steady source")

  -- A few release times after the attack, the envelope rests at the steady reduction.
  local level = {}
  for _ = 1, 20 do
    ARDOUR.LuaAPI.usleep(100000)
    level = {main:peak_meter():meter_level(0, ARDOUR.MeterType.MeterPeak),
             main:peak_meter():meter_level(1, ARDOUR.MeterType.MeterPeak)}
    if math.abs(level[1] - expected) < 0.05 and math.abs(level[2] - expected) < 0.05 then break end
  end
  for i = 1, 2 do
    common.check(math.abs(level[i] - expected) < 0.05, string.format(
      "channel %d peaks at %.3f dBFS after Kestrune, expected %.3f dBFS", i, level[i], expected))
  end

  common.check(Session:save_state("", false, false, false, false, false) == 0, "save_state failed")
end)
