#!/usr/bin/python3
"""Fails when an option of nimbrel-top's --help is missing from the man page
or from a shell completion, or when one of them offers an option that --help
does not list.

The man page must have, in its OPTIONS section, a term "-m, --max MAX" for
every option (with the value name --help shows) and state the default that
--help shows. Each completion must offer exactly the options of --help on a
line that has none yet.

Usage: options_documented.py PRINT_HELP MAN_PAGE BASH_FILE FISH_FILE ZSH_FILE
Exit status 77 when a shell is missing (1 under CI=true).
"""

import os
import re
import shutil
import subprocess
import sys

BASH_COMPLETION = "/usr/share/bash-completion/bash_completion"


def skip(what):
    print(f"missing {what} (scripts/setup installs it)", file=sys.stderr)
    sys.exit(1 if os.environ.get("CI") == "true" else 77)


def help_options(print_help):
    """(short or None, long, value name or None, default or None) per option."""
    text = subprocess.run([print_help], check=True, capture_output=True, text=True).stdout
    options = []
    for m in re.finditer(r"^ +(?:(-\w),)?(--[\w-]+)(?: ([A-Z_]+)(?:=(\S+))?)?", text, re.M):
        options.append(m.groups())
    if len(options) < 2:
        sys.exit(f"no options found in the help text:\n{text}")
    return options


def option_words(options):
    return {w for short, long, _, _ in options for w in (short, long) if w}


def man_sections(page):
    """Section name -> its text, with font escapes and zero-width marks removed."""
    text = open(page, encoding="utf-8").read()
    text = re.sub(r"\\f[BIRP]|\\&", "", text).replace("\\-", "-")
    sections = {}
    for part in re.split(r"^\.SH ", text, flags=re.M)[1:]:
        name, _, body = part.partition("\n")
        sections[name.strip('"')] = body
    return sections


def check_man(page, options):
    errors = []
    body = man_sections(page).get("OPTIONS")
    if body is None:
        return ["the man page has no OPTIONS section"]
    # Each term starts a paragraph; its description runs to the next term.
    lines = body.split("\n")
    for short, long, value, default in options:
        term = ", ".join(w for w in (short, long) if w) + (f" {value}" if value else "")
        if term not in lines:
            errors.append(f'man page: no OPTIONS entry "{term}"')
            continue
        start = lines.index(term) + 1
        end = next((i for i in range(start, len(lines)) if re.match(r"-\w, --|--\w", lines[i])), len(lines))
        description = " ".join(lines[start:end])
        if default is not None and not re.search(rf"Default: \*?{re.escape(default)}\b", description):
            errors.append(f'man page: {long} does not give its default "{default}"')
    return errors


def bash_offers(file):
    if not os.path.exists(BASH_COMPLETION):
        skip("bash-completion")
    script = f"""
        . {BASH_COMPLETION}; . "$1"; compopt() {{ :; }}
        COMP_LINE='nimbrel-top ' COMP_POINT=12 COMP_WORDS=(nimbrel-top '') COMP_CWORD=1
        _nimbrel_top nimbrel-top '' nimbrel-top
        printf '%s\\n' "${{COMPREPLY[@]}}"
    """
    out = subprocess.run(["bash", "-c", script, "bash", file], check=True, capture_output=True, text=True)
    return set(out.stdout.split())


def fish_offers(file):
    if not shutil.which("fish"):
        skip("fish")
    out = subprocess.run(["fish", "--no-config", "-c", "source $argv[1]; complete -C 'nimbrel-top -'", file],
                         check=True, capture_output=True, text=True)
    return {line.split("\t")[0] for line in out.stdout.splitlines()}


def zsh_offers(file):
    """The option names that the completion declares to _arguments, as zsh expands them."""
    if not shutil.which("zsh"):
        skip("zsh")
    script = '_arguments() { print -rl -- "$@" }; _users() { }; . "$1"'
    out = subprocess.run(["zsh", "-f", "-c", script, "zsh", file], check=True, capture_output=True, text=True)
    offered = set()
    for declaration in out.stdout.splitlines():
        m = re.match(r"(?:\([^)]*\))?(-[\w-]+?)[+=]?(?:\[|:|$)", declaration)
        if m and declaration.startswith(("-", "(")) and m.group(1) not in ("-s", "-S"):
            offered.add(m.group(1))
    return offered


def main():
    if len(sys.argv) != 6:
        sys.exit(__doc__)
    print_help, page, bash_file, fish_file, zsh_file = map(os.path.abspath, sys.argv[1:])
    options = help_options(print_help)
    words = option_words(options)
    errors = check_man(page, options)
    for shell, offered in (("bash", bash_offers(bash_file)), ("fish", fish_offers(fish_file)),
                           ("zsh", zsh_offers(zsh_file))):
        for w in sorted(words - offered):
            errors.append(f"{shell} completion: {w} is not offered")
        for w in sorted(offered - words):
            errors.append(f"{shell} completion: offers {w}, which --help does not list")
    for e in errors:
        print("FAIL:", e)
    if not errors:
        print(f"{len(options)} options: all in the man page and in every completion")
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
