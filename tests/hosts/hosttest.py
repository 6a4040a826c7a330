"""Shared pieces of the real-host tests: locating the host programs, isolated runs, float WAV files.

Python 3 standard library only. Every check that fails raises HostTestFailure; main() turns it into
a clear message and exit code 1. A missing host program is a failure too, never a skip: these
tests are the proof that hosts nobody here wrote load the module.
"""
import os
import shutil
import signal
import struct
import subprocess
import sys

# Packages that bring each host program (Debian 12); scripts/setup-debian.sh installs them.
ARDOUR_PACKAGE = "ardour"
QTRACTOR_PACKAGE = "qtractor"

ARDOUR_LIB_DIR = "/usr/lib/ardour7"
ARDOUR_VST_SCANNER = ARDOUR_LIB_DIR + "/ardour-vst-scanner"
ARDOUR_LUASESSION = ARDOUR_LIB_DIR + "/luasession"
QTRACTOR_SCANNER = "/usr/lib/x86_64-linux-gnu/qtractor/qtractor_plugin_scan"

# The identity the module announces; the unique ID is its four characters read big-endian.
EXPECTED_NAME = "Kestrune"
EXPECTED_VENDOR = "Brisk Lantern"
EXPECTED_UNIQUE_ID = int.from_bytes(b"BRLA", "big")
EXPECTED_PARAMETERS = ["Attack", "Release", "Ratio", "use SC", "Thresh", "Makeup"]

WAVE_FORMAT_IEEE_FLOAT = 3
WAVE_FORMAT_EXTENSIBLE = 0xFFFE


class HostTestFailure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise HostTestFailure(message)


def require_program(path, package):
    check(os.path.isfile(path) and os.access(path, os.X_OK),
          "%s is missing: install the Debian package '%s' (scripts/setup-debian.sh does)"
          % (path, package))


def require_module(path):
    check(os.path.isabs(path), "the module path must be absolute, got %r" % path)
    check(os.path.isfile(path), "the module %s does not exist; build the Kestrune target first" % path)


def fresh_dir(path):
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def ardour_environment(work_dir):
    """The environment of Debian's ardour7-lua wrapper, with user config and caches kept inside
    work_dir so no run sees another's plug-in cache, export presets or settings."""
    env = dict(os.environ)
    env["LD_LIBRARY_PATH"] = ARDOUR_LIB_DIR + (":" + env["LD_LIBRARY_PATH"] if env.get("LD_LIBRARY_PATH") else "")
    env["ARDOUR_DATA_PATH"] = "/usr/share/ardour7"
    env["ARDOUR_CONFIG_PATH"] = "/etc/ardour7"
    env["ARDOUR_DLL_PATH"] = ARDOUR_LIB_DIR
    env["VAMP_PATH"] = ARDOUR_LIB_DIR + "/vamp"
    env["XDG_CACHE_HOME"] = fresh_dir(os.path.join(work_dir, "cache"))
    env["XDG_CONFIG_HOME"] = fresh_dir(os.path.join(work_dir, "config"))
    return env


def run(command, env=None, stdin_text=None, timeout=60):
    """Runs command in its own process group and returns (exit code, stdout+stderr). A run that
    outlives timeout seconds is killed with its whole group and reported as exit code None."""
    process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE if stdin_text is not None else subprocess.DEVNULL,
                               stdout=subprocess.PIPE, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(stdin_text.encode() if stdin_text is not None else None, timeout=timeout)
        return process.returncode, output.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return None, output.decode(errors="replace") + "\n[killed after %d s]" % timeout


def tail(text, lines=25):
    return "\n".join(text.rstrip().splitlines()[-lines:])


# --- float WAV files ------------------------------------------------------------------------------

def float32(value):
    """value rounded to the nearest single-precision float, as the file will hold it."""
    return struct.unpack("<f", struct.pack("<f", value))[0]


def write_float_wav(path, rate, channels):
    """Writes equally long channels (lists of numbers) as 32-bit IEEE float WAV, interleaved."""
    frames = len(channels[0])
    check(all(len(channel) == frames for channel in channels), "channels differ in length")
    interleaved = [channel[i] for i in range(frames) for channel in channels]
    data = struct.pack("<%df" % len(interleaved), *interleaved)
    count = len(channels)
    fmt = struct.pack("<HHIIHHH", WAVE_FORMAT_IEEE_FLOAT, count, rate, rate * 4 * count, 4 * count, 32, 0)
    fact = struct.pack("<I", frames)
    body = (b"WAVE" + b"fmt " + struct.pack("<I", len(fmt)) + fmt + b"fact" + struct.pack("<I", len(fact)) + fact
            + b"data" + struct.pack("<I", len(data)) + data)
    with open(path, "wb") as file:
        file.write(b"RIFF" + struct.pack("<I", len(body)) + body)


class Wav:
    """The parts of a WAV file that matter for a sample-exact comparison."""

    def __init__(self, path):
        check(os.path.isfile(path), "%s was not written" % path)
        with open(path, "rb") as file:
            raw = file.read()
        check(raw[:4] == b"RIFF" and raw[8:12] == b"WAVE", "%s is not a RIFF/WAVE file" % path)
        self.path = path
        self.format_tag = None
        self.data = None
        position = 12
        while position + 8 <= len(raw):
            chunk_id = raw[position:position + 4]
            size = struct.unpack("<I", raw[position + 4:position + 8])[0]
            body = raw[position + 8:position + 8 + size]
            if chunk_id == b"fmt ":
                self.format_tag, self.channels, self.rate, _, self.block_align, self.bits = \
                    struct.unpack("<HHIIHH", body[:16])
                if self.format_tag == WAVE_FORMAT_EXTENSIBLE and len(body) >= 26:
                    self.format_tag = struct.unpack("<H", body[24:26])[0]  # first field of the sub-format GUID
            elif chunk_id == b"data":
                self.data = body
            position += 8 + size + (size & 1)
        check(self.format_tag is not None and self.data is not None, "%s has no fmt or data chunk" % path)

    def is_float32(self):
        return self.format_tag == WAVE_FORMAT_IEEE_FLOAT and self.bits == 32

    @property
    def frames(self):
        return len(self.data) // self.block_align

    def samples(self):
        return struct.unpack("<%df" % (len(self.data) // 4), self.data)

    def describe(self):
        return "%s: format %d, %d channel(s), %d Hz, %d bits, %d frames" % (
            self.path, self.format_tag, self.channels, self.rate, self.bits, self.frames)


def main(test):
    """Runs test() and exits 0 when it returns, 1 with the reason when a check fails."""
    try:
        test()
    except HostTestFailure as failure:
        print("FAIL: %s" % failure, flush=True)
        sys.exit(1)
    print("PASS", flush=True)
