-- Second luasession run of the Ardour session test: loads the session that the driver completed
-- with the audio regions, checks that everything it needs survived the reload, and exports the
-- master bus.
--
-- Arguments: COMMON_LUA SESSION_DIR SESSION_NAME RATE PLUGIN_DIR CASE PARAMETERS
--            PRESET_ID OUTPUT_DIR OUTPUT_NAME FRAMES
--   PRESET_ID names the export preset (32-bit float WAV at the session rate, no dither, no
--   normalisation) that the driver put into the isolated user configuration; the export covers
--   samples 0 .. FRAMES - 1 and is written as OUTPUT_DIR/OUTPUT_NAME.wav.

local common = dofile(arg[1])
local session_dir, session_name, rate, plugin_dir, case, parameters =
  arg[2], arg[3], tonumber(arg[4]), arg[5], arg[6], common.numbers(arg[7])
local preset_id, output_dir, output_name, frames = arg[8], arg[9], arg[10], tonumber(arg[11])

common.run(function ()
  common.start_engine(plugin_dir, rate)
  common.check(load_session(session_dir, session_name), "load_session failed")
  common.check(Session:nominal_sample_rate() == rate,
               "session runs at " .. Session:nominal_sample_rate() .. " Hz, not " .. rate)

  local main = common.route("Main")
  local master = Session:master_out()
  local proc = common.kestrune_insert(main)
  common.check_unity(main)
  common.check_unity(master)

  -- The values set in the first run must be the ones the plug-in holds now. They travel through
  -- the session file as text and back through setParameter as floats; the test uses values that
  -- single precision holds exactly.
  for i = 0, 5 do
    local value = ARDOUR.LuaAPI.get_processor_param(proc, i, true)
    common.check(value == parameters[i + 1],
                 "parameter " .. i .. " is " .. tostring(value) .. " after loading, expected " .. parameters[i + 1])
  end

  for i = 0, 1 do
    common.check(main:output():audio(i):connected_to(master:input():audio(i):name()),
                 "Main is no longer wired to the master bus")
  end
  local playlist = main:to_track():playlist()
  common.check(playlist:region_list():size() == 1, "Main's playlist holds " .. playlist:region_list():size() .. " regions")

  if case == "sidechain" then
    local key = common.route("Key")
    common.check_unity(key)
    local sidechain = proc:to_insert():sidechain_input()
    common.check(not sidechain:isnil() and sidechain:n_ports():n_audio() == 2,
                 "Kestrune's sidechain input did not survive the reload")
    for i = 0, 1 do
      common.check(key:output():audio(i):connected_to(sidechain:audio(i):name()),
                   "Key is no longer wired to the sidechain")
      common.check(not key:output():audio(i):connected_to(master:input():audio(i):name()),
                   "Key also reaches the master bus")
    end
    common.check(key:to_track():playlist():region_list():size() == 1, "Key's playlist holds no single region")
  end

  local export = Session:simple_export()
  common.check(export:set_preset(preset_id), "export preset " .. preset_id .. " not found")
  export:set_folder(output_dir)
  export:set_name(output_name)
  export:set_range(0, frames)
  common.check(export:check_outputs(), "the master bus has no outputs to export")
  common.check(export:run_export(), "the export failed")
end)
