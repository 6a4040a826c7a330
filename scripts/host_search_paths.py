#!/usr/bin/env python3
"""Where the installed Ardour and Qtractor look for VST 2 plug-ins, as the hosts themselves say.

  host_search_paths.py steps FOLDER   for each installed host, the one thing it needs to find a
                                      module in FOLDER (or that it needs nothing)
  host_search_paths.py list           each installed host's VST 2 search path, a folder a line

Ardour: its headless Lua interpreter (luasession) prints the Linux VST path of its configuration,
which Ardour builds from its defaults, /etc/ardourN, the user's settings and LXVST_PATH, and whether
it discovers new plug-ins when it starts.

Qtractor: a VST 2 path set in its options ([Plugins] Vst2Paths of Qtractor.conf) is used as it is.
Without one, Qtractor builds a default list when it starts by testing candidate folders with
access() and keeping those that exist. Those calls are watched with strace while Qtractor starts
without a display, once with an empty configuration and once with a VST 2 path set: the candidates
tested only in the first run are the VST 2 defaults.

Python 3 standard library only; strace for Qtractor.
"""
import glob
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

QTRACTOR_CONFIG = os.path.join("rncbc.org", "Qtractor.conf")
QTRACTOR_CONFIG_KEY = "Vst2Paths"


class HostError(Exception):
    pass


def _run(command, env, timeout, stdin=subprocess.DEVNULL):
    """(exit code, output) of command in its own process group; killed with the group after
    timeout seconds (exit code None)."""
    process = subprocess.Popen(command, env=env, stdin=stdin, stdout=subprocess.PIPE,
                               stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        return process.returncode, output.decode(errors="replace")
    except subprocess.TimeoutExpired:
        os.killpg(process.pid, signal.SIGKILL)
        output, _ = process.communicate()
        return None, output.decode(errors="replace")


def same_folder(a, b):
    return os.path.realpath(os.path.expanduser(a)) == os.path.realpath(os.path.expanduser(b))


def contains(folders, folder):
    return any(entry and same_folder(entry, folder) for entry in folders)


# --- Ardour ---------------------------------------------------------------------------------------

def find_ardour():
    """The newest installed Ardour's library folder (e.g. /usr/lib/ardour7), or None."""
    found = []
    for luasession in glob.glob("/usr/lib/ardour*/luasession"):
        folder = os.path.dirname(luasession)
        match = re.search(r"ardour(\d+)$", folder)
        if match and os.access(luasession, os.X_OK):
            found.append((int(match.group(1)), folder))
    return max(found)[1] if found else None


ARDOUR_SCRIPT = """
local config = ARDOUR.config()
print("KESTRUNE-LXVST=" .. config:get_plugin_path_lxvst())
print("KESTRUNE-DISCOVER=" .. tostring(config:get_discover_plugins_on_start()))
io.stdout:flush()
os.exit(0)
"""


def ardour_environment(lib_dir, config_home, cache_home, environ=None):
    """The environment Debian's ardourN wrapper scripts give Ardour, with the user configuration and
    caches in the folders given."""
    name = os.path.basename(lib_dir)
    env = dict(os.environ if environ is None else environ)
    env["LD_LIBRARY_PATH"] = lib_dir + (":" + env["LD_LIBRARY_PATH"] if env.get("LD_LIBRARY_PATH") else "")
    env["ARDOUR_DATA_PATH"] = "/usr/share/" + name
    env["ARDOUR_CONFIG_PATH"] = "/etc/" + name
    env["ARDOUR_DLL_PATH"] = lib_dir
    env["XDG_CONFIG_HOME"] = config_home
    env["XDG_CACHE_HOME"] = cache_home
    return env


def ardour_settings(lib_dir, user_config=None, environ=None, attempts=3):
    """(Linux VST path as a list of folders, whether Ardour discovers new plug-ins at start) of the
    Ardour in lib_dir: with its defaults, or with user_config (a copy of ~/.config/ardourN/config)
    as the user's settings. environ is the environment Ardour would start in (LXVST_PATH counts)."""
    with tempfile.TemporaryDirectory(prefix="kestrune-ardour-") as scratch:
        config_dir = os.path.join(scratch, "config", os.path.basename(lib_dir))
        os.makedirs(config_dir)
        if user_config:
            shutil.copyfile(user_config, os.path.join(config_dir, "config"))
        script = os.path.join(scratch, "settings.lua")
        with open(script, "w") as file:
            file.write(ARDOUR_SCRIPT)
        env = ardour_environment(lib_dir, os.path.join(scratch, "config"), os.path.join(scratch, "cache"), environ)
        output = ""
        for _ in range(attempts):  # luasession now and then dies on its way out
            _, output = _run([os.path.join(lib_dir, "luasession"), script], env, timeout=60)
            values = dict(re.findall(r"^KESTRUNE-(\w+)=(.*)$", output, re.MULTILINE))
            if "LXVST" in values and "DISCOVER" in values:
                return values["LXVST"].split(":"), values["DISCOVER"] == "true"
        raise HostError("Ardour's luasession did not print its settings:\n" + output[-2000:])


# --- Qtractor -------------------------------------------------------------------------------------

def find_qtractor():
    path = shutil.which("qtractor") or ("/usr/bin/qtractor" if os.access("/usr/bin/qtractor", os.X_OK) else None)
    return path


def qtractor_configured_path(config_file):
    """The VST 2 path set in Qtractor's options, as a list, or None when none is set."""
    if not config_file or not os.path.isfile(config_file):
        return None
    section = None
    with open(config_file, errors="replace") as file:
        for line in file:
            line = line.strip()
            if line.startswith("[") and line.endswith("]"):
                section = line[1:-1]
            elif section == "Plugins" and line.startswith(QTRACTOR_CONFIG_KEY + "="):
                value = line[len(QTRACTOR_CONFIG_KEY) + 1:]
                if value in ("", "@Invalid()"):
                    return []
                # a QSettings list: comma-separated, items with commas in double quotes
                return [item.strip().strip('"') for item in re.findall(r'(?:"[^"]*"|[^,])+', value)]
    return None


def _qtractor_probes(qtractor, home, config_text, environ, settle=1.5, limit=30):
    """The folders Qtractor tests with access() while it starts without a display, with
    Qtractor.conf holding config_text, in the order tested."""
    strace = shutil.which("strace")
    if not strace:
        raise HostError("strace is needed to watch Qtractor build its plug-in path (Debian: apt-get install strace)")
    with tempfile.TemporaryDirectory(prefix="kestrune-qtractor-") as scratch:
        env = dict(os.environ if environ is None else environ)
        for name in ("config", "cache", "data", "runtime"):
            os.makedirs(os.path.join(scratch, name))
        env.update(HOME=home, XDG_CONFIG_HOME=os.path.join(scratch, "config"),
                   XDG_CACHE_HOME=os.path.join(scratch, "cache"), XDG_DATA_HOME=os.path.join(scratch, "data"),
                   XDG_RUNTIME_DIR=os.path.join(scratch, "runtime"), QT_QPA_PLATFORM="offscreen")
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
        config = os.path.join(scratch, "config", QTRACTOR_CONFIG)
        os.makedirs(os.path.dirname(config))
        with open(config, "w") as file:
            file.write(config_text)
        trace = os.path.join(scratch, "trace")
        process = subprocess.Popen([strace, "-f", "-qq", "-e", "trace=access", "-o", trace, qtractor],
                                   env=env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL, start_new_session=True)
        try:
            # Qtractor keeps running; it has tested its folders once the trace stops growing.
            started = time.monotonic()
            size, since = -1, time.monotonic()
            while time.monotonic() - started < limit and process.poll() is None:
                time.sleep(0.25)
                current = os.path.getsize(trace) if os.path.exists(trace) else 0
                if current != size:
                    size, since = current, time.monotonic()
                elif size > 0 and time.monotonic() - since >= settle:
                    break
            with open(trace, errors="replace") as file:
                text = file.read()
        finally:
            try:
                os.killpg(process.pid, signal.SIGKILL)
            except ProcessLookupError:
                pass
            process.wait()
        if not re.search(r'access\("[^"]*Qtractor\.conf"', text):
            raise HostError("Qtractor did not start under strace (no look at its configuration):\n" + text[-2000:])
        inside = scratch.rstrip("/") + "/"
        return [folder for folder in re.findall(r'access\("([^"]*)", F_OK\)', text) if not folder.startswith(inside)]


def qtractor_default_path(qtractor, home, environ=None):
    """Qtractor's default VST 2 candidates for a user whose home is home (the folders it keeps are
    those that exist when it starts)."""
    plain = _qtractor_probes(qtractor, home, "", environ)
    marker = "/nonexistent/kestrune-marker"
    configured = _qtractor_probes(qtractor, home, "[Plugins]\n%s=%s\n" % (QTRACTOR_CONFIG_KEY, marker), environ)
    candidates = []
    for folder in plain:
        if folder not in configured and folder not in candidates:
            candidates.append(folder)
    if not candidates:
        raise HostError("Qtractor tested no folder that a VST 2 path in its options replaces")
    return candidates


def qtractor_path(qtractor, home, config_file=None, environ=None):
    """(folders, where they come from: 'options' or 'default')."""
    configured = qtractor_configured_path(config_file)
    if configured is not None:
        return configured, "options"
    return qtractor_default_path(qtractor, home, environ), "default"


# --- what the user needs to do ----------------------------------------------------------------------

def steps(folder, environ=None):
    """One line per installed host: what it needs to find a module in folder."""
    env = dict(os.environ if environ is None else environ)
    home = env.get("HOME", os.path.expanduser("~"))
    config_home = env.get("XDG_CONFIG_HOME") or os.path.join(home, ".config")
    lines = []
    ardour = find_ardour()
    if ardour:
        user_config = os.path.join(config_home, os.path.basename(ardour), "config")
        try:
            folders, discovers = ardour_settings(ardour, user_config if os.path.isfile(user_config) else None, env)
            if not contains(folders, folder):
                lines.append("Ardour: add %s to Edit > Preferences > Plugins > VST > Linux VST2 Path (Edit), "
                             "then press Scan for Plugins" % folder)
            elif not discovers:
                lines.append("Ardour: Window > Plugin Manager > Discover New/Updated (%s is on its VST path; "
                             "it scans for new plug-ins only when asked)" % folder)
            else:
                lines.append("Ardour: nothing to do, it looks in %s when it starts" % folder)
        except HostError as error:
            lines.append("Ardour: could not read its VST path (%s)" % str(error).splitlines()[0])
    qtractor = find_qtractor()
    if qtractor:
        try:
            folders, source = qtractor_path(qtractor, home, os.path.join(config_home, QTRACTOR_CONFIG), env)
            if contains(folders, folder):
                lines.append("Qtractor: nothing to do, %s is on its VST 2 path (%s; "
                             "a running Qtractor sees it after a restart)" %
                             (folder, "set in its options" if source == "options" else "its default"))
            else:
                lines.append("Qtractor: add %s to View > Options > Plugins > Paths (type VST2), "
                             "then press Rescan in its plug-in dialog" % folder)
        except HostError as error:
            lines.append("Qtractor: could not read its VST 2 path (%s)" % str(error).splitlines()[0])
    return lines


def main(arguments):
    if arguments[:1] == ["steps"] and len(arguments) == 2:
        for line in steps(os.path.abspath(os.path.expanduser(arguments[1]))):
            print(line)
    elif arguments == ["list"]:
        ardour = find_ardour()
        if ardour:
            folders, discovers = ardour_settings(ardour)
            print("Ardour (%s), discovers new plug-ins at start: %s" % (ardour, "yes" if discovers else "no"))
            print("\n".join("  " + folder for folder in folders))
        qtractor = find_qtractor()
        if qtractor:
            folders, source = qtractor_path(qtractor, os.path.expanduser("~"))
            print("Qtractor (%s), %s candidates:" % (qtractor, source))
            print("\n".join("  " + folder for folder in folders))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    try:
        main(sys.argv[1:])
    except HostError as failure:
        sys.exit("host_search_paths.py: %s" % failure)
