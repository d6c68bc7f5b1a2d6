#!/usr/bin/env python3
"""scripts/lib/ctest-quiet, as scripts/test runs ctest through it: passed tests become a short
progress line, a failed test keeps its line and its output, and ctest's summary closes the run."""

import os
import subprocess
import sys
import tempfile
import unittest

FILTER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib", "ctest-quiet")


class CtestQuietTest(unittest.TestCase):
    def run_tests(self, count, failing, disabled=(), names=None, told=None):
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "CTestTestfile.cmake"), "w") as f:
                for i in range(count):
                    if i in disabled:
                        f.write('add_test(off_%d "/bin/true")\nset_tests_properties(off_%d PROPERTIES DISABLED TRUE)\n'
                                % (i, i))
                    elif i in failing:
                        f.write('add_test(fails_%d "/bin/sh" "-c" "echo the words of failure %d; exit 1")\n' % (i, i))
                    else:
                        f.write('add_test(%s "/bin/true")\n' % (names or {}).get(i, "passes_%d" % i))
            ctest = subprocess.Popen(["ctest", "--output-on-failure", "-j2"], cwd=folder, stdout=subprocess.PIPE,
                                     stderr=subprocess.DEVNULL)
            shown = subprocess.run([FILTER] + ([] if told is None else [str(told)]), stdin=ctest.stdout,
                                   capture_output=True, text=True, timeout=120)
            ctest.stdout.close()
            self.assertNotEqual(ctest.wait(timeout=120), None)
            return shown.stdout.splitlines()

    def test_passed_tests_become_a_short_progress(self):
        lines = self.run_tests(40, set())
        self.assertFalse([l for l in lines if "Passed" in l or "Start " in l], lines)
        self.assertLessEqual(len(lines), 20, lines)
        self.assertIn("40 of 40 tests done, 0 did not pass", lines)
        self.assertIn("100% tests passed, 0 tests failed out of 40", lines)

    def test_a_failure_shows_its_output_and_the_summary_names_it(self):
        lines = self.run_tests(30, {7})
        failed = [l for l in lines if "fails_7" in l and "***Failed" in l]
        self.assertEqual(len(failed), 1, lines)
        self.assertIn("the words of failure 7", lines)
        self.assertIn("97% tests passed, 1 tests failed out of 30", lines)
        self.assertTrue(any(l.strip().endswith("fails_7 (Failed)") for l in lines), lines)

    def test_disabled_tests_are_told_in_one_line_and_not_counted_as_failed(self):
        lines = self.run_tests(20, set(), disabled={3, 9})
        # The progress ends on what ctest's summary counts: the tests that ran.
        self.assertIn("18 of 18 tests done, 0 did not pass", lines)
        self.assertIn("100% tests passed, 0 tests failed out of 18", lines)
        # ctest's closing list of them becomes one sentence, naming none.
        self.assertEqual([l for l in lines if "off_" in l or "did not run" in l],
                         ["2 tests did not run by themselves, as planned: they are children that other tests start "
                          "in a process of their own."], lines)

    def test_disabled_tests_told_of_are_left_out_from_the_first_line(self):
        lines = self.run_tests(30, set(), disabled={20, 27}, told=2)
        progress = [l for l in lines if "tests done" in l]
        self.assertTrue(progress, lines)
        self.assertEqual([l for l in progress if not l.split(" of ")[1].startswith("28 ")], [], lines)
        self.assertEqual(progress[-1], "28 of 28 tests done, 0 did not pass")
        self.assertIn("100% tests passed, 0 tests failed out of 28", lines)

    def test_a_kept_line_is_not_padded_to_the_longest_name(self):
        lines = self.run_tests(12, {2}, names={5: "a_" + "very_" * 60 + "long_name"})
        failed = [l for l in lines if "fails_2" in l and "***Failed" in l]
        self.assertEqual(len(failed), 1, lines)
        self.assertNotIn("..", failed[0])
        self.assertLess(len(failed[0]), 80, failed[0])


if __name__ == "__main__":
    unittest.main()
