#!/usr/bin/env python3
"""scripts/fuzz-smoke ends each target's run between inputs once its seconds are over: an input
still running then runs on, so one slower than the target's own time limit fails the run even
when it began just before the end, and one within the limit finishes and passes. The sanitized
build and the fuzzer are stand-ins on a copy of the script: the fuzzer takes its one input's
seconds from SLOW and behaves as libFuzzer does with -timeout and -stop_file."""

import os
import shutil
import subprocess
import unittest

from tree_test_case import TreeTestCase

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")

BUILD = """#!/usr/bin/env bash
echo build-sanitize
"""

FUZZER = """#!/usr/bin/env bash
for argument in "$@"; do
  case "$argument" in
    -timeout=*) timeout=${argument#-timeout=} ;;
    -stop_file=*) stop=${argument#-stop_file=} ;;
  esac
done
printf '#2\\tINITED cov: 1 ft: 1 corp: 1/1b exec/s: 0 rss: 1Mb\\n'
if ((SLOW > timeout)); then
  sleep "$timeout"
  echo "==1== ERROR: libFuzzer: timeout after $timeout seconds"
  exit 70
fi
sleep "$SLOW"
until [[ -s "$stop" ]]; do sleep 0.05; done
printf '#3\\tDONE cov: 1 ft: 1 corp: 1/1b exec/s: 1 rss: 1Mb\\n'
"""


class FuzzSmokeTest(TreeTestCase):
    def setUp(self):
        super().setUp()
        os.makedirs(os.path.join(self.root, "scripts", "lib"))
        shutil.copy(os.path.join(SCRIPTS, "fuzz-smoke"), os.path.join(self.root, "scripts", "fuzz-smoke"))
        shutil.copy(os.path.join(SCRIPTS, "lib", "phase.sh"), os.path.join(self.root, "scripts", "lib", "phase.sh"))
        self.write(os.path.join("scripts", "build"), BUILD, executable=True)
        self.write(os.path.join("build-sanitize", "slow_fuzz"), FUZZER, executable=True)
        self.write(os.path.join("seeds", "one"), "x")

    # The script's status and output with one input of `slow` seconds from the end of the seeds,
    # fuzzing one second, the target allowing `limit` seconds an input.
    def run_with(self, slow, limit):
        self.write(os.path.join("build-sanitize", "fuzz-targets.txt"),
                   "slow_fuzz %s %d\n" % (os.path.join(self.root, "seeds"), limit))
        env = dict(os.environ, FUZZ_SECONDS="1", SLOW=str(slow))
        done = subprocess.run([os.path.join(self.root, "scripts", "fuzz-smoke")], cwd=self.root, env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True, timeout=120)
        return done.returncode, done.stdout

    def test_an_input_slower_than_its_limit_fails_the_run_though_the_seconds_end_first(self):
        status, output = self.run_with(slow=4, limit=2)
        self.assertNotEqual(status, 0, output)
        self.assertIn("timeout after 2 seconds", output)
        self.assertIn("fuzz: failed: slow_fuzz", output)

    def test_an_input_within_its_limit_finishes_after_the_seconds_and_passes(self):
        status, output = self.run_with(slow=2, limit=5)
        self.assertEqual(status, 0, output)
        self.assertIn("fuzz: slow_fuzz: seeds in at #2", output)


if __name__ == "__main__":
    unittest.main()
