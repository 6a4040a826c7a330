#!/usr/bin/env python3
"""The manual page kestrune(1), as man shows it, says what kestrune --help says: the version, every
command, and under each command every option its own --help lists, with the texts of --help.

Usage: manpage_test.py KESTRUNE PAGE
"""
import gzip
import os
import re
import sys

import packagingtest
from packagingtest import check


def words(text):
    """The text as man would reflow it: one space between words, no hyphenation breaks."""
    return " ".join(text.split())


def rendered(page):
    env = dict(os.environ, LC_ALL="C", MANWIDTH="10000")
    text = packagingtest.run_ok(["man", "-l", page], env=env)
    # remove backspace overstriking (bold and underline on a terminal)
    return re.sub(r".\x08", "", text)


def sections(text):
    """{heading: body} of the top-level sections (lines in capitals at the left margin)."""
    parts = re.split(r"^([A-Z][A-Z ]+)$", text, flags=re.MULTILINE)
    return {parts[i]: parts[i + 1] for i in range(1, len(parts) - 1, 2)}


def test(kestrune, page):
    with open(page, "rb") as file:
        head = file.read(2)
    check(head == b"\x1f\x8b" or page.endswith(".1"), "%s is neither gzip nor roff" % page)
    if head == b"\x1f\x8b":
        with gzip.open(page) as file:
            check(re.search(rb'^\.TH KESTRUNE "?1"? ', file.read(), re.MULTILINE), "%s has no .TH KESTRUNE 1 header" % page)
    text = rendered(page)
    parts = sections(text)
    for heading in ("NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "COMMANDS"):
        check(heading in parts, "the page has no %s section; it has %s" % (heading, sorted(parts)))
    check(words(parts["NAME"]).startswith("kestrune - "), "NAME is %r" % words(parts["NAME"]))

    version = packagingtest.run_ok([kestrune, "--version"]).strip()
    check(version.split()[-1] in text, "the page does not name the version %r" % version)

    # The program's own options and the text after them (exit codes, how to get a command's help).
    top = packagingtest.help_text(kestrune)
    top_page = words(parts["DESCRIPTION"] + parts["OPTIONS"])
    for option in packagingtest.options(kestrune):
        check(option in top_page, "the page's OPTIONS lack %s" % option)
    footer = words(top.split("\n\n")[-1])
    check(footer in top_page, "the page lacks the end of kestrune --help: %r" % footer)

    # Each command in its own subsection, in the order of --help, with every option of its --help.
    commands = packagingtest.commands(kestrune)
    body = parts["COMMANDS"]
    starts = []
    for command in commands:
        match = re.search(r"^ {2,4}%s$" % re.escape(command), body, re.MULTILINE)
        check(match, "COMMANDS has no subsection %r" % command)
        starts.append(match.start())
    check(starts == sorted(starts), "the commands are not in the order of --help: %s" % commands)
    for index, command in enumerate(commands):
        end = starts[index + 1] if index + 1 < len(commands) else len(body)
        section = words(body[starts[index]:end])
        help_text = packagingtest.help_text(kestrune, command)
        for option in packagingtest.options(kestrune, command):
            check(re.search(r"(^|[ ,])%s( |,|$)" % re.escape(option), section),
                  "the page's %s section lacks %s" % (command, option))
        # the usage line, and every option's text as --help words it
        for line in help_text.split("\n"):
            if line.startswith("Usage:"):
                check(words(line) in section, "the page's %s section lacks %r" % (command, line))
                continue
            # "  -x,--name VALUE  text" (two or more blanks before the text) or a wrapped text line
            match = re.match(r"^  \S.*?\s{2,}(\S.*)$", line) or re.match(r"^ {3,}(\S.*)$", line)
            if match:
                check(words(match.group(1)) in section,
                      "the page's %s section lacks the text %r" % (command, match.group(1)))

if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    packagingtest.main(lambda: test(os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])))
