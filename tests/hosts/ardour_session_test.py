#!/usr/bin/env python3
"""Ardour's engine, headless, runs Kestrune in a session; its master-bus export must equal, bit for
bit, what `kestrune render` makes of the same audio with the same parameters.

Usage: ardour_session_test.py CASE MODULE KESTRUNE WORK_DIR [LV2_BUNDLE]

  self           one stereo track "Main" with Kestrune keyed by its own signal
  sidechain      a second track "Key" feeds Kestrune's sidechain input, "use SC" on; compared with
                 `kestrune render --sidechain`
  lv2-self       as self, with the LV2 edition from LV2_BUNDLE (found by Ardour through LV2_PATH)
  lv2-sidechain  as sidechain, with the LV2 edition set by its "Kick duck" preset

MODULE is always the VST 2.4 module: `kestrune render` runs it for the expected file. The LV2
edition takes engineering values, which `kestrune render` gets as --attack, --ratio, ...; they are
values the VST module's mappings reach exactly, so the files can be equal bit for bit.

The comparison can be exact because Kestrune has no latency and its output does not depend on the
block size, and because nothing else in the signal path changes a sample: the session runs at the
signal's rate, faders and trims sit at exactly 1, panners are bypassed, region fades are off, and
the export writes 32-bit float without dither or normalisation. The test signals begin and end
with silence, so Ardour's de-click ramps at transport start and stop multiply zeros only (silence
also leaves Kestrune's envelope at rest). Ardour runs its process threads with flush-to-zero and
denormals-are-zero; the signals and settings keep every value far from the subnormal range, where
that would make the two hosts differ.

Steps, each a separate process:
  1. ardour-vst-scanner fills the plug-in cache (Ardour itself only reads that cache); the LV2
     bundle needs no scan, it is copied into a folder on LV2_PATH;
  2. luasession runs ardour_session_setup.lua: tracks, plug-in, wiring, parameters, save;
  3. this script writes the audio into the session: channel files in interchange/, and the
     <Sources>, <Regions> and playlist entries that a recording would have written (Ardour 7.3's
     Lua has no import);
  4. luasession runs ardour_session_export.lua: reload, check, export the master bus;
  5. `kestrune render` of the same input, then a byte comparison of the sample data.
luasession now and then crashes or hangs on its way out; a run counts as done when its script
printed its marker (and, for the export, the file exists). A run that ended otherwise is retried,
up to three times, and the retries are reported.
"""
import math
import os
import shutil
import sys
import time
import xml.etree.ElementTree as ElementTree

import hosttest
from hosttest import check

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 44100
SESSION_NAME = "hosttest"
EXPORT_PRESET_ID = "300e8803-2d50-4937-90ed-dc1fa17e2504"  # ardour-export/kestrune-float.preset
RETRIES = 3
RUN_TIMEOUT = 60  # seconds for one luasession run; a healthy one takes about three


class Case:
    def __init__(self, edition, keying, values, preset=None):
        self.edition = edition  # "vst" or "lv2"
        self.keying = keying    # "self" or "sidechain"
        self.values = values    # index order Attack, Release, Ratio, use SC, Thresh, Makeup
        self.preset = preset    # a preset that holds exactly these values, loaded instead


# VST: normalised values. LV2: engineering values, each reached exactly by the VST module's mapping
# from some normalised value (10 ms and 100 ms are the defaults' own values, 5.5:1 = 1 + 9 * 0.5,
# +4.5 dB = 36 * 0.625 - 18, and the preset's values render bit for bit through lv2apply too). All
# are exact in single precision and as decimal text, so they reach the plug-in unchanged.
CASES = {
    # 6.34 ms, 125.08 ms, 5.5:1, off, -18.06 dB, +4.5 dB
    "self": Case("vst", "self", [0.0625, 0.25, 0.5, 0.0, 0.5, 0.625]),
    # 3.22 ms, 187.56 ms, 7.75:1, on, -18.06 dB, +2.25 dB
    "sidechain": Case("vst", "sidechain", [0.03125, 0.375, 0.75, 1.0, 0.5, 0.5625]),
    "lv2-self": Case("lv2", "self", [10.0, 100.0, 5.5, 0.0, -30.0, 4.5]),
    "lv2-sidechain": Case("lv2", "sidechain", [1.0, 180.0, 6.0, 1.0, -30.0, 0.0], preset="Kick duck"),
}
ENGINEERING_OPTIONS = ["--attack", "--release", "--ratio", None, "--threshold", "--makeup"]


# --- test signals ---------------------------------------------------------------------------------

def padded(frames, body):
    """body(t) for t in seconds inside [0.25 s, length - 0.25 s), exact silence around it."""
    edge = RATE // 4
    return [body(i / RATE) if edge <= i < frames - edge else 0.0 for i in range(frames)]


def signals(case):
    """Stereo main signal, and for the sidechain case a stereo key, as float32 values."""
    frames = 2 * RATE
    if case == "self":
        # Two tones whose level steps between loud (far above the threshold) and quiet every
        # 150 ms: the compressor attacks and releases several times.
        def level(t):
            return 0.9 if int(t / 0.15) % 2 == 0 else 0.08
        left = padded(frames, lambda t: level(t) * math.sin(2 * math.pi * 220.0 * t))
        right = padded(frames, lambda t: level(t) * 0.8 * math.sin(2 * math.pi * 331.0 * t + 0.3))
        main, key = [left, right], None
    else:
        # A steady chord below the threshold (it would pass untouched if it keyed itself) ducked
        # by decaying 55 Hz kicks every 200 ms on the key.
        left = padded(frames, lambda t: 0.1 * math.sin(2 * math.pi * 440.0 * t))
        right = padded(frames, lambda t: 0.1 * math.sin(2 * math.pi * 554.37 * t))

        def kick(gain):
            return lambda t: gain * math.exp(-((t - 0.25) % 0.2) / 0.03) * math.sin(2 * math.pi * 55.0 * t)
        main, key = [left, right], [padded(frames, kick(0.9)), padded(frames, kick(0.7))]
    as_float = lambda channels: [[hosttest.float32(x) for x in channel] for channel in channels]
    return as_float(main), (as_float(key) if key else None)


# --- the session file -----------------------------------------------------------------------------

class SessionFile:
    """The parts of a saved Ardour 7 session that hold audio: sources, regions, playlists."""

    def __init__(self, session_dir):
        self.path = os.path.join(session_dir, SESSION_NAME + ".ardour")
        check(os.path.isfile(self.path), "the first run saved no session file")
        # interchange/ holds one folder, named after the session folder (not the session name).
        interchange = os.path.join(session_dir, "interchange")
        folders = os.listdir(interchange) if os.path.isdir(interchange) else []
        check(len(folders) == 1, "expected one folder in %s, found %s" % (interchange, folders))
        self.audio_dir = os.path.join(interchange, folders[0], "audiofiles")
        check(os.path.isdir(self.audio_dir), "the session has no folder %s" % self.audio_dir)
        self.tree = ElementTree.parse(self.path)
        self.root = self.tree.getroot()
        # Ardour 7 writes audio times as "a" + superclock ticks.
        ticks_per_second = int(self.root.find("TempoMap").get("superclocks-per-second"))
        check(ticks_per_second % RATE == 0, "superclock does not divide %d Hz" % RATE)
        self.ticks_per_sample = ticks_per_second // RATE

    def check_master_volume(self):
        """The master bus's volume control (not reachable from Lua) scales the main outs."""
        masters = [route for route in self.root.findall("Routes/Route")
                   if "MasterOut" in route.find("PresentationInfo").get("flags").split(",")]
        check(len(masters) == 1, "the session has %d master buses" % len(masters))
        master = masters[0]
        volume = master.find("Controllable[@name='mastervolume']")
        check(volume is None or float(volume.get("value")) == 1.0, "the master volume is not at unity")

    def new_id(self):
        counter = int(self.root.get("id-counter"))
        self.root.set("id-counter", str(counter + 1))
        return str(counter)

    def add_track_audio(self, track, channels):
        """Puts channels (two float32 lists) at position 0 of the track's playlist, as one
        two-channel region read from one mono file per channel, the way a recording is stored."""
        route = self.root.find("Routes/Route[@name='%s']" % track)
        check(route is not None, "the session has no track %s" % track)
        playlist = self.root.find("Playlists/Playlist[@orig-track-id='%s']" % route.get("id"))
        check(playlist is not None, "track %s has no playlist" % track)

        source_ids = []
        for side, samples in zip("LR", channels):
            name = "%s%%%s.wav" % (track, side)
            hosttest.write_float_wav(os.path.join(self.audio_dir, name), RATE, [samples])
            source_ids.append(self.new_id())
            ElementTree.SubElement(self.root.find("Sources"), "Source", {
                "name": name, "type": "audio", "flags": "", "id": source_ids[-1], "channel": "0",
                "origin": "", "gain": "1", "natural-position": "a0"})

        length = "a%d@a0" % (len(channels[0]) * self.ticks_per_sample)  # length at position 0

        def region(name, whole_file):
            attributes = {
                "name": name, "muted": "0", "opaque": "1", "locked": "0", "video-locked": "0",
                "automatic": "1" if whole_file else "0", "whole-file": "1" if whole_file else "0",
                "import": "0", "external": "0", "sync-marked": "0", "left-of-split": "0",
                "right-of-split": "0", "hidden": "0", "position-locked": "0", "valid-transients": "0",
                "start": "a0", "length": length, "sync-position": "a0", "ancestral-start": "a0",
                "ancestral-length": "a0@a0", "stretch": "1", "shift": "1", "layering-index": "0",
                "tags": "", "contents": "0", "envelope-active": "0", "default-fade-in": "0",
                "default-fade-out": "0", "scale-amplitude": "1", "id": self.new_id(), "type": "audio",
                "first-edit": "nothing", "channels": "2",
                # Ardour gives every region 64-sample fades; active they would shape the first and
                # last samples, so they are switched off.
                "fade-in-active": "0", "fade-out-active": "0"}
            for index, source_id in enumerate(source_ids):
                attributes["source-%d" % index] = source_id
                attributes["master-source-%d" % index] = source_id
            return attributes

        # The whole-file region is what the region list shows; the playlist holds a copy of it.
        ElementTree.SubElement(self.root.find("Regions"), "Region", region(track, True))
        copy = ElementTree.SubElement(playlist, "Region", region(track + ".1", False))
        ElementTree.SubElement(copy, "Envelope", {"default": "yes"})

    def save(self):
        self.tree.write(self.path, encoding="UTF-8", xml_declaration=True)


# --- luasession runs ------------------------------------------------------------------------------

def luasession(script, arguments, env, label, prepare, done):
    """Runs a luasession script until it succeeds, at most 1 + RETRIES times. prepare() clears what
    a failed attempt left; done() tells whether the run's product exists. Returns the retry count."""
    command = [hosttest.ARDOUR_LUASESSION, os.path.join(HERE, script), os.path.join(HERE, "ardour_common.lua")]
    command += [str(argument) for argument in arguments]
    for attempt in range(1 + RETRIES):
        prepare()
        started = time.monotonic()
        code, output = hosttest.run(command, env=env, timeout=RUN_TIMEOUT)
        seconds = time.monotonic() - started
        failures = [line for line in output.splitlines() if line.startswith("KESTRUNE-FAIL")]
        if failures:
            # The script itself found something wrong: that is the same on every attempt.
            print(hosttest.tail(output, 40))
            raise hosttest.HostTestFailure("%s: %s" % (label, failures[0][len("KESTRUNE-FAIL: "):]))
        if "KESTRUNE-OK" in output.splitlines() and done():
            print("luasession %s: done on attempt %d (%d retries) in %.1f s, exit code %s"
                  % (label, attempt + 1, attempt, seconds, code))
            return attempt
        print("luasession %s: attempt %d ended without its result (exit code %s, %.1f s); last output:\n%s"
              % (label, attempt + 1, code, seconds, hosttest.tail(output)))
    raise hosttest.HostTestFailure("%s: no attempt of %d succeeded" % (label, 1 + RETRIES))


# --- comparison -----------------------------------------------------------------------------------

def compare(exported, expected, hints):
    print(exported.describe())
    print(expected.describe())
    for wav in (exported, expected):
        check(wav.is_float32() and wav.channels == 2 and wav.rate == RATE,
              "%s is not 32-bit float stereo at %d Hz" % (wav.path, RATE))
    check(exported.frames == expected.frames,
          "Ardour exported %d frames, kestrune rendered %d" % (exported.frames, expected.frames))
    if exported.data == expected.data:
        return
    ours, theirs = exported.samples(), expected.samples()
    differing = [i for i in range(len(ours)) if ours[i] != theirs[i]]
    first = differing[0]
    explanation = [name for name, other in hints if other.data == exported.data]
    raise hosttest.HostTestFailure(
        "Ardour's export differs from kestrune render in %d of %d samples; first at frame %d channel %d: "
        "%r instead of %r; largest difference %g%s" % (
            len(differing), len(ours), first // 2, first % 2, ours[first], theirs[first],
            max(abs(ours[i] - theirs[i]) for i in differing),
            "; the export equals " + explanation[0] if explanation else ""))


def install_vst(module, work, env):
    """Scans the VST module into Ardour's cache; returns the plug-in folder Ardour is to search."""
    # Ardour keeps a cache entry only while it is newer, in whole seconds, than the module: a
    # module built within the same second as the scan silently goes missing. The module is
    # copied and back-dated, and scanned by the very path Ardour will search.
    plugin_dir = hosttest.fresh_dir(os.path.join(work, "plugins"))
    plugin = os.path.join(plugin_dir, "Kestrune.so")
    shutil.copyfile(module, plugin)
    back = time.time() - 10
    os.utime(plugin, (back, back))
    code, output = hosttest.run([hosttest.ARDOUR_VST_SCANNER, plugin], env=env)
    print(output.rstrip())
    check(code == 0, "ardour-vst-scanner exited with %s" % code)
    cache_dir = os.path.join(env["XDG_CACHE_HOME"], "ardour7", "vst")
    entries = os.listdir(cache_dir) if os.path.isdir(cache_dir) else []
    check(len(entries) == 1, "the scanner left %s in its cache, expected one entry" % entries)
    check(int(os.path.getmtime(os.path.join(cache_dir, entries[0]))) > int(os.path.getmtime(plugin)),
          "the cache entry is not newer than the module")
    return plugin_dir


def install_lv2(bundle, work, env):
    """Copies the LV2 bundle into a folder of its own and puts that folder on LV2_PATH."""
    check(os.path.isfile(os.path.join(bundle, "manifest.ttl")), "%s is no LV2 bundle; build kestrune_lv2" % bundle)
    lv2_dir = hosttest.fresh_dir(os.path.join(work, "lv2"))
    shutil.copytree(bundle, os.path.join(lv2_dir, "kestrune.lv2"))
    env["LV2_PATH"] = lv2_dir
    env["KESTRUNE_ARDOUR_FORMAT"] = "lv2"
    return lv2_dir


def test(case_name, module, kestrune, work_dir, lv2_bundle):
    case = CASES[case_name]
    for program in (hosttest.ARDOUR_VST_SCANNER, hosttest.ARDOUR_LUASESSION):
        hosttest.require_program(program, hosttest.ARDOUR_PACKAGE)
    hosttest.require_module(module)
    check(kestrune and os.path.isfile(kestrune),
          "the kestrune tool is not built (%r); configure with KESTRUNE_BUILD_TOOLS=ON" % kestrune)
    check(case.edition == "vst" or lv2_bundle, "case %s needs the LV2 bundle" % case_name)
    parameters = case.values

    work = hosttest.fresh_dir(os.path.abspath(work_dir))
    env = hosttest.ardour_environment(work)
    preset_dir = os.path.join(env["XDG_CONFIG_HOME"], "ardour7", "export")
    shutil.copytree(os.path.join(HERE, "ardour-export"), preset_dir)
    if case.edition == "lv2":
        plugin_dir = install_lv2(lv2_bundle, work, env)
        if case.preset:
            env["KESTRUNE_ARDOUR_PRESET"] = case.preset
    else:
        plugin_dir = install_vst(module, work, env)

    main, key = signals(case.keying)
    frames = len(main[0])
    input_wav = os.path.join(work, "main.wav")
    hosttest.write_float_wav(input_wav, RATE, main)
    if key:
        key_wav = os.path.join(work, "key.wav")
        hosttest.write_float_wav(key_wav, RATE, key)

    session_dir = os.path.join(work, SESSION_NAME)
    common_arguments = [session_dir, SESSION_NAME, RATE, plugin_dir, case.keying,
                        ",".join(repr(v) for v in parameters)]
    setup_retries = luasession(
        "ardour_session_setup.lua", common_arguments, env, "setup",
        prepare=lambda: shutil.rmtree(session_dir, ignore_errors=True),
        done=lambda: os.path.isfile(os.path.join(session_dir, SESSION_NAME + ".ardour")))

    session = SessionFile(session_dir)
    session.check_master_volume()
    session.add_track_audio("Main", main)
    if key:
        session.add_track_audio("Key", key)
    session.save()

    export_dir = os.path.join(work, "export")
    exported_path = os.path.join(export_dir, "master.wav")
    export_retries = luasession(
        "ardour_session_export.lua", common_arguments + [EXPORT_PRESET_ID, export_dir, "master", frames],
        env, "export", prepare=lambda: hosttest.fresh_dir(export_dir),
        done=lambda: os.path.isfile(exported_path))
    summary = "Ardour luasession retries (%s): setup %d, export %d" % (case_name, setup_retries, export_retries)
    print(summary)
    # CTest hides a passing test's output; the suite's script prints this file instead.
    with open(os.path.join(work, "luasession-retries.txt"), "w") as note:
        note.write(summary + "\n")

    def render(name, sidechain, values):
        output = os.path.join(work, name)
        command = [kestrune, "render", input_wav, "-o", output, "--format", "float", "--plugin", module, "-q"]
        if sidechain:
            command += ["--sidechain", sidechain]
        if case.edition == "vst":
            for parameter, value in zip(hosttest.EXPECTED_PARAMETERS, values):
                command += ["--param", "%s=%r" % (parameter, value)]
        else:
            # "use SC" follows --sidechain.
            for option, value in zip(ENGINEERING_OPTIONS, values):
                if option:
                    command += [option, repr(value)]
        code, text = hosttest.run(command)
        check(code == 0, "%s failed (exit code %s):\n%s" % (" ".join(command), code, text))
        return hosttest.Wav(output)

    expected = render("expected.wav", key_wav if key else None, parameters)
    source = hosttest.Wav(input_wav)
    # The parameters must matter, or an Ardour that never passed them on would still pass.
    check(expected.data != source.data, "the chosen parameters leave the input unchanged")
    hints = [("the unprocessed input (Kestrune got no parameters or was bypassed)", source)]
    if key:
        # Likewise the key: self-keyed, the same settings give another result.
        self_keyed = render("self-keyed.wav", None, parameters[:3] + [0.0] + parameters[4:])
        check(self_keyed.data != expected.data, "the key has no effect on the render")
        hints.append(("the self-keyed render (the sidechain did not reach Kestrune)", self_keyed))

    compare(hosttest.Wav(exported_path), expected, hints)
    print("Ardour's master-bus export equals kestrune render bit for bit (%d frames, case %s)"
          % (frames, case_name))


if __name__ == "__main__":
    if len(sys.argv) not in (5, 6) or sys.argv[1] not in CASES:
        sys.exit(__doc__)
    hosttest.main(lambda: test(sys.argv[1], os.path.abspath(sys.argv[2]), sys.argv[3], sys.argv[4],
                               os.path.abspath(sys.argv[5]) if len(sys.argv) == 6 else None))
