#!/usr/bin/env python3
"""Every text the application shows through its core string table has an entry in each language's
table of the demo bundle, so that no screen shows one word of English in another language."""

import glob
import os
import re
import subprocess
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
USE = re.compile(r'OECoreString\("((?:[^"\\]|\\.)*)"\)')
ENTRY = re.compile(r'^"((?:[^"\\]|\\.)*)"\s*=', re.M)


def c_text(literal):
    """The bytes of a C string literal's body, as UTF-8 text."""
    return literal.encode("latin-1", "backslashreplace").decode("unicode_escape").encode("latin-1").decode("utf-8")


def missing(uses, table):
    return sorted(set(uses) - set(ENTRY.findall(table)))


class CoreStringsTest(unittest.TestCase):
    def test_every_core_text_has_an_entry_in_every_language(self):
        listed = subprocess.run(["git", "-C", ROOT, "ls-files", "*.cpp", "*.h"], capture_output=True, text=True,
                                check=True).stdout.split()
        uses = set()
        for path in (f for f in listed if not f.startswith("tests/")):
            with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                uses.update(c_text(m) for m in USE.findall(f.read()))
        self.assertIn("This page cannot be shown.", uses)
        tables = glob.glob(os.path.join(ROOT, "demo", "bundle", "*.lproj", "Core.strings"))
        self.assertGreaterEqual(len(tables), 2)
        for table in tables:
            with open(table, encoding="utf-8") as f:
                self.assertEqual(missing(uses, f.read()), [], table)

    def test_an_entry_is_matched_by_its_key(self):
        self.assertEqual(missing({"A", "B c"}, '"A" = "Ä";\n"B" = "b";\n'), ["B c"])
        self.assertEqual(c_text(r"\xD1\x81ompositions"), "\u0441ompositions")


if __name__ == "__main__":
    unittest.main()
