#!/usr/bin/env python3
"""lv2apply (Debian's lilv-utils), a host nobody here wrote, renders a 4-channel file (main L/R,
sidechain L/R) through the installed LV2 bundle; the result must equal `kestrune render` of the
same audio and settings through the VST 2.4 module.

Usage: lv2apply_test.py BUILD_DIR KESTRUNE VST_MODULE WORK_DIR

The bundle is installed with `cmake --install BUILD_DIR --component lv2` into a prefix inside
WORK_DIR, and lv2apply finds it there through LV2_PATH, exactly as on a user's machine. The LV2
ports take engineering values; `kestrune render` turns the same values into the VST module's
normalised values through the inverse of its mappings. Where that mapping reaches the value exactly
(the ends of each range, makeup 0 dB, and values such as 10 ms, 5.5:1) the two files must be equal
bit for bit; elsewhere the VST module's float may differ from the typed value in its last bit, so
the samples must agree within 1e-6.
"""
import math
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "hosts"))
import hosttest  # noqa: E402
from hosttest import check  # noqa: E402

URI = "urn:brisk-lantern:kestrune"
LV2APPLY = "/usr/bin/lv2apply"
RATE = 48000
TOLERANCE = 1e-6

# (name, exact, settings by port symbol). Every case compresses its signal hard enough to show.
CASES = [
    # Ends of the ranges: fastest attack, slowest release, 10:1 at -120 dB, keyed by the sidechain.
    ("sidechain-ends", True,
     {"attack": 0.1, "release": 500.0, "ratio": 10.0, "use_sc": 1.0, "threshold": -120.0, "makeup": 0.0}),
    # The other ends, self-keyed: the main pair peaks at +6 dBFS, above a 0 dB threshold.
    ("self-ends", True,
     {"attack": 100.0, "release": 0.1, "ratio": 10.0, "use_sc": 0.0, "threshold": 0.0, "makeup": 18.0}),
    # Values the mappings reach exactly inside the ranges: 10 ms and 100 ms are the defaults' own
    # values, 5.5:1 is the middle, -18 dB makeup the low end.
    ("self-exact-inside", True,
     {"attack": 10.0, "release": 100.0, "ratio": 5.5, "use_sc": 0.0, "threshold": 0.0, "makeup": -18.0}),
    # Typed values as a user would: the "Kick duck" and "Vocal level" presets.
    ("sidechain-kick-duck", False,
     {"attack": 1.0, "release": 180.0, "ratio": 6.0, "use_sc": 1.0, "threshold": -30.0, "makeup": 0.0}),
    ("self-vocal-level", False,
     {"attack": 10.0, "release": 150.0, "ratio": 3.0, "use_sc": 0.0, "threshold": -18.0, "makeup": 3.0}),
]


def signals():
    """Main pair: a chord whose level steps between +6 dBFS and -30 dBFS every 100 ms; sidechain:
    decaying 50 Hz kicks every 250 ms. Silence at both ends."""
    frames = RATE  # one second
    edge = RATE // 20

    def shape(i, value):
        return value if edge <= i < frames - edge else 0.0

    main_l, main_r, key_l, key_r = [], [], [], []
    for i in range(frames):
        t = i / RATE
        level = 2.0 if int(t / 0.1) % 2 == 0 else 0.03
        main_l.append(shape(i, level * math.sin(2 * math.pi * 220.0 * t)))
        main_r.append(shape(i, level * 0.7 * math.sin(2 * math.pi * 277.2 * t + 0.4)))
        kick = 0.9 * math.exp(-((t % 0.25) / 0.04)) * math.sin(2 * math.pi * 50.0 * t)
        key_l.append(shape(i, kick))
        key_r.append(shape(i, 0.8 * kick))
    as_float = lambda channel: [hosttest.float32(x) for x in channel]  # noqa: E731
    return [as_float(c) for c in (main_l, main_r)], [as_float(c) for c in (key_l, key_r)]


def install_bundle(build_dir, work):
    prefix = os.path.join(work, "prefix")
    code, output = hosttest.run(["cmake", "--install", build_dir, "--component", "lv2", "--prefix", prefix])
    check(code == 0, "cmake --install failed (%s):\n%s" % (code, output))
    lv2_dir = os.path.join(prefix, "lib", "lv2")
    bundle = os.path.join(lv2_dir, "kestrune.lv2")
    installed = sorted(os.listdir(bundle)) if os.path.isdir(bundle) else []
    # The editor comes along when the build made it.
    editor = ["kestrune_ui.so"] if os.path.exists(os.path.join(build_dir, "lv2-bundles", "kestrune.lv2",
                                                                "kestrune_ui.so")) else []
    check(installed == sorted(["kestrune.so", "kestrune.ttl", "manifest.ttl", "presets.ttl"] + editor),
          "cmake --install put %s into %s" % (installed, bundle))
    return lv2_dir


def compare(name, exact, rendered, expected, source):
    check(rendered.is_float32() and rendered.channels == 2 and rendered.rate == RATE,
          "%s: lv2apply wrote %s" % (name, rendered.describe()))
    check(rendered.frames == expected.frames,
          "%s: lv2apply wrote %d frames, kestrune %d" % (name, rendered.frames, expected.frames))
    check(expected.data != source.data, "%s: the settings leave the input unchanged" % name)
    ours, theirs = rendered.samples(), expected.samples()
    differences = [abs(a - b) for a, b in zip(ours, theirs)]
    largest = max(differences)
    if exact:
        if rendered.data != expected.data:
            first = next(i for i, d in enumerate(differences) if d != 0 or ours[i] != theirs[i])
            raise hosttest.HostTestFailure(
                "%s: lv2apply differs from kestrune render in %d samples (first at frame %d channel %d: "
                "%r instead of %r, largest difference %g); expected bit for bit" % (
                    name, sum(1 for d in differences if d != 0), first // 2, first % 2,
                    ours[first], theirs[first], largest))
        print("%s: bit for bit (%d frames)" % (name, rendered.frames))
    else:
        check(largest <= TOLERANCE, "%s: largest difference %g exceeds %g" % (name, largest, TOLERANCE))
        print("%s: largest difference %g (%d samples differ)" % (
            name, largest, sum(1 for d in differences if d != 0)))


def test(build_dir, kestrune, module, work_dir):
    hosttest.require_program(LV2APPLY, "lilv-utils")
    hosttest.require_module(module)
    check(os.path.isfile(kestrune), "the kestrune tool is not built (%r)" % kestrune)
    work = hosttest.fresh_dir(os.path.abspath(work_dir))
    env = dict(os.environ)
    env["LV2_PATH"] = install_bundle(build_dir, work)

    (main_l, main_r), (key_l, key_r) = signals()
    main_wav = os.path.join(work, "main.wav")
    key_wav = os.path.join(work, "key.wav")
    four_wav = os.path.join(work, "four.wav")
    hosttest.write_float_wav(main_wav, RATE, [main_l, main_r])
    hosttest.write_float_wav(key_wav, RATE, [key_l, key_r])
    hosttest.write_float_wav(four_wav, RATE, [main_l, main_r, key_l, key_r])
    source = hosttest.Wav(main_wav)

    for name, exact, settings in CASES:
        rendered_path = os.path.join(work, name + "-lv2apply.wav")
        command = [LV2APPLY, "-i", four_wav, "-o", rendered_path]
        for symbol, value in settings.items():
            command += ["-c", symbol, repr(value)]
        command.append(URI)
        code, output = hosttest.run(command, env=env)
        check(code == 0, "%s failed (exit code %s):\n%s" % (" ".join(command), code, output))

        expected_path = os.path.join(work, name + "-kestrune.wav")
        command = [kestrune, "render", main_wav, "-o", expected_path, "--format", "float", "--plugin", module, "-q",
                   "--attack", repr(settings["attack"]), "--release", repr(settings["release"]),
                   "--ratio", repr(settings["ratio"]), "--threshold", repr(settings["threshold"]),
                   "--makeup", repr(settings["makeup"])]
        if settings["use_sc"]:
            command += ["--sidechain", key_wav]
        code, output = hosttest.run(command)
        check(code == 0, "%s failed (exit code %s):\n%s" % (" ".join(command), code, output))
        compare(name, exact, hosttest.Wav(rendered_path), hosttest.Wav(expected_path), source)


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    hosttest.main(lambda: test(*sys.argv[1:]))
