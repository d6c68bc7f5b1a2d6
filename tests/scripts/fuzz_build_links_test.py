#!/usr/bin/env python3
"""A build with the fuzzer's instrumentation and no sanitizer (-DFUZZ=ON) links every program: each
one links the instrumentation's runtime, which no sanitizer's runtime provides there. Read off the
link lines CMake writes, since building the tree takes minutes."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")


def programs_without_runtime(ninja_text):
    """The programs whose link line carries no fuzzer runtime, and how many programs were read."""
    programs = re.findall(r"^build ([^:\s]+): CXX_EXECUTABLE_LINKER\S*(.*?)(?=^build |\Z)", ninja_text, re.S | re.M)
    missing = [name for name, block in programs
               if not any(line.strip().startswith("LINK_FLAGS") and "-fsanitize=fuzzer" in line
                          for line in block.splitlines())]
    return missing, len(programs)


@unittest.skipUnless(shutil.which("clang++") and shutil.which("ninja"), "needs clang and ninja")
class FuzzBuildLinksTest(unittest.TestCase):
    def test_every_program_of_a_fuzz_build_without_sanitizer_links_the_runtime(self):
        with tempfile.TemporaryDirectory() as build:
            subprocess.run(["cmake", "-S", ROOT, "-B", build, "-G", "Ninja", "-DCMAKE_C_COMPILER=clang",
                            "-DCMAKE_CXX_COMPILER=clang++", "-DFUZZ=ON"], check=True, capture_output=True)
            with open(os.path.join(build, "build.ninja"), encoding="utf-8") as f:
                missing, programs = programs_without_runtime(f.read())
        self.assertGreater(programs, 10)
        self.assertEqual(missing, [])


if __name__ == "__main__":
    unittest.main()
