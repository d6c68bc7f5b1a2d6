#!/usr/bin/env python3
"""scripts/install-deps waits, with one line that says so and within its bound, while another
package installation holds the package manager's lock, and goes on once it is free. apt-get,
dpkg-query and sudo are stand-ins on PATH, and the lock is a file of the test's own."""

import fcntl
import os
import re
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "install-deps")


class InstallDepsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        root = self.folder.name
        self.bin = os.path.join(root, "bin")
        os.makedirs(self.bin)
        self.calls = os.path.join(root, "apt-calls.txt")
        self.installed = os.path.join(root, "installed")
        # apt-get refuses for the lock as many times as this file holds lines, then succeeds.
        self.refusals = os.path.join(root, "refusals.txt")
        # Once the file is there, every package asked for is installed but those `removed` names,
        # which were removed with their configuration kept: one query lists them all.
        self.removed = os.path.join(root, "removed.txt")
        self.stub("dpkg-query", '[ -e "%s" ] || exit 1\n'
                                'for p; do case "$p" in -*) ;; *)\n'
                                '  if grep -qxF "$p" "%s" 2>/dev/null; then echo "$p deinstall ok config-files"\n'
                                '  else echo "$p install ok installed"; fi ;; esac; done\n'
                  % (self.installed, self.removed))
        self.stub("apt-get", 'echo "$*" >>"%s"\n'
                             'if [ -s "%s" ]; then sed -i 1d "%s"\n'
                             '  echo "E: Could not get lock /var/lib/apt/lists/lock. It is held by process 1" >&2\n'
                             '  exit 100\nfi\n' % (self.calls, self.refusals, self.refusals))
        self.stub("sudo", 'exec "$@"\n')
        self.lock_path = os.path.join(root, "lock-frontend")
        self.lock = open(self.lock_path, "w")

    def tearDown(self):
        self.lock.close()
        self.folder.cleanup()

    def stub(self, name, body):
        path = os.path.join(self.bin, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + body)
        os.chmod(path, 0o755)

    def start(self, wait_seconds):
        env = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"],
                   OSTREL_PACKAGE_LOCKS=os.path.join(self.folder.name, "absent") + ":" + self.lock_path,
                   OSTREL_PACKAGE_LOCK_WAIT=str(wait_seconds))
        return subprocess.Popen([SCRIPT], env=env, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)

    def apt_calls(self):
        if not os.path.exists(self.calls):
            return []
        with open(self.calls) as f:
            # Without the bound on dpkg's lock, which shrinks as the wait goes on.
            return [re.sub(r"^-o DPkg::Lock::Timeout=\d+ ", "", line.strip()) for line in f]

    def hold(self):
        # A POSIX record lock, as apt and dpkg take them.
        fcntl.lockf(self.lock, fcntl.LOCK_EX)

    def release(self):
        fcntl.lockf(self.lock, fcntl.LOCK_UN)

    def test_a_held_lock_is_waited_for_with_one_line_then_the_packages_are_installed(self):
        self.hold()
        run = self.start(120)
        said = run.stderr.readline()
        self.assertIn("another package installation (process %d) holds the package manager's lock" % os.getpid(), said)
        self.assertIn("waiting for it to finish, 120 s at most", said)
        self.assertEqual(self.apt_calls(), [])
        self.release()
        out, err = run.communicate(timeout=120)
        self.assertEqual(run.returncode, 0, err)
        self.assertEqual(err, "")
        calls = self.apt_calls()
        self.assertEqual(len(calls), 2, calls)
        self.assertEqual(calls[0], "update -qq")
        self.assertTrue(calls[1].startswith("install -y -qq --no-install-recommends build-essential "), calls[1])
        self.assertIn("install-deps: installing build-essential", out)

    def test_the_wait_is_bounded_and_ends_in_a_clear_failure(self):
        self.hold()
        run = self.start(1)
        out, err = run.communicate(timeout=120)
        self.assertEqual(run.returncode, 1, err)
        lines = err.splitlines()
        self.assertEqual(len(lines), 2, err)
        self.assertIn("waiting for it to finish, 1 s at most", lines[0])
        self.assertIn("still holds the package manager's lock after 1 s; run this again once it has finished.",
                      lines[1])
        self.assertEqual(self.apt_calls(), [])
        self.assertEqual(out, "")

    def test_what_the_awaited_installation_installed_is_not_installed_again(self):
        self.hold()
        run = self.start(120)
        self.assertIn("waiting", run.stderr.readline())
        open(self.installed, "w").close()
        self.release()
        out, err = run.communicate(timeout=120)
        self.assertEqual(run.returncode, 0, err)
        self.assertEqual(self.apt_calls(), [])
        self.assertEqual(out, "")

    def test_only_the_packages_not_installed_are_installed(self):
        open(self.installed, "w").close()
        with open(self.removed, "w") as f:
            f.write("valgrind\nlibgtest-dev\n")
        out, err = self.start(120).communicate(timeout=120)
        self.assertEqual(err, "")
        calls = self.apt_calls()
        self.assertEqual(len(calls), 2, calls)
        self.assertEqual(calls[1], "install -y -qq --no-install-recommends libgtest-dev valgrind")
        self.assertIn("install-deps: installing libgtest-dev valgrind", out)

    def test_a_call_refused_for_a_lock_taken_meanwhile_goes_again(self):
        with open(self.refusals, "w") as f:
            f.write("once\n")
        run = self.start(120)
        out, err = run.communicate(timeout=120)
        self.assertEqual(run.returncode, 0, err)
        self.assertEqual(err, "")
        self.assertEqual([call.split()[0] for call in self.apt_calls()], ["update", "update", "install"])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
