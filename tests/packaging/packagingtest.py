"""Shared pieces of the packaging tests: running programs, failing with a reason, and reading the
option lists out of kestrune's --help texts with nothing but a regular expression each (the
completion and the manual page are written by other code, which these tests check against)."""
import os
import re
import subprocess
import sys


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def run(command, env=None, cwd=None, input_text=None, timeout=120):
    result = subprocess.run(command, env=env, cwd=cwd, input=input_text, stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, universal_newlines=True, timeout=timeout)
    return result.returncode, result.stdout, result.stderr


def run_ok(command, **arguments):
    code, out, err = run(command, **arguments)
    check(code == 0, "%s exited with %s:\n%s%s" % (" ".join(command), code, out, err))
    return out


def help_text(kestrune, *command):
    return run_ok([kestrune, *command, "--help"])


def commands(kestrune):
    """Names listed under "Subcommands:" of kestrune --help."""
    text = help_text(kestrune)
    section = re.search(r"^Subcommands:\n((?:  .*\n?)+)", text, re.MULTILINE)
    check(section, "kestrune --help has no Subcommands section:\n" + text)
    names = re.findall(r"^  (\w[\w-]*)", section.group(1), re.MULTILINE)
    check(names, "no commands under Subcommands:\n" + text)
    return names


def options(kestrune, *command):
    """Every option name (-x, --long) that starts an entry under "Options:" of the help."""
    text = help_text(kestrune, *command)
    section = re.search(r"^Options:\n((?:(?:  .*)?\n?)+?)(?:\n\S|\Z)", text + "\n", re.MULTILINE)
    check(section, "%s --help has no Options section:\n%s" % (" ".join(command), text))
    found = []
    for head in re.findall(r"^  (-\S+)", section.group(1), re.MULTILINE):
        found += head.split(",")
    return found


def main(test):
    try:
        test()
    except Failure as failure:
        print("FAIL: %s" % failure, flush=True)
        sys.exit(1)
    print("PASS", flush=True)
