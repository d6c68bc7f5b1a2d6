#!/usr/bin/env python3
"""scripts/run refuses bad arguments, environment and homes at once, in one sentence, before it
installs, builds or starts anything; good ones go on to the installation step. Asked for help, it
prints its usage at once. Starting, a run removes the folders of the runs that have ended."""

import fcntl
import os
import pty
import shutil
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "run")
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


class RunArgumentsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        os.makedirs(os.path.join(self.root, "scripts"))
        shutil.copy(SCRIPT, os.path.join(self.root, "scripts", "run"))
        # The first step after the checks: it leaves a mark and stops the run there.
        self.mark = os.path.join(self.root, "installed")
        stub = os.path.join(self.root, "scripts", "install-deps")
        with open(stub, "w") as f:
            f.write('#!/usr/bin/env bash\ntouch "%s"\nexit 3\n' % self.mark)
        os.chmod(stub, 0o755)
        self.script = os.path.join(self.root, "commands.txt")
        with open(self.script, "w") as f:
            f.write("quit\n")

    def tearDown(self):
        self.folder.cleanup()

    @staticmethod
    def environment(**environment):
        env = {k: v for k, v in os.environ.items() if not k.startswith("OSTREL_")}
        env.update(environment)
        return env

    def run_script(self, *arguments, cwd=None, stdin_text=None, **environment):
        env = self.environment(**environment)
        return subprocess.run([os.path.join(self.root, "scripts", "run"), *arguments], env=env, cwd=cwd,
                              input=stdin_text, stdin=None if stdin_text is not None else subprocess.DEVNULL,
                              capture_output=True, text=True, timeout=60)

    def assertRefused(self, result, *words):
        self.assertEqual(result.returncode, 2, result.stderr)
        lines = result.stderr.splitlines()
        self.assertEqual(len(lines), 1, result.stderr)
        self.assertTrue(lines[0].startswith("scripts/run: "), lines[0])
        self.assertTrue(lines[0].endswith("."), lines[0])
        for word in words:
            self.assertIn(word, lines[0])
        self.assertEqual(result.stdout, "")
        self.assertFalse(os.path.exists(self.mark), "the run went on to install")
        self.assertFalse(os.path.exists(os.path.join(self.root, "build")), "the run made its build folder")

    def test_bad_arguments_are_named(self):
        self.assertRefused(self.run_script("--bogus"), '"--bogus" is not an option')
        self.assertRefused(self.run_script("--device", "tablet"), "--device takes phone or pad", '"tablet"')
        self.assertRefused(self.run_script("--verbose", "--device"), "--device needs a value")
        self.assertRefused(self.run_script("--script", os.path.join(self.root, "missing.txt")), "missing.txt",
                           "cannot be read: it does not exist")
        self.assertRefused(self.run_script("--default", "novalue"), "--default takes NAME=VALUE")
        self.assertRefused(self.run_script("pad"), '"pad" is not an option')

    def test_a_launch_url_the_application_does_not_open_is_named(self):
        # As the simulator reads a link: a scheme (a letter, then letters, digits, + - .) and a
        # colon, and no white space.
        for given in ("notaurl", ":nothing", "1gallery://paintings", "gal_lery://paintings", "gallery://a b",
                      "gallery://a\tb", "--verbose"):
            self.assertRefused(self.run_script("--launch-url", given, "--device", "pad"),
                               "--launch-url takes a URL with its scheme and no spaces", "gallery://paintings",
                               "not \"%s\"" % given.replace("\t", "\\t"))
        self.assertRefused(self.run_script("--launch-url", "gallery://a\nb"), 'not "gallery://a\\nb"')
        for given in ("gallery://paintings?utm_source=mail", "x+y.z-1:", "mailto:someone@example.org", ""):
            result = self.run_script("--launch-url", given, "--home", os.path.join(self.root, "home"))
            self.assertEqual(result.returncode, 3, given + ": " + result.stderr)

    def test_bad_environment_is_named(self):
        for port in ("80a", "65536", "-1", "123456", " "):
            self.assertRefused(self.run_script(OSTREL_SERVER_PORT=port), "OSTREL_SERVER_PORT", "65535")
        self.assertRefused(self.run_script(OSTREL_ARTICLES_STYLE="3"), "OSTREL_ARTICLES_STYLE")
        self.assertRefused(self.run_script(OSTREL_AUDIO="loud"), "OSTREL_AUDIO")

    def test_help_is_printed_at_once_with_what_a_person_passes(self):
        for asked in (("--help",), ("--device", "pad", "-h")):
            result = self.run_script(*asked)
            self.assertEqual(result.returncode, 0, result.stderr)
            self.assertEqual(result.stderr, "")
            self.assertTrue(result.stdout.startswith("usage: scripts/run "), result.stdout)
            for option in ("--device phone|pad", "--home DIR", "--script FILE", "--verbose", "--launch-url URL",
                           "--advertising-id UUID", "APP_HOME=DIR", "OSTREL_SERVER_PORT"):
                self.assertIn(option, result.stdout)
            # What the script gives the simulator itself is not the person's to pass.
            for supplied in ("--bundle", "--trust-anchor", "--delegate"):
                self.assertNotIn(supplied, result.stdout)
            self.assertFalse(os.path.exists(self.mark), "the run went on to install")
            self.assertFalse(os.path.exists(os.path.join(self.root, "build")), "the run made its build folder")

    def test_a_script_is_taken_from_any_readable_stream_and_a_folder_is_named(self):
        folder = os.path.join(self.root, "scripts")
        self.assertRefused(self.run_script("--script", folder),
                           'The script "%s" given with --script cannot be read: it is a folder, not a file.' % folder)
        # A pipe given as /dev/stdin and a FIFO are read as streams, by the simulator: here they
        # go on to the installation untouched.
        home = os.path.join(self.root, "home")
        result = self.run_script("--script", "/dev/stdin", "--home", home, stdin_text="quit\n")
        self.assertEqual(result.returncode, 3, result.stderr)
        fifo = os.path.join(self.root, "commands.fifo")
        os.mkfifo(fifo)
        self.assertEqual(self.run_script("--script", fifo, "--home", home).returncode, 3)

    def test_a_bad_advertising_id_is_named(self):
        for given in ("", "not-a-uuid", "E621E1F8-C36C-495A-93FC-0C247A3E6E5"):
            self.assertRefused(self.run_script("--advertising-id", given), "--advertising-id takes a UUID",
                               '"%s"' % given)

    def test_a_home_that_cannot_be_used_is_named_with_the_reason(self):
        blocker = os.path.join(self.root, "a-file")
        open(blocker, "w").close()
        home = os.path.join(blocker, "home")
        line = "The home %s cannot be used: Not a directory; choose another with --home DIR (or APP_HOME=DIR)." % home
        self.assertRefused(self.run_script("--home", home), line)
        self.assertRefused(self.run_script(APP_HOME=home), line)

    def test_a_home_another_run_holds_is_refused_before_anything_starts(self):
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        # As a running simulator holds it: a lock on the file in it that names its process.
        with open(os.path.join(home, "simulator.lock"), "w") as lock:
            lock.write("%d\n" % os.getpid())
            lock.flush()
            fcntl.flock(lock, fcntl.LOCK_EX)
            line = ("The home %s is in use by another run (process %d); choose another with --home DIR "
                    "(or APP_HOME=DIR)." % (home, os.getpid()))
            self.assertRefused(self.run_script("--home", home), line)
            self.assertRefused(self.run_script("--home", home + "/"), line)
            self.assertRefused(self.run_script(APP_HOME=home), line)
        # Once it has ended, the home is free.
        self.assertEqual(self.run_script("--home", home).returncode, 3)

    def test_a_link_where_the_homes_lock_belongs_makes_nothing_where_it_leads(self):
        home = os.path.join(self.root, "home")
        os.makedirs(home)
        outside = os.path.join(self.root, "outside")
        os.makedirs(outside)
        os.symlink(os.path.join(outside, "lock"), os.path.join(home, "simulator.lock"))
        # Left to the simulator, which moves it aside.
        result = self.run_script("--home", home)
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertEqual(os.listdir(outside), [])
        self.assertTrue(os.path.islink(os.path.join(home, "simulator.lock")))

    def test_good_arguments_go_on(self):
        result = self.run_script("--device", "pad", "--verbose", "--script", self.script, "--default", "A=b",
                                 "--launch-url", "ostrel://open",
                                 "--home", os.path.join(self.root, "home"), OSTREL_SERVER_PORT="0",
                                 OSTREL_ARTICLES_STYLE="2", OSTREL_AUDIO="silent")
        self.assertEqual(result.returncode, 3, result.stderr)
        self.assertTrue(os.path.exists(self.mark))
        self.assertEqual(self.run_script(OSTREL_SERVER_PORT="65535").returncode, 3)

    def test_a_run_says_what_it_does_before_the_installation_and_the_build(self):
        # The stand-in installation stops the run: whatever it said came before anything slow.
        home = os.path.join(self.root, "home")
        first = self.run_script("--home", home)
        self.assertEqual(first.returncode, 3, first.stderr)
        self.assertEqual(first.stderr.splitlines(),
                         ["Building the simulator, the demo generator and the two demo servers. The first build takes "
                          "several minutes; later ones rebuild only what changed."])
        simulator = os.path.join(self.root, "build", "simulator", "ostrel-sim")
        os.makedirs(os.path.dirname(simulator))
        with open(simulator, "w") as f:
            f.write("#!/bin/sh\n")
        os.chmod(simulator, 0o755)
        later = self.run_script("--home", home)
        self.assertEqual(later.returncode, 3, later.stderr)
        self.assertEqual(later.stderr.splitlines(),
                         ["Checking the simulator, the demo generator and the two demo servers for changes, and "
                          "rebuilding what changed."])
        # Another run's turn is waited for, and said.
        os.remove(self.mark)
        os.makedirs(os.path.join(self.root, "build", "runs"), exist_ok=True)
        with open(os.path.join(self.root, "build", "runs", ".lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            waiting = subprocess.Popen([os.path.join(self.root, "scripts", "run"), "--home", home],
                                       env=self.environment(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.PIPE, text=True)
            said = [waiting.stderr.readline(), waiting.stderr.readline()]
            self.assertFalse(os.path.exists(self.mark), "the run installed before its turn")
        self.assertEqual(said[1], "Another run is installing, building or writing the demo bundle; this one waits "
                                  "for its turn.\n")
        self.assertEqual(waiting.wait(timeout=60), 3)
        waiting.stderr.close()
        self.assertTrue(os.path.exists(self.mark))

    def test_a_run_removes_the_folders_of_runs_that_ended_as_the_readme_says(self):
        with open(README, encoding="utf-8") as f:
            readme = " ".join(f.read().split())
        self.assertIn("Each run, as it starts, removes the folders of the runs that have ended, so `build/runs/` "
                      "keeps only those of the runs still going", readme)
        runs = os.path.join(self.root, "build", "runs")
        ended = subprocess.Popen(["true"])
        ended.wait()
        for pid in (ended.pid, os.getpid()):
            os.makedirs(os.path.join(runs, str(pid)))
        result = self.run_script("--home", os.path.join(self.root, "home"))
        self.assertEqual(result.returncode, 3, result.stderr)
        kept = [name for name in os.listdir(runs) if not name.startswith(".")]
        # This test's own, whose process goes on, and the new run's.
        self.assertIn(str(os.getpid()), kept)
        self.assertNotIn(str(ended.pid), kept)
        self.assertEqual(len(kept), 2, kept)

    # Past the installation, a build that stands in for scripts/build with `body`, and no programs built.
    def stand_in_build(self, body):
        with open(os.path.join(self.root, "scripts", "install-deps"), "w") as f:
            f.write("#!/usr/bin/env bash\n")
        os.makedirs(os.path.join(self.root, "scripts", "lib"), exist_ok=True)
        for name in ("show-build.sh", "build-progress"):
            shutil.copy(os.path.join(os.path.dirname(SCRIPT), "lib", name), os.path.join(self.root, "scripts", "lib"))
        build = os.path.join(self.root, "scripts", "build")
        with open(build, "w") as f:
            f.write("#!/usr/bin/env bash\n" + body)
        os.chmod(build, 0o755)

    def test_the_packages_are_checked_once_and_the_build_skips_what_has_not_changed(self):
        checks = os.path.join(self.root, "package-checks.txt")
        given = os.path.join(self.root, "build-arguments.txt")
        self.stand_in_build('echo "$*" >"%s"\necho build\n' % given)
        with open(os.path.join(self.root, "scripts", "install-deps"), "w") as f:
            f.write('#!/usr/bin/env bash\necho checked >>"%s"\n' % checks)
        result = self.run_script("--home", os.path.join(self.root, "home"))
        self.assertEqual(result.returncode, 0, result.stderr)
        with open(checks) as f:
            self.assertEqual(f.read(), "checked\n")
        with open(given) as f:
            self.assertEqual(f.read(), "--skip-unchanged ostrel-sim ostrel-demo ostrel-content-server "
                                       "ostrel-measurement-service\n")

    def test_the_build_shows_its_progress_not_the_compilers_lines(self):
        self.stand_in_build('for i in 1 2 3 4; do echo "[$i/4] Building CXX object part$i.o" >&2; '
                            'echo "part$i.cpp:1: warning: a line of the compiler\'s" >&2; done\n'
                            '[[ -z "${FAIL:-}" ]] || { echo "FAILED: part4.o" >&2; '
                            'echo "part4.cpp:2: error: the cause" >&2; exit 1; }\necho build\n')
        result = self.run_script("--home", os.path.join(self.root, "home"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("building: 4 of 4 steps done", result.stdout.splitlines())
        self.assertNotIn("compiler", result.stdout + result.stderr)
        failed = self.run_script("--home", os.path.join(self.root, "home"), FAIL="1")
        self.assertNotEqual(failed.returncode, 0)
        # A failure shows the compiler's lines from the first failure on.
        self.assertIn("FAILED: part4.o\npart4.cpp:2: error: the cause", failed.stderr)
        self.assertNotIn("part3.cpp", failed.stderr)

    def test_a_build_with_nothing_to_do_says_so_in_one_line(self):
        # What ninja prints when everything is built: a step of its own, then that there is no work.
        self.stand_in_build('echo "[0/2] Re-checking globbed directories..." >&2\n'
                            'echo "ninja: no work to do." >&2\necho build\n')
        said = "building: nothing to do, everything is up to date"
        result = self.run_script("--home", os.path.join(self.root, "home"))
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([line for line in result.stdout.splitlines() if line.startswith("building")], [said])
        # On a terminal, where progress is rewritten in place: what shows of each line is what
        # follows its last carriage return (the terminal ends lines with "\r\n").
        controller, terminal = pty.openpty()
        process = subprocess.Popen([os.path.join(self.root, "scripts", "run"), "--home", os.path.join(self.root, "home")],
                                   env=self.environment(), stdin=subprocess.DEVNULL, stdout=terminal,
                                   stderr=subprocess.PIPE)
        os.close(terminal)
        shown = b""
        while True:
            try:
                chunk = os.read(controller, 4096)
            except OSError:  # the terminal's last writer is gone
                break
            if not chunk:
                break
            shown += chunk
        os.close(controller)
        self.assertEqual(process.wait(timeout=60), 0, process.stderr.read())
        process.stderr.close()
        lines = [line.split("\r")[-1].replace("\x1b[K", "") for line in shown.decode().replace("\r\n", "\n").split("\n")]
        self.assertEqual([line for line in lines if line.startswith("building")], [said], shown)

    def test_relative_paths_are_read_from_where_the_person_stands(self):
        with tempfile.TemporaryDirectory() as elsewhere:
            # The checkout's own file of that name is not the one meant.
            self.assertRefused(self.run_script("--script", "commands.txt", cwd=elsewhere),
                               os.path.join(elsewhere, "commands.txt"), "cannot be read: it does not exist")
            with open(os.path.join(elsewhere, "mine.txt"), "w") as f:
                f.write("quit\n")
            result = self.run_script("--script", "mine.txt", "--home", "my-home", cwd=elsewhere)
            self.assertEqual(result.returncode, 3, result.stderr)
            self.assertTrue(os.path.exists(os.path.join(elsewhere, "my-home", "simulator.lock")))
            self.assertEqual(self.run_script(cwd=elsewhere, APP_HOME="env-home").returncode, 3)
            self.assertTrue(os.path.isdir(os.path.join(elsewhere, "env-home")))
            self.assertFalse(os.path.exists(os.path.join(self.root, "my-home")))
            self.assertFalse(os.path.exists(os.path.join(self.root, "env-home")))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1] + sys.argv[1:])
