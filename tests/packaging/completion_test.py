#!/usr/bin/env python3
"""The bash completion of kestrune completes its commands, each command's own options, the values
an option accepts and file names where a file is expected, as bash itself runs it.

Usage: completion_test.py KESTRUNE COMPLETION_SCRIPT WORK_DIR

The expected commands and options are read from the built program's --help texts; the cases say
what a user typing them must be offered.
"""
import os
import re
import shutil
import sys

import packagingtest
from packagingtest import check

# Runs the function that `complete -p kestrune` names on the words given, as readline would, and
# prints each candidate on a line of its own.
DRIVER = r'''
source "$1" || exit 3
shift
registered=$(complete -p kestrune) || exit 4
function=$(sed -n 's/.* -F \([^ ]*\) .*/\1/p' <<<"$registered")
[[ -n $function ]] || exit 5
COMP_WORDS=("$@")
COMP_CWORD=$(($# - 1))
COMP_LINE="$*"
COMP_POINT=${#COMP_LINE}
COMPREPLY=()
"$function" kestrune "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
printf '%s\n' "${COMPREPLY[@]}"
'''


def test(kestrune, script, work_dir):
    shutil.rmtree(work_dir, ignore_errors=True)
    os.makedirs(os.path.join(work_dir, "takes"))
    for name in ("mix.wav", "kick.flac", "notes.txt"):
        open(os.path.join(work_dir, name), "w").close()

    def complete(*words):
        code, out, err = packagingtest.run(["bash", "--norc", "--noprofile", "-c", DRIVER, "driver", script, *words],
                                           cwd=work_dir)
        check(code == 0, "completing %r: bash exited with %d: %s" % (" ".join(words), code, err))
        return sorted(line for line in out.split("\n") if line)

    def expect(words, wanted):
        got = complete(*words)
        check(got == sorted(wanted), "completing %r offers %s, expected %s" % (" ".join(words), got, sorted(wanted)))

    code, out, _ = packagingtest.run(["bash", "--norc", "--noprofile", "-c", 'source "$1" && complete -p kestrune',
                                      "driver", script])
    check(code == 0 and re.match(r"^complete .*-F \S+ kestrune$", out.strip()),
          "sourcing the script does not register a completion function for kestrune: %r" % out)

    commands = packagingtest.commands(kestrune)
    expect(["kestrune", ""], commands)
    for prefix in {name[:2] for name in commands}:
        expect(["kestrune", prefix], [name for name in commands if name.startswith(prefix)])
    expect(["kestrune", "-"], packagingtest.options(kestrune))
    expect(["kestrune", "--"], [name for name in packagingtest.options(kestrune) if name.startswith("--")])

    # Each command offers its own options and no other command's.
    for command in commands:
        own = packagingtest.options(kestrune, command)
        expect(["kestrune", command, "-"], own)
        expect(["kestrune", command, "--"], [name for name in own if name.startswith("--")])
        # also after other words: an operand, and an option with its value
        expect(["kestrune", command, "mix.wav", "--"], [name for name in own if name.startswith("--")])

    render = packagingtest.options(kestrune, "render")
    expect(["kestrune", "render", "mix.wav", "--r"], [name for name in render if name.startswith("--r")])

    # Values: a fixed set, file names, folders, or nothing for a number.
    help_render = packagingtest.help_text(kestrune, "render")
    choices = re.search(r"--format \S*?:\{([^}]*)\}", help_render)
    check(choices, "render --help does not list the --format choices:\n" + help_render)
    formats = choices.group(1).split(",")
    expect(["kestrune", "render", "mix.wav", "--format", ""], formats)
    expect(["kestrune", "render", "mix.wav", "--format", "p"], [name for name in formats if name.startswith("p")])
    expect(["kestrune", "render", "mix.wav", "--format", "=", "p"], [name for name in formats if name.startswith("p")])
    files = ["kick.flac", "mix.wav", "notes.txt", "takes"]
    expect(["kestrune", "render", ""], files)
    expect(["kestrune", "render", "mix.wav", "--sidechain", ""], files)
    expect(["kestrune", "render", "mix.wav", "--sidechain", "k"], ["kick.flac"])
    expect(["kestrune", "render", "mix.wav", "-o", "m"], ["mix.wav"])
    expect(["kestrune", "info", "--plugin", "n"], ["notes.txt"])
    expect(["kestrune", "demo", "-o", ""], ["takes"])
    expect(["kestrune", "render", "mix.wav", "--ratio", ""], [])
    # a value that happens to be a command's name does not make it the command
    expect(["kestrune", "render", "--sidechain", "info", "--p"], [name for name in render if name.startswith("--p")])
    # nothing before the command but the program's own options
    expect(["kestrune", "--help", "in"], [name for name in commands if name.startswith("in")])


if __name__ == "__main__":
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    packagingtest.main(lambda: test(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2]), sys.argv[3]))
