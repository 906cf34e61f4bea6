#!/usr/bin/env python3
"""Checks the translated built-in texts in resources/languages/ against the
English ones (resources/texts.toml and resources/uninstall_texts.inc).

Each <code>.toml there must hold the same text tables as texts.toml (a list
where the English has a list, of the same length; a table of the same numbers
where it has a table) and a table [uninstall] with the uninstall program's
text names. Every text keeps the English text's placeholders: the printf
conversions in their order, "{title}", the line breaks and the "&" access
keys; it is empty exactly where the English one is; and every character of it
exists in the Windows code page that the comment at the top of the file names
("code page 1252"). Access keys must not clash among the controls one window
shows together, and Japanese and Chinese captions take theirs in the form
"(&N)".

Usage: check_translations.py [language file...]   (default: all of them)
Prints one line per fault and exits with 1 when there is any.
"""
import pathlib
import re
import sys
import tomllib

ROOT = pathlib.Path(__file__).resolve().parents[2]
RESOURCES = ROOT / "resources"

# The code page each language's texts must fit, for the languages kelvo ships;
# a file's own comment must name the same one.
KNOWN_CODE_PAGES = {
    "de": 1252, "fr": 1252, "es": 1252, "it": 1252, "nl": 1252,
    "pl": 1250, "ru": 1251, "ja": 932, "zh": 936,
}
# Code pages whose captions put the access key after the word: "次へ(&N) >".
BRACKETED_KEY_CODE_PAGES = {932, 936}

# Controls one window shows at once whose access keys must differ, as
# (table, string) pairs. Back and Next stay on every page of the frame.
SHARED_KEY_GROUPS = {
    "destination page": [("buttons", 0), ("buttons", 1)],
    "confirmation page": [("buttons", 0), ("buttons", 3)],
    "finish page": [("buttons", 0), ("buttons", 1), ("finish", 5), ("finish", 6)],
    "folder browser": [("messages", 2), ("messages", 3)],
}

PRINTF = re.compile(r"%[-+ #0]*[0-9]*(?:\.[0-9]+)?[a-zA-Z%]")
CODE_PAGE_COMMENT = re.compile(r"code page (\d+)")


def english_texts():
    """The setup texts and the uninstall texts, each as a parsed document."""
    setup = tomllib.loads((RESOURCES / "texts.toml").read_text(encoding="utf-8"))
    source = (RESOURCES / "uninstall_texts.inc").read_text(encoding="utf-8")
    match = re.search(r'R"toml\((.*)\)toml"', source, re.S)
    if match is None:
        raise SystemExit("uninstall_texts.inc: no R\"toml(...)toml\" string")
    return setup, tomllib.loads(match.group(1))


def as_numbered(value):
    """A text table as {number: text}, whether given as a list or a table."""
    if isinstance(value, list):
        return {n: text for n, text in enumerate(value)}
    return {int(n): text for n, text in value.items()}


def access_keys(text):
    """The characters marked with "&" ("&&" is a literal ampersand)."""
    return re.findall(r"&(?!&)(.)", text.replace("&&", ""))


def placeholders(text):
    """What a translation must keep: printf conversions in order; "{title}",
    line breaks and the number of access keys in any order."""
    conversions = PRINTF.findall(text)
    others = sorted(
        ["{title}"] * text.count("{title}")
        + ["\\r\\n"] * text.count("\r\n")
        + ["\\n"] * (text.count("\n") - text.count("\r\n"))
        + ["&"] * len(access_keys(text))
    )
    return conversions, others


class Checker:
    def __init__(self, path):
        self.path = path
        self.faults = []

    def fault(self, where, message):
        self.faults.append(f"{self.path.name}: {where}: {message}")

    def check_text(self, where, english, text, code_page):
        if not isinstance(text, str):
            self.fault(where, "must be a text")
            return
        if (english == "") != (text == ""):
            self.fault(where, "must be empty" if english == "" else "must not be empty")
        wanted, got = placeholders(english), placeholders(text)
        if wanted[0] != got[0]:
            self.fault(where, f"printf conversions {got[0]}, the English has {wanted[0]}")
        if wanted[1] != got[1]:
            self.fault(where, f"placeholders {got[1]}, the English has {wanted[1]}")
        for char in dict.fromkeys(text):
            try:
                char.encode(f"cp{code_page}")
            except UnicodeEncodeError:
                self.fault(where, f"{char!r} (U+{ord(char):04X}) is not in code page {code_page}")
        for key in access_keys(text):
            if not key.isalnum():
                self.fault(where, f'"&" marks {key!r}, not a letter or digit')
        if code_page in BRACKETED_KEY_CODE_PAGES and access_keys(text):
            if not re.search(r"\(&[A-Z]\)", text):
                self.fault(where, 'the access key must be written "(&X)" after the word')

    def check_table(self, name, english, given, code_page):
        if isinstance(english, list) != isinstance(given, list):
            self.fault(name, "must be a list" if isinstance(english, list) else "must be a table of numbers")
            return
        if isinstance(english, list) and len(english) != len(given):
            self.fault(name, f"holds {len(given)} texts, the English {len(english)}")
        wanted, got = as_numbered(english), as_numbered(given)
        for number in sorted(set(wanted) ^ set(got)):
            self.fault(f"{name}.{number}", "missing" if number in wanted else "not in the English texts")
        for number in sorted(set(wanted) & set(got)):
            self.check_text(f"{name}.{number}", wanted[number], got[number], code_page)

    def check_shared_keys(self, document):
        for window, members in SHARED_KEY_GROUPS.items():
            seen = {}
            for table, number in members:
                if not isinstance(document.get(table), (list, dict)):
                    continue
                text = as_numbered(document[table]).get(number)
                if not isinstance(text, str):
                    continue
                for key in access_keys(text):
                    other = seen.setdefault(key.lower(), f"{table}.{number}")
                    if other != f"{table}.{number}":
                        self.fault(f"{table}.{number}", f'access key "{key}" is also {other}\'s on the {window}')

    def check(self, english_setup, english_uninstall):
        source = self.path.read_text(encoding="utf-8")
        header = []
        for line in source.splitlines():
            if not line.startswith("#"):
                break
            header.append(line)
        match = CODE_PAGE_COMMENT.search("\n".join(header))
        if match is None:
            self.fault("top", 'the comment at the top must name the code page ("code page 1252")')
            return self.faults
        code_page = int(match.group(1))
        try:
            "".encode(f"cp{code_page}")
        except LookupError:
            self.fault("top", f"code page {code_page} is not one Python can encode")
            return self.faults
        known = KNOWN_CODE_PAGES.get(self.path.stem)
        if known is not None and known != code_page:
            self.fault("top", f"names code page {code_page}, but this language's texts take {known}")
        try:
            document = tomllib.loads(source)
        except tomllib.TOMLDecodeError as error:
            self.fault("toml", str(error))
            return self.faults

        for name in document:
            if name not in english_setup and name != "uninstall":
                self.fault(name, "not a table of the English texts")
        for name, english in english_setup.items():
            if name not in document:
                self.fault(name, "missing")
            else:
                self.check_table(name, english, document[name], code_page)

        uninstall = document.get("uninstall")
        if not isinstance(uninstall, dict):
            self.fault("uninstall", "missing (a table of the uninstall program's texts)")
        else:
            for name in sorted(set(english_uninstall) ^ set(uninstall)):
                self.fault(f"uninstall.{name}", "missing" if name in english_uninstall else "not an uninstall text")
            for name in english_uninstall:
                if name in uninstall:
                    self.check_text(f"uninstall.{name}", english_uninstall[name], uninstall[name], code_page)
        self.check_shared_keys(document)
        return self.faults


def main(arguments):
    english_setup, english_uninstall = english_texts()
    if arguments:
        paths = [pathlib.Path(argument) for argument in arguments]
    else:
        paths = sorted((RESOURCES / "languages").glob("*.toml"))
    faults = []
    if not arguments:
        found = {path.stem for path in paths}
        faults += [f"resources/languages/{code}.toml: missing" for code in sorted(set(KNOWN_CODE_PAGES) - found)]
    for path in paths:
        faults += Checker(path).check(english_setup, english_uninstall)
    for fault in faults:
        print(fault)
    print(f"{len(paths)} language files checked, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
