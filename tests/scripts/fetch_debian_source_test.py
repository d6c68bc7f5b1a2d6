#!/usr/bin/env python3
"""scripts/lib/fetch-debian-source takes a file out of the Debian source of the installed
version of a package, with apt-get source over deb-src twins of apt's own archives in a state of
its own; it fetches again only when the installed version changes, and when it cannot, it says
why and what is needed. dpkg-query, apt-config and apt-get are stand-ins on PATH."""

import os
import subprocess
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "lib",
                      "fetch-debian-source")

DPKG_QUERY = """#!/usr/bin/env bash
[[ -f "%(root)s/installed" ]] || exit 1
printf 'installed\\tcpp-httplib\\t%%s' "$(cat "%(root)s/installed")"
"""

APT_CONFIG = """#!/usr/bin/env bash
case "$3" in
  Dir::Etc::sourcelist/f) echo "VALUE='%(root)s/etc/sources.list'" ;;
  Dir::Etc::sourceparts/d) echo "VALUE='%(root)s/etc/sources.list.d/'" ;;
esac
"""

# Logs each call, and the sources an update was given; `source` unpacks the version the archive
# offers.
APT_GET = """#!/usr/bin/env bash
echo "$*" >>"%(root)s/apt-calls"
for argument in "$@"; do
  [[ " $* " == *" update "* && "$argument" == Dir::Etc::SourceParts=* ]] && cat "${argument#*=}"/* >>"%(root)s/apt-sources"
done
if [[ -f "%(root)s/unreachable" ]]; then
  if [[ " $* " == *" update "* ]]; then
    echo "Err:1 http://deb.example/debian bookworm InRelease"
    echo "  Could not resolve 'deb.example'"
    echo "W: Failed to fetch http://deb.example/debian/dists/bookworm/InRelease  Could not resolve 'deb.example'" >&2
    echo "W: Some index files failed to download. They have been ignored, or old ones used instead." >&2
    exit 0
  fi
  echo "E: You must put some 'deb-src' URIs in your sources.list" >&2
  exit 100
fi
[[ " $* " == *" update "* ]] && exit 0
wanted=${@: -1}
offered="cpp-httplib=$(cat "%(root)s/offered")"
if [[ "$wanted" != "$offered" ]]; then
  echo "E: Can not find version '${wanted#*=}' of package 'cpp-httplib'" >&2
  exit 100
fi
mkdir -p cpp-httplib-upstream/src
echo "// the library, ${wanted#*=}" >cpp-httplib-upstream/httplib.h
echo "// a part, ${wanted#*=}" >cpp-httplib-upstream/src/part.c
"""


class FetchDebianSourceTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name
        for name, text in (("dpkg-query", DPKG_QUERY), ("apt-config", APT_CONFIG), ("apt-get", APT_GET)):
            self.write(os.path.join("bin", name), text % {"root": self.root}, executable=True)
        self.write("etc/sources.list", "# the machine's archives\ndeb http://deb.example/debian bookworm main\n"
                                       "deb-src http://deb.example/debian bookworm main\n")
        self.write("etc/sources.list.d/security.sources",
                   "Types: deb\nURIs: http://security.example/debian-security\nSuites: bookworm-security\n"
                   "Components: main\n\nTypes: deb-src\nURIs: http://old.example/debian\nSuites: bookworm\n"
                   "Components: main\n")
        self.install("1.2.3-1")
        self.offer("1.2.3-1")
        self.dest = os.path.join(self.root, "build-tsan", "_deps", "cpp-httplib")

    def tearDown(self):
        self.folder.cleanup()

    def write(self, path, text, executable=False):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w") as f:
            f.write(text)
        if executable:
            os.chmod(full, 0o755)

    def read(self, path):
        full = os.path.join(self.root, path)
        if not os.path.exists(full):
            return ""
        with open(full) as f:
            return f.read()

    def install(self, version):
        self.write("installed", version)

    def offer(self, version):
        self.write("offered", version)

    def fetch(self, *members):
        env = dict(os.environ, PATH=os.path.join(self.root, "bin") + os.pathsep + os.environ["PATH"])
        return subprocess.run([SCRIPT, "libcpp-httplib-dev", *(members or ["httplib.h"]), self.dest], env=env,
                              capture_output=True, text=True, timeout=60)

    def apt_calls(self):
        return [line.split() for line in self.read("apt-calls").splitlines()]

    def test_the_installed_version_is_fetched_from_the_archives_apt_has(self):
        result = self.fetch()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/httplib.h"), "// the library, 1.2.3-1\n")
        self.assertIn("fetch-debian-source: fetching cpp-httplib 1.2.3-1, the source of the installed "
                      "libcpp-httplib-dev", result.stderr)
        calls = self.apt_calls()
        self.assertEqual([call[-1] for call in calls], ["update", "cpp-httplib=1.2.3-1"])
        self.assertIn("source", calls[1])
        # Its own lists and caches beside the destination, never the machine's.
        for call in calls:
            self.assertIn("Dir::State::Lists=" + self.dest + ".fetch/lists", call)
            self.assertIn("Dir::Cache=" + self.dest + ".fetch/cache", call)
        # The binary archives' sources, once each; a source-only entry is not doubled.
        sources = self.read("apt-sources")
        self.assertEqual(sources.count("deb-src http://deb.example/debian bookworm main"), 1, sources)
        self.assertIn("Types: deb-src\nURIs: http://security.example/debian-security\n", sources)
        self.assertNotIn("old.example", sources)
        self.assertNotIn("Types: deb\n", sources)
        self.assertFalse(os.path.exists(self.dest + ".fetch"), "the fetch's own state is removed")

    def test_it_fetches_again_only_when_the_installed_version_changes(self):
        self.assertEqual(self.fetch().returncode, 0)
        os.remove(os.path.join(self.root, "apt-calls"))
        result = self.fetch()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(self.apt_calls(), [])
        self.assertEqual(result.stderr, "")

        self.install("1.2.3-2")
        self.offer("1.2.3-2")
        result = self.fetch()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([call[-1] for call in self.apt_calls()], ["update", "cpp-httplib=1.2.3-2"])
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/httplib.h"), "// the library, 1.2.3-2\n")

    def test_several_members_and_folders_are_copied_and_fetched_again_together(self):
        self.assertEqual(self.fetch("httplib.h", "src").returncode, 0)
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/src/part.c"), "// a part, 1.2.3-1\n")
        self.install("1.2.3-2")
        self.offer("1.2.3-2")
        self.assertEqual(self.fetch("httplib.h", "src").returncode, 0)
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/src/part.c"), "// a part, 1.2.3-2\n")
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/httplib.h"), "// the library, 1.2.3-2\n")

    def test_an_archive_that_cannot_be_reached_is_said_so_with_what_is_needed(self):
        self.write("unreachable", "")
        result = self.fetch()
        self.assertEqual(result.returncode, 1)
        self.assertEqual(result.stdout, "")
        self.assertIn("httplib.h comes from the Debian source of the installed package libcpp-httplib-dev, "
                      "cpp-httplib 1.2.3-1", result.stderr)
        self.assertIn("The package archive could not be reached:\n"
                      "  Failed to fetch http://deb.example/debian/dists/bookworm/InRelease  Could not resolve "
                      "'deb.example'", result.stderr)
        self.assertIn("Try again once it can be reached, or put httplib.h from that source "
                      "(apt-get source cpp-httplib=1.2.3-1) into " + self.dest + ".", result.stderr)
        self.assertNotIn("HASH", result.stderr.upper())
        self.assertFalse(os.path.exists(self.dest))
        self.assertFalse(os.path.exists(self.dest + ".fetch"))

    def test_a_source_fetched_before_serves_while_the_archive_cannot_be_reached_saying_so(self):
        self.assertEqual(self.fetch().returncode, 0)
        self.install("1.2.3-2")
        self.write("unreachable", "")
        result = self.fetch()
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertIn("The package archive could not be reached", result.stderr)
        self.assertIn("Meanwhile " + self.dest + "/httplib.h stays as it is (cpp-httplib 1.2.3-1).", result.stderr)
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/httplib.h"), "// the library, 1.2.3-1\n")
        # Once it can, the installed version replaces it.
        os.remove(os.path.join(self.root, "unreachable"))
        self.offer("1.2.3-2")
        self.assertEqual(self.fetch().returncode, 0)
        self.assertEqual(self.read("build-tsan/_deps/cpp-httplib/httplib.h"), "// the library, 1.2.3-2\n")

    def test_an_installed_version_the_archive_no_longer_offers_is_said_so(self):
        self.offer("1.2.3-2")
        result = self.fetch()
        self.assertEqual(result.returncode, 1)
        self.assertIn("The package archive does not offer that version", result.stderr)
        self.assertIn("apt-get install --only-upgrade libcpp-httplib-dev", result.stderr)
        self.assertIn("  Can not find version '1.2.3-1' of package 'cpp-httplib'", result.stderr)
        self.assertFalse(os.path.exists(self.dest))

    def test_a_package_not_installed_is_named_with_what_installs_it(self):
        os.remove(os.path.join(self.root, "installed"))
        result = self.fetch()
        self.assertEqual(result.returncode, 1)
        self.assertIn("libcpp-httplib-dev, which is not installed: scripts/install-deps installs it", result.stderr)
        self.assertEqual(self.apt_calls(), [])


if __name__ == "__main__":
    unittest.main()
