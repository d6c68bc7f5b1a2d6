#!/usr/bin/env python3
"""scripts/build runs the package check, the configuration and the two checks of the sources every
time; with --skip-unchanged (scripts/run's) it leaves the packages to its caller and runs each of
the other three only when what it reads changed since it last passed. cmake, install-deps and the
checks are stand-ins, on a copy of the script in a small tree; each notes its run in a file."""

import os
import shutil
import subprocess
import sys
import unittest

from tree_test_case import TreeTestCase

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "build")

# The configuration writes the build file, and the layers' list as CMake does: only when missing.
CMAKE = """#!/usr/bin/env bash
if [[ "$1" == --build ]]; then echo build >>"%(calls)s"; exit 0; fi
echo configure >>"%(calls)s"
[[ ! -e "%(root)s/fail-configure" ]] || exit 1
build=$4
mkdir -p "$build"
touch "$build/build.ninja"
[[ -e "$build/layers.txt" ]] || echo "platform|platform|" >"$build/layers.txt"
"""

# A stand-in that notes its name, and fails while a file of that name is in the tree's root.
NOTE = """#!/usr/bin/env bash
echo %(name)s >>"%(calls)s"
[[ ! -e "%(root)s/fail-%(name)s" ]]
"""


class BuildScriptTest(TreeTestCase):
    def setUp(self):
        super().setUp()
        self.calls = os.path.join(self.root, "calls.txt")
        os.makedirs(os.path.join(self.root, "scripts"))
        shutil.copy(SCRIPT, os.path.join(self.root, "scripts", "build"))
        for name in ("install-deps", "check-layers", "check-platform-use"):
            self.write(os.path.join("scripts", name), NOTE % {"name": name, "calls": self.calls, "root": self.root},
                       executable=True)
        self.write("scripts/platform-use-baseline.txt", "foundation 0\n")
        self.write(os.path.join("bin", "cmake"), CMAKE % {"calls": self.calls, "root": self.root}, executable=True)
        self.write("CMakeLists.txt", "project(tree)\n")
        self.write("bench/CMakeLists.txt", "\n")
        self.write("platform/foundation/Value.h", "#pragma once\n")
        self.write("app/main.cpp", "int main() {}\n")
        self.write("README.md", "A tree.\n")
        self.status = os.path.join(self.root, "dpkg-status")
        self.write("dpkg-status", "Package: cmake\nStatus: install ok installed\n")

    def build(self, *arguments):
        """The steps a run of scripts/build took, in order; asserts the run's status."""
        if os.path.exists(self.calls):
            os.remove(self.calls)
        env = dict(os.environ, PATH=os.path.join(self.root, "bin") + os.pathsep + os.environ["PATH"],
                   OSTREL_PACKAGE_STATUS=self.status)
        run = subprocess.run([os.path.join(self.root, "scripts", "build"), *arguments], cwd=self.root, env=env,
                             stdin=subprocess.DEVNULL, capture_output=True, text=True, timeout=60)
        self.status_code = run.returncode
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            return f.read().split()

    def test_without_the_option_every_step_runs_every_time(self):
        every = ["install-deps", "configure", "check-layers", "check-platform-use", "build"]
        self.assertEqual(self.build("ostrel-sim"), every)
        self.assertEqual(self.build("ostrel-sim"), every)
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim")[-1], "build")
        # Stamps left by a run that skipped are no reason for a plain build to skip.
        self.assertEqual(self.build("ostrel-sim"), every)
        self.assertEqual(self.build("--ci"), every)

    def test_with_the_option_a_step_runs_again_only_when_what_it_reads_changed(self):
        all_three = ["configure", "check-layers", "check-platform-use", "build"]
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), all_three)
        self.assertEqual(self.status_code, 0)
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["build"])
        # Not a source of either check, nor of the configuration.
        self.write("README.md", "A tree, changed.\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["build"])
        # A source changed, and one added: both checks read them.
        self.write("app/main.cpp", "int main() { return 0; }\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-layers", "check-platform-use", "build"])
        self.write("platform/foundation/Clock.h", "#pragma once\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-layers", "check-platform-use", "build"])
        os.remove(os.path.join(self.root, "platform/foundation/Clock.h"))
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-layers", "check-platform-use", "build"])
        # Each check's own script and the baseline.
        self.write("scripts/platform-use-baseline.txt", "foundation 1\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-platform-use", "build"])
        with open(os.path.join(self.root, "scripts", "check-layers"), "a") as f:
            f.write("# changed\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-layers", "build"])
        # The configuration: a CMake file, the packages installed, a build folder without its build file.
        self.write("bench/CMakeLists.txt", "add_subdirectory(more)\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["configure", "build"])
        self.write("dpkg-status", "Package: cmake\nStatus: install ok installed\nPackage: ninja-build\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["configure", "build"])
        os.remove(os.path.join(self.root, "build", "build.ninja"))
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["configure", "build"])
        # The layers' list the configuration writes is the layer check's.
        with open(os.path.join(self.root, "build", "layers.txt"), "a") as f:
            f.write("app|app|platform\n")
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["check-layers", "build"])
        self.assertEqual(self.build("--skip-unchanged", "ostrel-sim"), ["build"])
        # Each build folder keeps its own stamps.
        self.assertEqual(self.build("--skip-unchanged", "--ci"), all_three)

    def test_a_step_that_failed_runs_again_though_nothing_changed(self):
        for failing, before in (("check-layers", ["configure"]), ("check-platform-use", ["configure", "check-layers"]),
                                ("configure", [])):
            with self.subTest(failing):
                shutil.rmtree(os.path.join(self.root, "build"), ignore_errors=True)
                self.write("fail-" + failing, "")
                self.assertEqual(self.build("--skip-unchanged"), before + [failing])
                self.assertNotEqual(self.status_code, 0)
                # What passed before it is not run again.
                self.assertEqual(self.build("--skip-unchanged"), [failing])
                self.assertNotEqual(self.status_code, 0)
                os.remove(os.path.join(self.root, "fail-" + failing))
                after = self.build("--skip-unchanged")
                self.assertEqual(self.status_code, 0)
                self.assertEqual(after[-1], "build")
                self.assertIn(failing, after)
                self.assertEqual(self.build("--skip-unchanged"), ["build"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
