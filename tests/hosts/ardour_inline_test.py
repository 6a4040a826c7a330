#!/usr/bin/env python3
"""Ardour's own mixer window draws Kestrune's inline display while the plug-in compresses: a
screenshot of the mixer strip shows the picture with its bar ending at the row of the reduction.

Usage: ardour_inline_test.py LV2_BUNDLE PICTURE_SOURCE WORK_DIR

PICTURE_SOURCE is the picture's source file (lv2/ReductionPicture.cpp); the colours are read from
it and the dB range from its header beside it, so the test looks for what the plug-in paints.

Steps:
  1. luasession (Dummy backend) builds the session: track "Main" monitors its input, the Lua DSP
     script "Steady 0.5" writes a constant 0.5 into it, Kestrune follows; the track's meter must
     already read the compressed level the closed form below gives;
  2. the session opens in the full Ardour GUI under Xvfb, on a JACK dummy server this script
     starts, with the mixer as the first page; the user configuration makes Ardour skip its
     first-run wizard and its engine dialog;
  3. screenshots of the root window, once a second, until the strip shows the picture with the
     bar at the expected row or the time is up. Each attempt keeps its last screenshot and the
     programs' output in WORK_DIR (attemptN-*); a passing one is copied to WORK_DIR/ardour-mixer.png.
Ardour, Xvfb and jackd each run in a process group of their own and are killed after every
attempt. A GUI run that ends without the picture is retried twice; the retries are reported.

The signal is steady, so the reduction has a closed form: a key of 20 log10(0.5) dBFS lies
L - T dB above the threshold T, and the ratio R turns that into (L - T)(1 - 1/R) dB of reduction.
"""
import math
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import xml.etree.ElementTree as ElementTree

import hosttest
from hosttest import check
import ardour_session_test

HERE = os.path.dirname(os.path.abspath(__file__))
RATE = 48000
SESSION_NAME = "inline"
ARDOUR_GUI = "/usr/bin/ardour"
STEADY_LEVEL = 0.5
# Port order: attack ms, release ms, ratio, use SC, threshold dB, makeup dB.
PARAMETERS = [1.0, 100.0, 4.0, 0.0, -30.0, 0.0]
GUI_ATTEMPTS = 3
PICTURE_TIMEOUT = 40  # seconds from Ardour's start until the strip must show the picture
SCREEN = (1600, 1000)
# The programs the GUI run needs besides Ardour, with their Debian packages.
TOOLS = [("/usr/bin/Xvfb", "xvfb"), ("/usr/bin/jackd", "jackd2"), ("/usr/bin/jack_wait", "jackd2"),
         ("/usr/bin/xdotool", "xdotool"), ("/usr/bin/import", "imagemagick"), ("/usr/bin/convert", "imagemagick")]


def expected_reduction_db():
    level = 20.0 * math.log10(STEADY_LEVEL)
    threshold, ratio = PARAMETERS[4], PARAMETERS[2]
    return (level - threshold) * (1.0 - 1.0 / ratio)


# --- what the plug-in paints ----------------------------------------------------------------------

class Palette:
    """The picture's colours (RGB) and its dB range, as the plug-in's source defines them."""

    def __init__(self, source):
        check(os.path.isfile(source), "%s does not exist" % source)
        with open(source) as file:
            text = file.read()
        colours = dict((name, int(value, 16) & 0xFFFFFF) for name, value in
                       re.findall(r"constexpr std::uint32_t (k\w+) = 0x([0-9A-Fa-f]{8})u;", text))
        for name in ("kBackground", "kGrid", "kHistoryFill", "kHistoryLine", "kBar"):
            check(name in colours, "%s defines no colour %s" % (source, name))
        rgb = lambda value: ((value >> 16) & 0xFF, (value >> 8) & 0xFF, value & 0xFF)
        self.background, self.grid = rgb(colours["kBackground"]), rgb(colours["kGrid"])
        self.fill, self.line, self.bar = rgb(colours["kHistoryFill"]), rgb(colours["kHistoryLine"]), rgb(colours["kBar"])
        header = os.path.splitext(source)[0] + ".h"
        with open(header) as file:
            found = re.search(r"kPictureRangeDB = ([0-9.]+)f;", file.read())
        check(found, "%s defines no kPictureRangeDB" % header)
        self.range_db = float(found.group(1))

    def all(self):
        return (self.background, self.grid, self.fill, self.line, self.bar)


class Image:
    """An RGB screenshot, read through ImageMagick as binary PPM."""

    def __init__(self, png):
        code = subprocess.run(["convert", png, "-depth", "8", "ppm:-"], stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=30)
        check(code.returncode == 0, "convert could not read %s: %s" % (png, code.stderr.decode(errors="replace")))
        data = code.stdout
        fields, position = [], 0
        while len(fields) < 4:  # magic, width, height, maximum, separated by single whitespace
            match = re.compile(rb"\s*(\S+)").match(data, position)
            check(match, "%s is no PPM image" % png)
            fields.append(match.group(1))
            position = match.end()
        check(fields[0] == b"P6" and fields[3] == b"255", "%s is no 8-bit PPM image" % png)
        self.width, self.height = int(fields[1]), int(fields[2])
        self.pixels = data[position + 1:]
        check(len(self.pixels) == 3 * self.width * self.height, "%s is truncated" % png)

    def find_all(self, colour):
        """(x, y) of every pixel of colour."""
        needle, found, position = bytes(colour), [], 0
        while True:
            position = self.pixels.find(needle, position)
            if position < 0:
                return found
            if position % 3 == 0:
                found.append(((position // 3) % self.width, (position // 3) // self.width))
            position += 1

    def at(self, x, y):
        offset = 3 * (y * self.width + x)
        return tuple(self.pixels[offset:offset + 3])


class Picture:
    """Where the inline display sits in a screenshot and what its bar shows."""

    def __init__(self, image, palette):
        bar = image.find_all(palette.bar)
        self.found = bool(bar)
        if not bar:
            return
        # The bar's left column lies clear of the rounded corners the strip clips the picture to.
        self.bar_left = min(x for x, _ in bar)
        column = sorted(y for x, y in bar if x == self.bar_left)
        self.top = column[0]
        self.bar_bottom = self.top
        while self.bar_bottom + 1 < image.height and image.at(self.bar_left, self.bar_bottom + 1) == palette.bar:
            self.bar_bottom += 1
        # Below the bar, the picture's own colours run to its bottom row.
        self.bottom = self.bar_bottom
        while self.bottom + 1 < image.height and image.at(self.bar_left, self.bottom + 1) in palette.all():
            self.bottom += 1
        self.height = self.bottom - self.top + 1
        self.bar_width = 0
        while image.at(self.bar_left + self.bar_width, self.top) == palette.bar:
            self.bar_width += 1
        # The history: the newest moment is two columns left of the bar (one column apart).
        history_x = self.bar_left - 2
        self.history = [image.at(history_x, y) for y in range(self.top, self.bottom + 1)]
        self.palette = palette

    def bar_row(self):
        return self.bar_bottom - self.top

    def expected_row(self, reduction_db):
        fraction = min(reduction_db / self.palette.range_db, 1.0)
        return fraction * (self.height - 1)

    def describe(self):
        if not self.found:
            return "no pixel of the bar's colour on screen"
        return ("picture %d rows high from y=%d, bar %d px wide at x=%d ending on row %d"
                % (self.height, self.top, self.bar_width, self.bar_left, self.bar_row()))

    def shows(self, reduction_db):
        """True when the bar ends within two rows of the reduction and the history beside it draws
        the same reduction: fill above its line, background below."""
        if not self.found or self.height < 8:
            return False
        row = self.bar_row()
        if abs(row - self.expected_row(reduction_db)) > 2:
            return False
        if self.palette.line not in self.history:
            return False
        line_row = self.history.index(self.palette.line)
        above, below = self.history[:line_row], self.history[line_row + 1:]
        return (abs(line_row - row) <= 2 and all(p == self.palette.fill for p in above)
                and below and all(p in (self.palette.background, self.palette.grid, self.palette.line) for p in below)
                and self.palette.background in below)


# --- the GUI run ----------------------------------------------------------------------------------

class Children:
    """Processes started in groups of their own, killed together however the attempt ends."""

    def __init__(self, log_dir, label):
        self.log_dir = log_dir
        self.label = label
        self.processes = []

    def log_path(self, name):
        return os.path.join(self.log_dir, "%s-%s.log" % (self.label, name))

    def start(self, name, command, env, pass_fds=()):
        log = open(self.log_path(name), "w")
        process = subprocess.Popen(command, env=env, stdin=subprocess.DEVNULL, stdout=log, stderr=subprocess.STDOUT,
                                   start_new_session=True, pass_fds=pass_fds)
        log.close()
        self.processes.append((name, process))
        return process

    def check_alive(self):
        for name, process in self.processes:
            check(process.poll() is None, "%s exited with code %s (log: %s)" % (
                name, process.returncode, self.log_path(name)))

    def kill_all(self):
        # Asked first, so that jackd removes its sockets and shared memory; killed when it lingers.
        for _, process in reversed(self.processes):
            for sig, grace in ((signal.SIGTERM, 5), (signal.SIGKILL, None)):
                if process.poll() is not None:
                    break
                try:
                    os.killpg(process.pid, sig)
                except ProcessLookupError:
                    break
                try:
                    process.wait(timeout=grace)
                except subprocess.TimeoutExpired:
                    pass
            process.wait()
        self.processes = []


def start_xvfb(children, env):
    """Starts Xvfb on the first free display; returns the display name."""
    read_end, write_end = os.pipe()
    try:
        children.start("xvfb", ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "%dx%dx24" % SCREEN,
                                "-nolisten", "tcp"], env, pass_fds=(write_end,))
        os.close(write_end)
        write_end = None
        with os.fdopen(read_end) as pipe:
            read_end = None
            number = pipe.readline().strip()
    finally:
        for fd in (read_end, write_end):
            if fd is not None:
                os.close(fd)
    check(number.isdigit(), "Xvfb did not report its display")
    return ":" + number


def start_jack(children, env, name):
    children.start("jackd", ["jackd", "--no-realtime", "-n", name, "-d", "dummy", "-r", str(RATE), "-p", "256"], env)
    code, output = hosttest.run(["jack_wait", "-w", "-t", "20"], env=env, timeout=30)
    check(code == 0 and "server is available" in output,
          "the JACK server %s did not come up: %s" % (name, hosttest.tail(output)))


def remove_jack_leftovers(server):
    """Removes the sockets and semaphores a killed JACK server of this name left in /dev/shm."""
    if not os.path.isdir("/dev/shm"):
        return
    for name in os.listdir("/dev/shm"):
        if name.startswith(("jack_%s_" % server, "jack_sem.%d_%s_" % (os.getuid(), server))):
            try:
                os.remove(os.path.join("/dev/shm", name))
            except OSError:
                pass


def main_window(env):
    code, output = hosttest.run(["xdotool", "search", "--name", "^%s - Ardour" % SESSION_NAME], env=env, timeout=10)
    windows = output.split() if code == 0 else []
    return windows[0] if windows and windows[0].isdigit() else None


def gui_attempt(attempt, session_file, env, work, reduction_db, palette):
    """One run of Ardour's GUI; returns the Picture of the last screenshot and its path."""
    children = Children(work, "attempt%d" % (attempt + 1))
    screenshot = os.path.join(work, "attempt%d-ardour-mixer.png" % (attempt + 1))
    # One fixed name: JACK's registry holds 8 servers, and the entry of a server that was killed is
    # reclaimed only by a server of the same name, so names of their own would fill it run by run.
    server = "kestrune-ardour-inline"
    picture = None
    try:
        env = dict(env)
        env["DISPLAY"] = start_xvfb(children, env)
        env["JACK_DEFAULT_SERVER"] = server
        env["JACK_NO_START_SERVER"] = "1"
        start_jack(children, env, env["JACK_DEFAULT_SERVER"])
        children.start("ardour", [ARDOUR_GUI, "--no-splash", "--no-announcements", session_file], env)
        deadline = time.monotonic() + PICTURE_TIMEOUT
        resized = False
        while time.monotonic() < deadline:
            time.sleep(1)
            children.check_alive()
            if not resized:
                # Without a window manager Ardour keeps its first size, in which the processor box
                # is too short for the whole picture.
                window = main_window(env)
                if window:
                    hosttest.run(["xdotool", "windowsize", window] + [str(n) for n in SCREEN], env=env, timeout=10)
                    resized = True
                continue
            code, output = hosttest.run(["import", "-window", "root", screenshot], env=env, timeout=30)
            check(code == 0, "import could not take a screenshot: %s" % output.strip())
            picture = Picture(Image(screenshot), palette)
            if picture.shows(reduction_db):
                break
    finally:
        children.kill_all()
        remove_jack_leftovers(server)
    return picture, screenshot


def prepare_gui(session_dir, config_dir):
    """What lets Ardour open the session unattended: its first-run marker, the JACK engine started
    without asking, no stored engine of the headless run, and the mixer as the first page."""
    os.makedirs(config_dir, exist_ok=True)
    open(os.path.join(config_dir, ".a7"), "w").close()
    with open(os.path.join(config_dir, "config"), "w") as file:
        file.write("""<?xml version="1.0" encoding="UTF-8"?>
<Ardour>
  <Config>
    <Option name="try-autostart-engine" value="1"/>
  </Config>
  <Extra>
    <AudioMIDISetup>
      <EngineStates>
        <State backend="JACK" driver="" device="" input-device="" output-device="" sample-rate="%d"
               buffer-size="256" n-periods="2" input-latency="0" output-latency="0" lm-input="" lm-output=""
               active="1" use-buffered-io="0" midi-option="" lru="1"><MIDIDevices/></State>
      </EngineStates>
    </AudioMIDISetup>
  </Extra>
</Ardour>
""" % RATE)
    # The headless run's Dummy backend, remembered in the session, would make Ardour warn about a
    # changed device in a modal dialog.
    session_file = os.path.join(session_dir, SESSION_NAME + ".ardour")
    tree = ElementTree.parse(session_file)
    for hints in tree.getroot().findall("EngineHints"):
        tree.getroot().remove(hints)
    tree.write(session_file, encoding="UTF-8", xml_declaration=True)
    with open(os.path.join(session_dir, "instant.xml"), "w") as file:
        file.write('<?xml version="1.0" encoding="UTF-8"?>\n<instant>\n'
                   '  <Main x="0" y="0" w="%d" h="%d" current-tab="mixer"/>\n</instant>\n' % SCREEN)
    return session_file


def test(lv2_bundle, picture_source, work_dir):
    palette = Palette(picture_source)
    for program, package in TOOLS + [(hosttest.ARDOUR_LUASESSION, hosttest.ARDOUR_PACKAGE),
                                     (ARDOUR_GUI, hosttest.ARDOUR_PACKAGE)]:
        hosttest.require_program(program, package)

    work = hosttest.fresh_dir(os.path.abspath(work_dir))
    env = hosttest.ardour_environment(work)
    lv2_dir = ardour_session_test.install_lv2(lv2_bundle, work, env)
    config_dir = os.path.join(env["XDG_CONFIG_HOME"], "ardour7")
    shutil.copytree(os.path.join(HERE, "ardour-scripts"), os.path.join(config_dir, "scripts"))

    reduction = expected_reduction_db()
    output_dbfs = 20.0 * math.log10(STEADY_LEVEL) - reduction + PARAMETERS[5]
    session_dir = os.path.join(work, SESSION_NAME)
    ardour_session_test.luasession(
        "ardour_inline_setup.lua",
        [session_dir, SESSION_NAME, RATE, lv2_dir, ",".join(repr(v) for v in PARAMETERS), repr(-output_dbfs)],
        env, "setup", prepare=lambda: shutil.rmtree(session_dir, ignore_errors=True),
        done=lambda: os.path.isfile(os.path.join(session_dir, SESSION_NAME + ".ardour")))
    print("Ardour's headless engine: Kestrune brings the steady 0.5 down to %.3f dBFS (%.3f dB of reduction)"
          % (output_dbfs, reduction))

    session_file = prepare_gui(session_dir, config_dir)
    for attempt in range(GUI_ATTEMPTS):
        picture, screenshot = gui_attempt(attempt, session_file, env, work, reduction, palette)
        described = picture.describe() if picture else "no screenshot taken"
        if picture and picture.shows(reduction):
            print("Ardour GUI: done on attempt %d (%d retries): %s; expected the bar to end on row %.1f"
                  % (attempt + 1, attempt, described, picture.expected_row(reduction)))
            kept = os.path.join(work, "ardour-mixer.png")
            shutil.copyfile(screenshot, kept)
            print("screenshot: %s" % kept)
            with open(os.path.join(work, "gui-retries.txt"), "w") as note:
                note.write("Ardour GUI retries (inline display): %d\n" % attempt)
            return
        print("Ardour GUI: attempt %d ended without the expected picture: %s (screenshot %s, logs in %s)"
              % (attempt + 1, described, screenshot, work))
        if picture and picture.found:
            print("expected the bar to end on row %.1f of %d" % (picture.expected_row(reduction), picture.height))
    raise hosttest.HostTestFailure("Ardour's mixer strip did not show the inline display of a compressing Kestrune "
                                   "in %d attempts" % GUI_ATTEMPTS)


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    hosttest.main(lambda: test(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]))
