#!/usr/bin/env python3
"""scripts/test says at once that it builds first, and on a first build that it takes several
minutes; while it builds it shows the build's progress and its own sentences, not the compiler's
lines; its closing line names what it timed, the tests. scripts/build and ctest are stand-ins on a
copy of the script: the build stops halfway until the test has seen what it expects, so what the
test saw came while the build ran."""

import os
import queue
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import unittest

SCRIPTS = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts")

BUILD = """#!/usr/bin/env bash
echo "install-deps: installing cmake" >&2
for i in $(seq 1 20); do
  echo "[$i/20] Building CXX object part$i.o" >&2
  echo "part$i.cpp:1: a line of the compiler's" >&2
  if [[ $i == 10 ]]; then read -r go <"%(fifo)s"; fi
done
mkdir -p build
echo build
"""

# Its test list (asked for the disabled ones) is empty; a run passes its three tests.
CTEST = """#!/usr/bin/env bash
if [[ "$*" == *--show-only* ]]; then echo '{"tests": []}'; exit 0; fi
echo "100% tests passed, 0 tests failed out of 3"
"""


class TestScriptTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        os.makedirs(os.path.join(self.root, "scripts", "lib"))
        shutil.copy(os.path.join(SCRIPTS, "test"), os.path.join(self.root, "scripts", "test"))
        for name in ("phase.sh", "build-progress", "ctest-quiet", "show-build.sh"):
            shutil.copy(os.path.join(SCRIPTS, "lib", name), os.path.join(self.root, "scripts", "lib", name))
        self.fifo = os.path.join(self.root, "go")
        os.mkfifo(self.fifo)
        self.write(os.path.join("scripts", "build"), BUILD % {"fifo": self.fifo})
        self.bin = os.path.join(self.root, "bin")
        self.write(os.path.join("bin", "ctest"), CTEST)
        self.process = None

    def tearDown(self):
        if self.process:
            if self.process.poll() is None:
                os.killpg(self.process.pid, signal.SIGKILL)
                self.process.wait()
            self.reader.join(timeout=10)
            self.process.stdout.close()
        self.folder.cleanup()

    def write(self, path, text):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
        os.chmod(full, 0o755)

    def start(self):
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"])
        self.process = subprocess.Popen([os.path.join(self.root, "scripts", "test")], cwd=self.root, env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                                        start_new_session=True)
        self.lines = queue.Queue()

        def read():
            for line in self.process.stdout:
                self.lines.put(line.rstrip("\n"))
            self.lines.put(None)
        self.reader = threading.Thread(target=read, daemon=True)
        self.reader.start()

    # The lines printed until `last` (included), each within 20 s of the one before.
    def read_until(self, last):
        seen = []
        while True:
            try:
                line = self.lines.get(timeout=20)
            except queue.Empty:
                self.fail("nothing more after %r" % seen)
            self.assertIsNotNone(line, "the script ended after %r" % seen)
            seen.append(line)
            if line == last:
                return seen

    def finish(self):
        with open(self.fifo, "w") as go:
            go.write("go\n")
        rest = []
        while (line := self.lines.get(timeout=60)) is not None:
            rest.append(line)
        self.assertEqual(self.process.wait(timeout=60), 0, rest)
        return rest

    def test_a_first_build_is_announced_at_once_and_shows_its_progress(self):
        self.start()
        during = self.read_until("building: 10 of 20 steps done")
        self.assertEqual(during[0], "Building everything in build/ first, then testing. The first build takes "
                                    "several minutes; later ones rebuild only what changed.")
        self.assertIn("install-deps: installing cmake", during)
        self.assertEqual([line for line in during if line.startswith("building:")],
                         ["building: %d of 20 steps done" % done for done in range(2, 11, 2)])
        after = self.finish()
        self.assertFalse([line for line in during + after if "compiler" in line or "Building CXX" in line])
        self.assertRegex(after[0], r"^building: 12 of 20 steps done$")
        self.assertTrue([line for line in after if re.match(r"^build: \d+ s \(processor \d+ s\)$", line)], after)
        self.assertRegex(after[-1], r"^tests one by one in build/: \d+ s \(processor \d+ s\)$")

    def test_a_later_build_says_it_rebuilds_what_changed(self):
        self.write(os.path.join("build", "config_tests"), "")
        self.start()
        during = self.read_until("building: 10 of 20 steps done")
        self.assertEqual(during[0], "Building what changed in build/ first.")
        self.finish()

    def test_help_says_at_once_what_each_mode_runs_and_costs_and_the_readme_names_each(self):
        # The build stand-in would wait for the test forever: help builds nothing.
        result = subprocess.run([os.path.join(self.root, "scripts", "test"), "--help"], cwd=self.root,
                                capture_output=True, text=True, timeout=20)
        self.assertEqual(result.returncode, 0, result.stderr)
        usage = result.stdout.splitlines()[0]
        modes = re.findall(r"--[a-z-]+", usage)
        self.assertGreaterEqual(len(modes), 6, usage)
        with open(os.path.join(SCRIPTS, "..", "README.md"), encoding="utf-8") as f:
            readme = f.read()
        # Each mode has its paragraph, with what it costs on two cores from nothing and built.
        paragraphs = re.split(r"\n  (?=--|\()", result.stdout.split("\n.ci/run")[0])[1:]
        for mode in modes:
            self.assertIn("scripts/test " + mode, readme, mode)
            if mode == "--help":
                continue
            described = [text for text in paragraphs if text.startswith(mode + " ")]
            self.assertEqual(len(described), 1, mode)
            self.assertRegex(described[0], r"about \d+ min from nothing, \d+ min built", mode)


if __name__ == "__main__":
    unittest.main()
