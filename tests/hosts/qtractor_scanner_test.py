#!/usr/bin/env python3
"""Qtractor's plug-in scanner loads the built module and reports what Qtractor will show of it.

Usage: qtractor_scanner_test.py MODULE

The scanner reads requests "VST2:/absolute/path.so" on standard input and answers one line per
plug-in: type|name|audio in:out|MIDI in:out|parameters in:out|flags|path|index|unique ID. Its exit
code is 0 even when loading fails (the error then goes to standard output too), so only the line
tells.
"""
import os
import sys

import hosttest
from hosttest import check


def test(module):
    hosttest.require_program(hosttest.QTRACTOR_SCANNER, hosttest.QTRACTOR_PACKAGE)
    hosttest.require_module(module)

    code, output = hosttest.run([hosttest.QTRACTOR_SCANNER], stdin_text="VST2:%s\n" % module)
    print(output.rstrip())
    check(code == 0, "qtractor_plugin_scan exited with %s" % code)

    lines = [line.split("|") for line in output.splitlines()]
    answers = [fields for fields in lines if len(fields) == 9 and fields[6] == module]
    check(len(answers) == 1, "expected one answer line for %s, got:\n%s" % (module, output))
    kind, name, audio, midi, parameters, flags, _, index, unique_id = answers[0]

    check(kind == "VST", "type %r, expected 'VST'" % kind)
    check(name == hosttest.EXPECTED_NAME, "name %r, expected %r" % (name, hosttest.EXPECTED_NAME))
    check(audio == "4:2", "audio in:out %r, expected '4:2'" % audio)
    check(midi == "0:0", "MIDI in:out %r, expected '0:0'" % midi)
    check(parameters == "6:0", "parameters in:out %r, expected '6:0'" % parameters)
    # Flags are comma-separated words; a module announcing an editor gets "GUI".
    check("GUI" not in flags.split(","), "flags %r claim an editor" % flags)
    check(index == "0", "index %r, expected '0'" % index)
    check(int(unique_id, 16) == hosttest.EXPECTED_UNIQUE_ID,
          "unique ID %s, expected 0x%08x ('BRLA')" % (unique_id, hosttest.EXPECTED_UNIQUE_ID))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    hosttest.main(lambda: test(os.path.abspath(sys.argv[1])))
