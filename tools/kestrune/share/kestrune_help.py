#!/usr/bin/env python3
"""Writes the bash completion and the commands section of the manual page of kestrune from the
program's own --help texts, so neither can drift from the options the program accepts.

  kestrune_help.py KESTRUNE completion OUT      bash completion script
  kestrune_help.py KESTRUNE man-commands OUT    help2man include file: one subsection per command

The help texts are CLI11's: a description, a "Usage:" line, sections of entries ("Options:",
"Positionals:", "Subcommands:") with the description at a fixed column, then free text.
"""
import re
import subprocess
import sys

ENTRY_SECTIONS = ("Positionals", "Options", "Flags", "Subcommands")


class Option:
    def __init__(self, names, value, required, repeatable, text):
        self.names = names          # e.g. ["-o", "--output"]; a positional has its own name
        self.value = value          # the value's name, "" for a flag
        self.choices = []
        match = re.match(r"^(\S*?):\{(.*)\}$", value)
        if match:
            self.value, self.choices = match.group(1), match.group(2).split(",")
        self.required = required
        self.repeatable = repeatable
        self.text = text

    def value_kind(self):
        """What a value of this option names: 'choice', 'directory', 'file' or '' (a number or
        text, nothing to complete)."""
        if self.choices:
            return "choice"
        name = self.value.split(":")[0]
        if not name:
            return ""
        if "DIR" in name:
            return "directory"
        if re.search(r"FILE|PATH|INPUT|OUTPUT|\.\w+$", name):
            return "file"
        return ""


class Help:
    def __init__(self, text):
        self.description = []
        self.usage = ""
        self.sections = {}          # section name -> list of Option (or subcommand entries)
        self.footer = []
        lines = text.rstrip("\n").split("\n")
        column = description_column(lines)
        section = None
        entries = None
        in_footer = False
        for line in lines:
            header = re.match(r"^(\w[\w ]*):$", line)
            if line.startswith("Usage:"):
                self.usage = line[len("Usage:"):].strip()
                section = "usage"
            elif not in_footer and header and header.group(1) in ENTRY_SECTIONS:
                section = header.group(1)
                entries = self.sections.setdefault(section, [])
            elif section is None:
                if line.strip():
                    self.description.append(line.strip())
            elif section in ENTRY_SECTIONS and not in_footer and line.startswith("  "):
                if line[:column].strip():
                    head, text = line[:column].strip(), line[column:].strip()
                    if len(line) > column and line[column - 1] != " ":
                        head, text = line.strip(), ""  # too wide: the text follows on its own line
                    entries.append(parse_entry(head, text, section))
                elif entries:
                    entries[-1].text = (entries[-1].text + " " + line.strip()).strip()
            elif line.strip() or self.footer:
                if section != "usage" or line.strip():
                    in_footer = True
                    self.footer.append(line)

    def options(self):
        return self.sections.get("Options", []) + self.sections.get("Flags", [])

    def positionals(self):
        return self.sections.get("Positionals", [])

    def subcommands(self):
        return self.sections.get("Subcommands", [])


def description_column(lines):
    """The column where CLI11 starts each entry's description: the indent of a continuation line,
    or else the most common start of a second field."""
    counts = {}
    for line in lines:
        if re.match(r"^ {3,}\S", line):
            indent = len(line) - len(line.lstrip())
            counts[indent] = counts.get(indent, 0) + 100
        match = re.match(r"^  \S.*?\s{2,}(?=\S)", line)
        if match:
            counts[match.end()] = counts.get(match.end(), 0) + 1
    return max(counts, key=counts.get) if counts else 30


def parse_entry(head, text, section):
    if section == "Subcommands":
        return Option([head.split()[0]], "", False, False, text)
    names, *words = head.split()
    names = names.split(",")
    required = "REQUIRED" in words
    repeatable = "..." in words
    value = " ".join(word for word in words if word not in ("REQUIRED", "..."))
    if section == "Positionals":
        # "input INPUT": the first word is the name of the positional, the second its value
        return Option(names, value or names[0].upper(), required, repeatable, text)
    return Option(names, value, required, repeatable, text)


def help_of(program, *command):
    result = subprocess.run([program, *command, "--help"], stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                            universal_newlines=True, check=False)
    if result.returncode != 0:
        sys.exit("%s %s --help exited with %d:\n%s" % (program, " ".join(command), result.returncode, result.stdout))
    return Help(result.stdout)


def all_help(program):
    top = help_of(program)
    if not top.subcommands():
        sys.exit("%s --help lists no commands" % program)
    return top, [(entry.names[0], help_of(program, entry.names[0])) for entry in top.subcommands()]


# --- bash completion ------------------------------------------------------------------------------

def shell_words(words):
    words = list(words)
    for word in words:
        if not re.match(r"^[\w.,:+=@%/-]+$", word):
            sys.exit("cannot put %r into the completion script" % word)
    return " ".join(words)


def completion(program):
    top, commands = all_help(program)
    out = ["# bash completion for kestrune; written at build time from the program's --help.", "",
           "_kestrune_commands='%s'" % shell_words(name for name, _ in commands), "",
           "# _kestrune_options COMMAND: the options of COMMAND (empty: of the program itself)",
           "_kestrune_options() {", "  case $1 in"]
    for name, command in [("", top)] + commands:
        words = [option_name for option in command.options() for option_name in option.names]
        out.append("    %s) echo '%s' ;;" % (name or "''", shell_words(words)))
    out += ["  esac", "}", "",
            "# _kestrune_value COMMAND OPTION: what the value of OPTION names: 'choice:A B C', 'file',",
            "# 'directory', 'none'; nothing when OPTION takes no value",
            "_kestrune_value() {", "  case $1:$2 in"]
    for name, command in [("", top)] + commands:
        for option in command.options():
            if not option.value:
                continue
            kind = option.value_kind()
            if kind == "choice":
                kind = "choice:" + shell_words(option.choices)
            patterns = "|".join("%s:%s" % (name, option_name) for option_name in option.names)
            out.append("    %s) echo '%s' ;;" % (patterns, kind or "none"))
    out += ["  esac", "}", "", "# _kestrune_operand COMMAND: what its positional arguments name",
            "_kestrune_operand() {", "  case $1 in"]
    for name, command in commands:
        kinds = {positional.value_kind() for positional in command.positionals()}
        kind = "file" if "file" in kinds else ("directory" if "directory" in kinds else "none")
        out.append("    %s) echo %s ;;" % (name, kind))
    out += ["    *) echo none ;;", "  esac", "}", COMPLETION_FUNCTION]
    return "\n".join(out) + "\n"


COMPLETION_FUNCTION = r'''
_kestrune_reply() {
  local IFS=$'\n'
  case $1 in
    file) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- "$2")) ;;
    directory) compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- "$2")) ;;
    choice:*) IFS=' ' COMPREPLY=($(IFS=' '; compgen -W "${1#choice:}" -- "$2")) ;;
    *) COMPREPLY=() ;;
  esac
}

_kestrune() {
  local cur=${COMP_WORDS[COMP_CWORD]} prev='' option='' command='' word kind i
  ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}
  # The command is the first word that names one and is not the value of an option.
  for ((i = 1; i < COMP_CWORD; i++)); do
    word=${COMP_WORDS[i]}
    if [[ $word == -* ]]; then
      [[ -n $(_kestrune_value "$command" "$word") && ${COMP_WORDS[i + 1]} != = ]] && ((i++))
    elif [[ -z $command && " $_kestrune_commands " == *" $word "* ]]; then
      command=$word
    fi
  done
  # "--option value", "--option=value" (split at "=" by readline) and "--option=" itself
  if [[ $cur == = && $prev == -* ]]; then
    option=$prev cur=''
  elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then
    option=${COMP_WORDS[COMP_CWORD - 2]}
  elif [[ $prev == -* ]]; then
    option=$prev
  fi
  if [[ -n $option ]]; then
    kind=$(_kestrune_value "$command" "$option")
    if [[ -n $kind ]]; then
      _kestrune_reply "$kind" "$cur"
      return 0
    fi
  fi
  if [[ $cur == -* ]]; then
    COMPREPLY=($(compgen -W "$(_kestrune_options "$command")" -- "$cur"))
  elif [[ -z $command ]]; then
    COMPREPLY=($(compgen -W "$_kestrune_commands" -- "$cur"))
  else
    _kestrune_reply "$(_kestrune_operand "$command")" "$cur"
  fi
  return 0
}
complete -F _kestrune kestrune'''


# --- manual page ------------------------------------------------------------------------------------

def roff(text):
    text = text.replace("\\", "\\e").replace("-", "\\-")
    return re.sub(r"^([.'])", r"\\&\1", text)


def roff_option(option, positional=False):
    if positional:
        return "\\fI%s\\fR" % roff(option.value)
    names = ", ".join("\\fB%s\\fR" % roff(name) for name in option.names)
    value = " \\fI%s\\fR" % roff(option.value) if option.value else ""
    if option.choices:
        value += " (%s)" % roff(", ".join(option.choices))
    return names + value


def roff_free_text(lines):
    out = []
    preformatted = False
    for line in lines:
        indented = line.startswith(" ") and line.strip()
        if preformatted and not indented:
            out += [".fi", ".RE"]
            preformatted = False
        if not line.strip():
            out.append(".PP")
        elif indented and not preformatted:
            out += [".RS", ".nf", roff(line.strip())]
            preformatted = True
        elif indented:
            out.append(roff(line.strip()))
        else:
            out.append(roff(line))
    if preformatted:
        out += [".fi", ".RE"]
    return out


def man_commands(program):
    _, commands = all_help(program)
    out = ["[COMMANDS]"]
    for name, command in commands:
        out.append(".SS %s" % roff(name))
        out += [roff(line) for line in command.description]
        out += [".PP", "\\fBUsage:\\fR %s" % roff(command.usage)]
        for positional in command.positionals():
            out += [".TP", roff_option(positional, positional=True) + (" (required)" if positional.required else ""),
                    roff(positional.text)]
        for option in command.options():
            required = " (required)" if option.required else ""
            repeatable = " (repeatable)" if option.repeatable else ""
            out += [".TP", roff_option(option) + required + repeatable, roff(option.text)]
        if command.footer:
            out += [".PP"] + roff_free_text(command.footer)
    return "\n".join(out) + "\n"


def main():
    if len(sys.argv) != 4 or sys.argv[2] not in ("completion", "man-commands"):
        sys.exit(__doc__)
    program, what, output = sys.argv[1:]
    text = completion(program) if what == "completion" else man_commands(program)
    with open(output, "w") as file:
        file.write(text)


if __name__ == "__main__":
    main()
