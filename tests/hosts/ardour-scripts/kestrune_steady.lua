ardour {
  ["type"]    = "dsp",
  name        = "Steady 0.5",
  category    = "Utility",
  license     = "MIT",
  author      = "Brisk Lantern",
  description = "Writes a constant 0.5 to both channels: a key of exactly -6.02 dBFS, whatever the audio backend delivers"
}

function dsp_ioconfig ()
  return { { audio_in = 2, audio_out = 2 } }
end

function dsp_run (ins, outs, n_samples)
  for c = 1, #outs do
    local samples = outs[c]:array()
    for i = 1, n_samples do samples[i] = 0.5 end
  end
end
