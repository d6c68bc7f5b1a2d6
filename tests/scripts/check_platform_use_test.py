#!/usr/bin/env python3
"""scripts/check-platform-use on small trees: what it counts as declared and as used, and the ratchet."""

import os
import subprocess
import sys
import unittest

from tree_test_case import TreeTestCase

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-platform-use")

VIEW_HEADER = """#pragma once
#include <functional>
#include <memory>
// A header comment naming fadeOut() is not a declaration.
class View {
public:
    static std::shared_ptr<View> make(int width);
    View(int width) : width_(width) {}
    ~View();
    int width() const { return width_; }
    void setWidth(int width) { if (width > 0) { width_ = width; } }
    virtual void drawRect(int area) {}
    template <class T> T* as() { return nullptr; }
    bool operator==(const View&) const = default;
    std::function<void(int)> onTap;
    enum class Mode { Plain, Bold };
    struct Frame {
        int size() const;
    };
protected:
    void invalidate();
private:
    void layout();
    int width_ = 0;
};
int ViewCount();
namespace detail {
int hiddenHelper();
}
"""


class CheckPlatformUseTest(TreeTestCase):
    def setUp(self):
        super().setUp()
        self.write("platform/ui/View.h", VIEW_HEADER)
        self.write("platform/ui/View.cpp", "int View::Frame::size() const { return fadeOut(); }\n")
        self.write("platform/net/Client.h", "#pragma once\nstruct Client {\n    void send();\n};\n")
        # The application makes views, overrides drawing and asks for a width; a string and a
        # comment naming setWidth are no use of it.
        self.write("gallery/Grid.cpp",
                   '#include "platform/ui/View.h"\n'
                   "class Grid : public View {\n    void drawRect(int) override;\n};\n"
                   'auto v = View::make(3); int w = v->width(); const char* s = "setWidth";  // setWidth\n')
        # Only the platform's own tests send; another library's tests count as users.
        self.write("tests/platform/net/ClientTest.cpp", "void t() { Client{}.send(); ViewCount(); }\n")
        self.write("tests/gallery/GridTest.cpp", "void t(View::Frame f) { f.size(); }\n")

    def run_script(self, *arguments):
        run = subprocess.run([sys.executable, SCRIPT, "--root", self.root,
                              "--baseline", os.path.join(self.root, "baseline.txt"), *arguments],
                             capture_output=True, text=True)
        return run.returncode, run.stdout, run.stderr

    def test_lists_the_public_functions_nothing_outside_the_platform_names(self):
        status, listed, _ = self.run_script("--list")
        self.assertEqual(status, 0)
        self.assertEqual(listed.splitlines(),
                         ["net/Client.h: Client::send", "ui/View.h: View::as", "ui/View.h: View::setWidth",
                          "ui/View.h: ViewCount"])

    def test_the_ratchet_fails_above_the_baseline_and_asks_to_lower_it_below(self):
        self.write("baseline.txt", "# counts\nnet 1\nui 3\n")
        self.assertEqual(self.run_script(), (0, "", ""))

        # A new stand-in member without a caller fails the check with its name.
        self.write("platform/net/Client.h", "#pragma once\nstruct Client {\n    void send();\n    bool retry();\n};\n")
        status, _, said = self.run_script()
        self.assertEqual(status, 1)
        self.assertIn("platform/net has 2 public functions", said)
        self.assertIn("  Client::retry (Client.h)\n", said)
        self.assertNotIn("platform/ui", said)

        # Its caller arrives, and the application starts to send: one below the baseline.
        self.write("app/Main.cpp", "void main2(Client c) { c.retry(); c.send(); }\n")
        status, _, said = self.run_script()
        self.assertEqual(status, 0)
        self.assertIn("platform/net is down to 0 unused public functions (baseline 1)", said)

        # --write records the counts as they are.
        self.assertEqual(self.run_script("--write")[0], 0)
        with open(os.path.join(self.root, "baseline.txt"), encoding="utf-8") as f:
            lines = [line for line in f.read().splitlines() if not line.startswith("#")]
        self.assertEqual(lines, ["net 0", "ui 3"])

    def test_a_library_missing_from_the_baseline_may_have_no_unused_function(self):
        self.write("baseline.txt", "ui 3\n")
        status, _, said = self.run_script()
        self.assertEqual(status, 1)
        self.assertIn("platform/net has 1 public functions nothing outside the platform uses, more than the 0", said)


if __name__ == "__main__":
    unittest.main()
