#!/usr/bin/env python3
"""Ardour's VST 2 scanner loads the built module and records what Ardour will show of it.

Usage: ardour_scanner_test.py MODULE WORK_DIR

The scanner runs in a process of its own, as Ardour runs it, and writes one .v2i cache file (XML)
per module under $XDG_CACHE_HOME/ardour7/vst/. That file is all Ardour later knows about the
plug-in, so its attributes are checked one by one.
"""
import glob
import os
import sys
import xml.etree.ElementTree as ElementTree

import hosttest
from hosttest import check


def test(module, work_dir):
    hosttest.require_program(hosttest.ARDOUR_VST_SCANNER, hosttest.ARDOUR_PACKAGE)
    hosttest.require_module(module)
    env = hosttest.ardour_environment(hosttest.fresh_dir(work_dir))

    code, output = hosttest.run([hosttest.ARDOUR_VST_SCANNER, module], env=env)
    print(output.rstrip())
    check(code == 0, "ardour-vst-scanner exited with %s" % code)

    entries = glob.glob(os.path.join(env["XDG_CACHE_HOME"], "ardour7", "vst", "*.v2i"))
    check(len(entries) == 1, "expected one .v2i cache entry, found %s" % entries)
    with open(entries[0]) as file:
        print(file.read().rstrip())

    cache = ElementTree.parse(entries[0]).getroot()
    check(cache.tag == "VST2Cache", "root element is %s, not VST2Cache" % cache.tag)
    check(cache.get("binary") == module, "cache names binary %r, not %r" % (cache.get("binary"), module))
    plugins = cache.findall("VST2Info")
    check(len(plugins) == 1, "expected one VST2Info, found %d" % len(plugins))
    info = plugins[0].attrib

    expected = {
        "name": hosttest.EXPECTED_NAME,
        "creator": hosttest.EXPECTED_VENDOR,
        "category": "Effect",
        "n_inputs": "4",
        "n_outputs": "2",
        "n_midi_inputs": "0",
        "n_midi_outputs": "0",
        "is_instrument": "0",
        "can_process_replace": "1",
        "has_editor": "0",
    }
    wrong = ["%s=%r (expected %r)" % (key, info.get(key), value)
             for key, value in expected.items() if info.get(key) != value]
    check(not wrong, "cache entry disagrees: " + ", ".join(wrong))
    check(int(info.get("id", "0")) == hosttest.EXPECTED_UNIQUE_ID,
          "unique ID %s, expected %d ('BRLA')" % (info.get("id"), hosttest.EXPECTED_UNIQUE_ID))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    hosttest.main(lambda: test(os.path.abspath(sys.argv[1]), sys.argv[2]))
