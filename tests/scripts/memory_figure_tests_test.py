#!/usr/bin/env python3
"""scripts/lib/memory-figure-tests finds the tests whose code asks whether the build is sanitized,
in a test's body or in a member of its fixture class, names each with its binary, and fails on a
use it cannot place in a test."""

import os
import subprocess
import unittest

from tree_test_case import TreeTestCase

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib", "memory-figure-tests")


class MemoryFigureTestsTest(TreeTestCase):
    def run_script(self):
        return subprocess.run([SCRIPT, self.root], capture_output=True, text=True, timeout=60)

    def test_the_tests_that_ask_are_named_with_their_binary(self):
        self.write("tests/fixtures/SanitizedBuild.h", "constexpr bool kSanitizedBuild = false;\n")
        self.write("tests/platform/ui/ImageTest.cpp",
                   "TEST(Decoding, Small) {\n    EXPECT_TRUE(true);\n}\n\n"
                   "TEST(Decoding, Large) {\n    if (!kSanitizedBuild) {\n        EXPECT_LT(peak(), 1);\n    }\n}\n"
                   "TEST(Decoding, Later) {\n    // kSanitizedBuild is not asked here\n}\n")
        self.write("tests/app/LaunchTest.cpp",
                   "class Launch : public Base {\nprotected:\n    void light() {\n"
                   "        if (kSanitizedBuild) return;\n    }\n};\n\nTEST_F(Launch, Cold) { light(); }\n")
        result = self.run_script()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.splitlines(),
                         ["app_tests Launch\\.[^.]+", "platform_ui_tests Decoding\\.Large"])

    def test_a_use_outside_any_test_fails_saying_where(self):
        self.write("tests/fixtures/Memory.h", "inline bool sanitized() { return kSanitizedBuild; }\n")
        result = self.run_script()
        self.assertEqual(result.returncode, 1)
        self.assertIn("Memory.h:1", result.stderr)
        self.write("tests/fixtures/Memory.h", "// nothing\n")
        result = self.run_script()
        self.assertEqual(result.returncode, 1)
        self.assertIn("no test", result.stderr)


if __name__ == "__main__":
    unittest.main()
