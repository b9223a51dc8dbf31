#!/usr/bin/env python3
"""Every error text the reference notes quote is a text the sources produce.

Under the lines "Appends to ErrorDescription:" and "Throws:" of a notes file, each
bullet's double-quoted texts must occur in a string literal of the C++ sources (adjacent
literals joined, escapes as written); a <placeholder> stands for a part made at run time.
Usage: reference_texts.py SOURCE_ROOT NOTES...
"""
import pathlib
import re
import sys

MARKERS = ("Appends to ErrorDescription:", "Throws:")
SOURCE_FOLDERS = ("common", "database", "host", "platform", "script", "vellum", "vellumset")


def source_text(root):
    text = []
    for folder in SOURCE_FOLDERS:
        for path in sorted((root / folder).rglob("*")):
            if path.suffix in (".cpp", ".h"):
                text.append(path.read_text(encoding="utf-8"))
    joined = "\n".join(text)
    # "abc" "def" (also across lines, with u or u8 prefixes) is one literal "abcdef".
    joined = re.sub(r'"\s*\n?\s*(?:u8|u|L)?"', "", joined)
    # A trailing line feed is written "\n" in a literal and "followed by a line feed" in notes.
    return joined


def quoted_texts(notes):
    texts = []
    in_list = False
    for number, line in enumerate(notes.splitlines(), 1):
        if line.strip() in MARKERS:
            in_list = True
        elif in_list and line.startswith("- "):
            texts += [(number, text) for text in re.findall(r'"((?:[^"\\]|\\.)+)"', line)]
        elif in_list and line.strip():
            in_list = False
    return texts


def main():
    root = pathlib.Path(sys.argv[1])
    sources = source_text(root)
    missing = []
    for notes_path in sys.argv[2:]:
        notes = (root / notes_path).read_text(encoding="utf-8")
        for number, text in quoted_texts(notes):
            fragments = [f for f in re.split(r"<[^>]+>", text) if f.strip()]
            if not all(f in sources for f in fragments):
                missing.append(f"{notes_path}:{number}: no source produces \"{text}\"")
    for problem in missing:
        print(problem, file=sys.stderr)
    return 1 if missing else 0


if __name__ == "__main__":
    sys.exit(main())
