#!/usr/bin/env python3
"""The editor in a real host: jalv.gtk3 (Debian's jalv, a host nobody here wrote) loads the bundle
from the build tree with its editor, on a JACK dummy server, under Xvfb. The editor's window must
appear (jalv falls back to generic controls, "UI: None", when it cannot load it), a screenshot of
the screen is kept, and pointer drags on the threshold knob must reach the plug-in: a tone at
-6 dBFS is left alone at the default threshold of 0 dB and compressed once the knob is dragged
down, by 0.9 dB more for every dB the next drag lowers the threshold at 10:1; wheel notches step
it back by 0.5 dB and a double click restores its default. jalv shows all of it through the
gain_reduction output it prints.

Usage: jalv_editor_test.py LV2_PATH LAYOUT_PROBE WORK_DIR

Every program started here is stopped at the end, whatever happened.
"""
import ctypes
import os
import re
import signal
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "hosts"))
import hosttest  # noqa: E402
from hosttest import check  # noqa: E402

LIBC = ctypes.CDLL("libc.so.6", use_errno=True)
URI = "urn:brisk-lantern:kestrune"
EDITOR_URI = URI + "#editor"
EDITOR_CLASS = "KestruneEditor"
BACKGROUND = (0x1B, 0x1E, 0x23)  # the editor's background colour
PROGRAMS = {
    "/usr/bin/Xvfb": "xvfb", "/usr/bin/jackd": "jackd2", "/usr/bin/jack_wait": "jackd2",
    "/usr/bin/jack_metro": "jackd2", "/usr/bin/jack_connect": "jackd2", "/usr/bin/jalv.gtk3": "jalv",
    "/usr/bin/xdotool": "xdotool", "/usr/bin/import": "imagemagick", "/usr/bin/convert": "imagemagick",
    "/usr/bin/stdbuf": "coreutils",
}


class Children:
    """The programs this test started, stopped in reverse order however the test ends."""

    def __init__(self):
        self.processes = []

    def start(self, command, **options):
        # Each ends with this test even when the test itself is killed (PR_SET_PDEATHSIG).
        process = subprocess.Popen(command, preexec_fn=lambda: LIBC.prctl(1, signal.SIGTERM), **options)
        self.processes.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.processes):
            if process.poll() is None:
                process.send_signal(signal.SIGTERM)
                try:
                    process.wait(timeout=5)
                except subprocess.TimeoutExpired:
                    process.kill()
                    process.wait()


def wait_for(condition, seconds, what):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = condition()
        if result:
            return result
        time.sleep(0.1)
    check(False, "timed out after %d s waiting for %s" % (seconds, what))


def read(path):
    with open(path, "rb") as file:
        return file.read().decode("utf-8", "replace")


def reductions(text):
    return [float(value) for value in re.findall(r"^gain_reduction = (\S+)$", text, re.MULTILINE)]


def start_display(children, work):
    """Xvfb on the first free display, which it writes to a pipe once it accepts clients."""
    reader, writer = os.pipe()
    children.start(["/usr/bin/Xvfb", "-displayfd", str(writer), "-screen", "0", "1024x768x24", "-nolisten", "tcp"],
                   pass_fds=(writer,), stdout=subprocess.DEVNULL, stderr=open(os.path.join(work, "xvfb.log"), "wb"))
    os.close(writer)
    number = b""
    deadline = time.monotonic() + 20
    while not number.endswith(b"\n") and time.monotonic() < deadline:
        chunk = os.read(reader, 16)
        if not chunk:
            break
        number += chunk
    os.close(reader)
    check(number.strip().isdigit(), "Xvfb did not report its display (%r); see %s/xvfb.log" % (number, work))
    return ":" + number.decode().strip()


def test(lv2_path, probe, work):
    for program, package in PROGRAMS.items():
        hosttest.require_program(program, package)
    hosttest.fresh_dir(work)
    children = Children()
    try:
        env = dict(os.environ)
        env["DISPLAY"] = start_display(children, work)
        # A fixed name: JACK reclaims a killed server's registry entry (8 in all) only for its name.
        server = "kestrune-jalv-editor"
        env.update({"JACK_DEFAULT_SERVER": server, "JACK_NO_START_SERVER": "1", "LV2_PATH": lv2_path})
        jack_log = open(os.path.join(work, "jackd.log"), "wb")
        children.start(["/usr/bin/jackd", "--no-realtime", "-n", server, "-d", "dummy", "-r", "48000", "-p", "256"],
                       env=env, stdout=jack_log, stderr=subprocess.STDOUT)
        code, output = hosttest.run(["/usr/bin/jack_wait", "-w", "-t", "20"], env=env, timeout=30)
        check(code == 0, "the JACK dummy server did not start (%s):\n%s" % (code, output))

        client = "kestrune_editor_test"
        jalv_out = os.path.join(work, "jalv.out")
        jalv_err = os.path.join(work, "jalv.err")
        jalv = children.start(["/usr/bin/stdbuf", "-oL", "/usr/bin/jalv.gtk3", "--jack-name", client, "-x",
                               "--print-controls", "-c", "ratio=10", URI],
                              env=env, stdout=open(jalv_out, "wb"), stderr=open(jalv_err, "wb"))

        def ui_line():
            check(jalv.poll() is None, "jalv ended (%s):\n%s" % (jalv.returncode, hosttest.tail(read(jalv_err))))
            found = re.search(r"^UI:\s+(.*)$", read(jalv_out) + read(jalv_err), re.MULTILINE)
            return found.group(1).strip() if found else None
        ui = wait_for(ui_line, 30, "jalv to load a UI")
        check(ui == EDITOR_URI, "jalv fell back to its generic controls (UI: %s):\n%s" % (ui, read(jalv_err)))

        def editor_window():
            check(jalv.poll() is None, "jalv ended (%s) before the editor showed:\n%s"
                  % (jalv.returncode, hosttest.tail(read(jalv_err))))
            code, output = hosttest.run(["/usr/bin/xdotool", "search", "--class", EDITOR_CLASS], env=env)
            return output.split()[0] if code == 0 and output.split() else None
        window = wait_for(editor_window, 20, "the editor's window")
        code, geometry = hosttest.run(["/usr/bin/xdotool", "getwindowgeometry", "--shell", window], env=env)
        check(code == 0, "xdotool cannot read the editor's window: %s" % geometry)
        place = dict(line.split("=", 1) for line in geometry.split() if "=" in line)
        width, height = int(place["WIDTH"]), int(place["HEIGHT"])
        check(width >= 400 and height >= 240, "the editor's window is %dx%d" % (width, height))

        # A tone at -6 dBFS, on for 990 ms of every second: below the default threshold of 0 dB, nothing to reduce.
        children.start(["/usr/bin/jack_metro", "-n", "tone", "-b", "60", "-f", "440", "-A", "0.5", "-D", "990", "-a", "1", "-d", "1"],
                       env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        wait_for(lambda: hosttest.run(["/usr/bin/jack_connect", "tone:60_bpm", client + ":in_l"], env=env)[0] == 0,
                 10, "the tone to connect")
        code, output = hosttest.run(["/usr/bin/jack_connect", "tone:60_bpm", client + ":in_r"], env=env)
        check(code == 0, "jack_connect failed: %s" % output)
        before_count = len(reductions(read(jalv_out)))
        wait_for(lambda: len(reductions(read(jalv_out))) > before_count + 20, 20, "jalv to print the meter")
        before = reductions(read(jalv_out))
        check(max(before) == 0.0, "the tone was compressed before any knob moved: %s" % before[-10:])

        # Drag the threshold knob down, 8 pixels a step as a hand would.
        code, output = hosttest.run([probe, str(width), str(height), "1"])
        check(code == 0, "the layout probe failed: %s" % output)
        knobs = {fields[1]: (fields[2], fields[3]) for fields in (line.split() for line in output.splitlines())}
        x, y = knobs["threshold"]

        def drag(pixels):
            commands = [["mousemove", "--window", window, x, y], ["mousedown", "1"]]
            commands += [["mousemove_relative", "--", "0", "8"]] * (pixels // 8) + [["mouseup", "1"]]
            for command in commands:
                code, output = hosttest.run(["/usr/bin/xdotool"] + command, env=env)
                check(code == 0, "xdotool %s failed: %s" % (" ".join(command), output))
                time.sleep(0.05)

        def settled_reduction(mark):
            """The largest reduction jalv prints over the second after the envelope settled."""
            wait_for(lambda: any(value > 10.0 for value in reductions(read(jalv_out))[mark:]), 20,
                     "the gain reduction to follow the knob")
            time.sleep(0.5)
            start = len(reductions(read(jalv_out)))
            time.sleep(1.2)
            return max(reductions(read(jalv_out))[start:])

        # 80 pixels are 0.4 of the knob's travel: from 0 dB to -48 dB, below the tone.
        drag(80)
        first = settled_reduction(len(before))
        # 40 pixels more take the threshold 24 dB lower: at 10:1 the tone comes down 0.9 * 24 dB more.
        drag(40)
        second = settled_reduction(len(reductions(read(jalv_out))))
        check(abs((second - first) - 21.6) < 0.5,
              "the second drag added %.2f dB of reduction (%.2f to %.2f), expected 21.6" % (second - first, first, second))

        # Four wheel notches up raise the threshold by 0.5 dB each: 1.8 dB less reduction.
        code, output = hosttest.run(["/usr/bin/xdotool", "mousemove", "--window", window, x, y, "click", "--repeat", "4",
                                     "--delay", "50", "4"], env=env)
        check(code == 0, "xdotool could not turn the wheel: %s" % output)
        mark = len(reductions(read(jalv_out)))
        time.sleep(0.5)
        start = len(reductions(read(jalv_out)))
        time.sleep(1.2)
        wheeled = max(reductions(read(jalv_out))[start:])
        check(mark < start and abs((second - wheeled) - 1.8) < 0.3,
              "four wheel notches took off %.2f dB of reduction, expected 1.8" % (second - wheeled))

        # A double click brings the default of 0 dB back: nothing to reduce any more.
        code, output = hosttest.run(["/usr/bin/xdotool", "mousemove", "--window", window, x, y, "click", "--repeat", "2",
                                     "--delay", "80", "1"], env=env)
        check(code == 0, "xdotool could not double-click: %s" % output)
        # The release (100 ms) lets the reduction fade by a factor e every 100 ms.
        time.sleep(1.2)
        start = len(reductions(read(jalv_out)))
        time.sleep(0.5)
        released = max(reductions(read(jalv_out))[start:])
        check(released < 0.01, "a double click left %.3f dB of reduction: the threshold stayed below the tone" % released)
        drag(40)  # back down to -24 dB, for the screenshot
        time.sleep(1.0)

        shot = os.path.join(work, "jalv-editor.png")
        code, output = hosttest.run(["/usr/bin/import", "-window", "root", shot], env=env, timeout=30)
        check(code == 0 and os.path.getsize(shot) > 0, "import could not take the screenshot: %s" % output)
        # The editor drew into its window: its background shows in the screenshot's corner of it.
        left, top = int(place["X"]), int(place["Y"])
        code, pixel = hosttest.run(["/usr/bin/convert", shot, "-crop", "1x1+%d+%d" % (left + 3, top + 3), "txt:-"])
        found = re.search(r"#([0-9A-Fa-f]{6})", pixel)
        check(code == 0 and found, "cannot read the screenshot: %s" % pixel)
        colour = tuple(int(found.group(1)[i:i + 2], 16) for i in (0, 2, 4))
        check(colour == BACKGROUND, "the editor's window shows %s, not its background" % (colour,))
        print("screenshot: %s" % shot)
    finally:
        children.stop_all()


if __name__ == "__main__":
    if len(sys.argv) != 4:
        print(__doc__, file=sys.stderr)
        sys.exit(2)
    hosttest.main(lambda: test(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])))
