#!/usr/bin/env python3
"""The simulator's files include one another without a loop (a source counting with its header):
each piece of it reads only what lies below it, so that the screen's reader can sit on the
numbering and never the other way."""

import os
import re
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
INCLUDE = re.compile(r'\s*#include "simulator/([^"]+)\.h"')


def includes(folder):
    graph = {}
    for name in sorted(os.listdir(folder)):
        unit, extension = os.path.splitext(name)
        if extension not in (".cpp", ".h"):
            continue
        with open(os.path.join(folder, name), encoding="utf-8") as f:
            found = {m.group(1) for m in map(INCLUDE.match, f) if m}
        graph.setdefault(unit, set()).update(found - {unit})
    return graph


def loop_in(graph):
    """A list of units that include one another round, or None."""
    state = {}

    def visit(unit, path):
        state[unit] = "open"
        for next_unit in sorted(graph.get(unit, ())):
            if state.get(next_unit) == "open":
                return path[path.index(next_unit):] + [next_unit]
            if next_unit not in state:
                found = visit(next_unit, path + [next_unit])
                if found:
                    return found
        state[unit] = "done"
        return None

    for unit in sorted(graph):
        if unit not in state:
            found = visit(unit, [unit])
            if found:
                return found
    return None


class SimulatorIncludesTest(unittest.TestCase):
    def test_the_simulators_files_include_one_another_without_a_loop(self):
        graph = includes(os.path.join(ROOT, "simulator"))
        self.assertIn("SimNumbering", graph)
        self.assertIsNone(loop_in(graph))

    def test_a_loop_is_found(self):
        self.assertEqual(loop_in({"a": {"b"}, "b": {"c"}, "c": {"a"}}), ["a", "b", "c", "a"])
        self.assertIsNone(loop_in({"a": {"b"}, "b": set()}))


if __name__ == "__main__":
    unittest.main()
