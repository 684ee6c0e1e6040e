#!/usr/bin/env python3
"""Checks Quillane's Nemo action against what Nemo reads and against the
desktop entry:

  check_nemo_action.py <quillane.nemo_action> <desktop entry> [<desktop file>...]

The action must be a key file with a [Nemo Action] group holding the keys
Nemo requires (Name, Exec, Selection, and Mimetypes or Extensions) with values
Nemo accepts, and its Exec must run the desktop entry's command: the same
program and options, with the file where the entry has its field code (%f in
a desktop entry, %F in a Nemo action, which passes the file's path; Nemo's %f
is its display name). Each further desktop file (the KDE service menu) is held
to the same command in the Exec of every group that has one.

Prints one line per problem and exits with 1 when there is any.
"""

import re
import shlex
import sys

NEMO_GROUP = "Nemo Action"
SELECTIONS = {"s", "m", "any", "notnone", "none"}
QUOTES = {"single", "double", "backtick"}
DESKTOP_FILE_CODES = {"%f", "%F", "%u", "%U"}
NEMO_FILE_CODES = {"%F", "%U"}


def parse_key_file(text):
    """Returns {group: {key: value}} of a key file (the desktop entry syntax
    that GLib's GKeyFile reads), or raises ValueError on a line it rejects."""
    groups = {}
    group = None
    for number, line in enumerate(text.splitlines(), 1):
        stripped = line.strip()
        if not stripped or stripped.startswith("#"):
            continue
        heading = re.fullmatch(r"\[([^\[\]]+)\]", stripped)
        if heading:
            group = heading.group(1)
            if group in groups:
                raise ValueError(f"line {number}: group [{group}] appears twice")
            groups[group] = {}
            continue
        if group is None:
            raise ValueError(f"line {number}: key before the first group")
        key, equals, value = line.partition("=")
        key = key.strip()
        if not equals or not re.fullmatch(r"[A-Za-z0-9-]+(\[[^\]]+\])?", key):
            raise ValueError(f"line {number}: not a key=value line: {line!r}")
        if key in groups[group]:
            raise ValueError(f"line {number}: key {key} appears twice in [{group}]")
        groups[group][key] = value.strip()
    return groups


def command_shape(exec_line, file_codes):
    """Splits an Exec line as GLib does (shell quoting rules) into the
    arguments with the one file field code replaced by "<file>"; raises
    ValueError when the line does not parse or has no single file code."""
    try:
        arguments = shlex.split(exec_line)
    except ValueError as error:
        raise ValueError(f"Exec does not parse: {error}") from None
    codes = [a for a in arguments if a in file_codes]
    if len(codes) != 1:
        raise ValueError(f"Exec {exec_line!r} must hold exactly one of "
                         f"{' '.join(sorted(file_codes))} as an argument")
    return ["<file>" if a in file_codes else a for a in arguments]


def check_action(action_text, entry_command):
    """Returns the problems of a Nemo action's text; entry_command is the
    desktop entry's command shape (command_shape)."""
    try:
        groups = parse_key_file(action_text)
    except ValueError as error:
        return [str(error)]
    if NEMO_GROUP not in groups:
        return [f"no [{NEMO_GROUP}] group"]
    keys = groups[NEMO_GROUP]
    problems = []
    for key in ("Name", "Exec", "Selection"):
        if not keys.get(key):
            problems.append(f"{key} missing or empty")
    selection = keys.get("Selection", "").lower()
    if selection and selection not in SELECTIONS and not re.fullmatch(r"[1-9][0-9]*", selection):
        problems.append(f"Selection={keys['Selection']} is none of {sorted(SELECTIONS)} "
                        "nor a number of files")
    lists = [key for key in ("Mimetypes", "Extensions") if key in keys]
    if not lists:
        problems.append("neither Mimetypes nor Extensions")
    for key in lists:
        entries = keys[key].split(";")
        if entries[-1] != "" or not all(entries[:-1]):
            problems.append(f"{key}={keys[key]} is not a list ending with ';'")
    if "Mimetypes" in keys and "application/pdf" not in keys["Mimetypes"].split(";"):
        problems.append(f"Mimetypes={keys['Mimetypes']} does not name application/pdf")
    if "Quote" in keys and keys["Quote"] not in QUOTES:
        problems.append(f"Quote={keys['Quote']} is none of {sorted(QUOTES)}")
    if keys.get("Exec"):
        try:
            shape = command_shape(keys["Exec"], NEMO_FILE_CODES)
            if shape != entry_command:
                problems.append(f"Exec runs {shape}, the desktop entry {entry_command}")
        except ValueError as error:
            problems.append(str(error))
    return problems


def desktop_commands(text):
    """Returns {group: command shape} for every group of a desktop file that
    has an Exec key."""
    return {group: command_shape(keys["Exec"], DESKTOP_FILE_CODES)
            for group, keys in parse_key_file(text).items() if "Exec" in keys}


def main(argv):
    if len(argv) < 3:
        print("usage: check_nemo_action.py <quillane.nemo_action> <desktop entry> "
              "[<desktop file>...]", file=sys.stderr)
        return 2
    action_path, entry_path, *other_paths = argv[1:]
    problems = []

    def read(path):
        with open(path, encoding="utf-8") as file:
            return file.read()

    try:
        entry = desktop_commands(read(entry_path)).get("Desktop Entry")
    except ValueError as error:
        print(f"{entry_path}: {error}")
        return 1
    if entry is None:
        print(f"{entry_path}: no Exec in [Desktop Entry]")
        return 1
    problems += [f"{action_path}: {p}" for p in check_action(read(action_path), entry)]
    for path in other_paths:
        try:
            commands = desktop_commands(read(path))
        except ValueError as error:
            problems.append(f"{path}: {error}")
            continue
        if not commands:
            problems.append(f"{path}: no Exec")
        for group, shape in commands.items():
            if shape != entry:
                problems.append(f"{path}: [{group}] runs {shape}, the desktop entry {entry}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
