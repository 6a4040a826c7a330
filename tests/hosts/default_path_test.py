#!/usr/bin/env python3
"""cmake --install puts the module where a host with its default configuration looks for VST 2
plug-ins, and the host's scanner accepts the module it finds there.

Usage: default_path_test.py ardour|qtractor BUILD_DIR WORK_DIR

For cmake's default prefix /usr/local and for /usr (the Debian package), the plug-in is installed
into a scratch DESTDIR; the folder it lands in, read back from the files installed, must be on the
host's own search path, which the host reports with a fresh configuration and none of the
environment variables that replace it. Then the host's scanner runs on the installed file.
"""
import os
import subprocess
import sys

import hosttest
from hosttest import check

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts"))
import host_search_paths  # noqa: E402  (scripts/, shared with the main command)

import ardour_scanner_test  # noqa: E402
import qtractor_scanner_test  # noqa: E402

PREFIXES = ["/usr/local", "/usr"]
# the cmake of the build, which CTest passes on
CMAKE = os.environ.get("CMAKE_COMMAND", "cmake")
# Variables with which the hosts replace their default VST path.
PATH_VARIABLES = ["LXVST_PATH", "VST_PATH", "VST2_PATH"]


SKIPPED = 77  # the exit code CTest counts as a skipped test


def default_environment(home):
    env = {name: value for name, value in os.environ.items() if name not in PATH_VARIABLES}
    env["HOME"] = home
    return env


def install(build, prefix, destdir):
    """The absolute folder (as installed, without destdir) of the module that cmake --install puts
    in place for prefix."""
    env = dict(os.environ, DESTDIR=destdir)
    code, output = hosttest.run([CMAKE, "--install", build, "--component", "plugin", "--prefix", prefix], env=env)
    check(code == 0, "cmake --install --prefix %s failed:\n%s" % (prefix, output))
    found = [os.path.join(folder, name) for folder, _, files in os.walk(destdir) for name in files]
    check(len(found) == 1 and os.path.basename(found[0]) == "Kestrune.so",
          "cmake --install --component plugin --prefix %s installed %s, expected one Kestrune.so" % (prefix, found))
    return "/" + os.path.relpath(os.path.dirname(found[0]), destdir)


def ardour_path(work, home):
    lib_dir = host_search_paths.find_ardour()
    check(lib_dir is not None, "no Ardour found in /usr/lib/ardour*: install the Debian package '%s'"
          % hosttest.ARDOUR_PACKAGE)
    folders, _ = host_search_paths.ardour_settings(lib_dir, environ=default_environment(home))
    # What is read is Ardour's own setting: the variable that replaces it shows up unchanged.
    replaced, _ = host_search_paths.ardour_settings(lib_dir, environ=dict(default_environment(home),
                                                                          LXVST_PATH=work + "/a:" + work + "/b"))
    check(replaced == [work + "/a", work + "/b"], "with LXVST_PATH set, Ardour reports %s" % replaced)
    return folders


def qtractor_path(work, home):
    hosttest.require_program(hosttest.QTRACTOR_SCANNER, hosttest.QTRACTOR_PACKAGE)
    qtractor = host_search_paths.find_qtractor()
    check(qtractor is not None, "no qtractor program: install the Debian package '%s'" % hosttest.QTRACTOR_PACKAGE)
    # Qtractor's path is read by tracing it; a machine that forbids tracing (a container without
    # ptrace) cannot tell, which is not a fault of the module.
    probe = subprocess.run(["strace", "-o", os.devnull, "true"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.PIPE, text=True)
    if probe.returncode != 0:
        print("SKIPPED: strace cannot trace here, so Qtractor's default path cannot be read:\n" + probe.stderr)
        sys.exit(SKIPPED)
    folders = host_search_paths.qtractor_default_path(qtractor, home, default_environment(home))
    # The user's own folders are among the candidates, under the home Qtractor was given.
    check(any(folder.startswith(home + "/") for folder in folders),
          "Qtractor's default VST 2 candidates name no folder in its home %s: %s" % (home, folders))
    return folders


def test(host, build, work):
    hosttest.fresh_dir(work)
    home = hosttest.fresh_dir(os.path.join(work, "home"))
    folders = ardour_path(work, home) if host == "ardour" else qtractor_path(work, home)
    print("%s's default VST 2 path:\n  %s" % (host, "\n  ".join(folders)))
    for prefix in PREFIXES:
        destdir = hosttest.fresh_dir(os.path.join(work, "root" + prefix.replace("/", "-")))
        folder = install(build, prefix, destdir)
        print("cmake --install --prefix %s puts Kestrune.so into %s" % (prefix, folder))
        check(folder in folders, "%s (prefix %s) is not on %s's default VST 2 path %s" % (folder, prefix, host, folders))
        module = os.path.join(destdir, folder.lstrip("/"), "Kestrune.so")
        if host == "ardour":
            ardour_scanner_test.test(module, os.path.join(work, "scan" + prefix.replace("/", "-")))
        else:
            qtractor_scanner_test.test(module)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("ardour", "qtractor"):
        sys.exit(__doc__)
    hosttest.main(lambda: test(sys.argv[1], os.path.abspath(sys.argv[2]), os.path.abspath(sys.argv[3])))
