#!/usr/bin/env python3
"""A class or namespace that has a source of its own is defined there, or in sources named after it
(APMDatabaseQueue.cpp for APMDatabase): a definition elsewhere ties that file back to the one
that declares it. The platform's stand-ins keep their categories in the category's file, so
platform/ is left out."""

import os
import re
import subprocess
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
DEFINITION = re.compile(r"^(?:[\w:<>,\s*&]+?\s+)?[*&]*(\w+)::~?\w+\s*\(")


def misplaced(files, read):
    """(file, line, owner) for each definition of a member of another unit's class or namespace."""
    units = {os.path.splitext(f)[0] for f in files if f.endswith(".cpp")}
    headers = {os.path.splitext(f)[0] for f in files if f.endswith(".h")}
    found = []
    for path in (f for f in files if f.endswith(".cpp")):
        folder, unit = os.path.dirname(path), os.path.basename(path)[:-4]
        for number, line in enumerate(read(path), 1):
            match = DEFINITION.match(line) if line[:1] not in " \t/#}" else None
            owner = match and match.group(1)
            if owner and not unit.startswith(owner) and os.path.join(folder, owner) in units & headers:
                found.append((path, number, owner))
    return found


class DefinitionsPlacementTest(unittest.TestCase):
    def test_each_class_with_a_source_of_its_own_is_defined_there(self):
        listed = subprocess.run(["git", "-C", ROOT, "ls-files", "*.cpp", "*.h"], capture_output=True, text=True,
                                check=True).stdout.split()
        files = [f for f in listed if not f.startswith(("tests/", "platform/"))]
        self.assertIn("analytics/reporters/APMScreenClassName.cpp", files)

        def read(path):
            with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                return f.readlines()

        self.assertEqual(misplaced(files, read), [])

    def test_a_definition_in_another_units_source_is_found(self):
        sources = {"a/B.cpp": ["void B::run() {}\n", "int C::size() const {\n", "  int D::x(\n"],
                   "a/C.cpp": [], "a/C.h": [], "a/CParts.cpp": ["void C::more() {}\n"]}
        self.assertEqual(misplaced(list(sources), sources.__getitem__), [("a/B.cpp", 2, "C")])


if __name__ == "__main__":
    unittest.main()
