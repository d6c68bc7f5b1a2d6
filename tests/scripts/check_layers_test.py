#!/usr/bin/env python3
"""scripts/check-layers on small trees: what passes, and each kind of include or list it refuses."""

import os
import subprocess
import sys
import unittest

from tree_test_case import TreeTestCase

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "scripts", "check-layers")


class CheckLayersTest(TreeTestCase):
    def setUp(self):
        super().setUp()
        # A tree that holds: each folder includes only what is below it, and lists exactly that.
        self.write("platform/foundation/Value.h", "#pragma once\n#include <pcre2.h>\n")
        self.write("platform/ui/UIView.h", '#include "platform/foundation/Value.h"\n')
        self.write("content/Loader.cpp", '#include "content/Loader.h"\n#include "platform/foundation/Value.h"\n')
        self.write("content/Loader.h", "#pragma once\n")
        self.write("gallery/Grid.cpp", '#include "content/Loader.h"\n#include "platform/ui/UIView.h"\n')
        self.write("media/Player.cpp", '#include "gallery/Grid.h"\n')
        self.write("engine/Core.cpp", '#include "media/Player.h"\n#include "texts/Reader.h"\n')
        self.write("analytics/core/Store.cpp", '#include "analytics/proto/Message.h"\n')
        self.write("analytics/measurement/Engine.cpp", '#include "analytics/audience/Audience.h"\n')
        self.write("tests/gallery/GridTest.cpp", '#include "engine/Core.h"\n')
        self.manifest = [
            "platform_foundation|platform/foundation|PkgConfig::PCRE2,Threads::Threads",
            "platform_ui|platform/ui|platform_foundation",
            "content|content|platform_foundation",
            "gallery|gallery|content,platform_ui",
        ]

    def check(self):
        manifest = os.path.join(self.root, "layers.txt")
        with open(manifest, "w", encoding="utf-8") as f:
            f.write("\n".join(self.manifest) + "\n")
        run = subprocess.run([sys.executable, SCRIPT, "--root", self.root, "--manifest", manifest],
                             capture_output=True, text=True)
        return run.returncode, run.stderr

    def assertRefused(self, *phrases):
        status, said = self.check()
        self.assertEqual(status, 1, said)
        for phrase in phrases:
            self.assertIn(phrase, said)

    def test_a_tree_that_keeps_its_floors_and_lists_passes(self):
        self.assertEqual(self.check(), (0, ""))

    def test_an_include_going_up_is_refused(self):
        self.write("content/Up.cpp", '#include "gallery/Grid.h"\n')
        self.write("platform/ui/Up.cpp", '#include "content/Loader.h"\n')
        self.write("analytics/core/Up.cpp", '#include "analytics/measurement/Engine.h"\n')
        self.assertRefused("content/Up.cpp:1: includes gallery/Grid.h: content may not include gallery",
                           "platform/ui/Up.cpp:1: includes content/Loader.h: platform may not include content",
                           "analytics/core/Up.cpp:1: includes analytics/measurement/Engine.h")

    def test_an_include_going_sideways_is_refused(self):
        self.write("media/Side.cpp", '#include "texts/Reader.h"\n')
        self.write("analytics/script/Side.cpp", '#include "analytics/audience/Audience.h"\n')
        self.write("uikit/Side.cpp", '#include "content/Loader.h"\n')
        self.assertRefused("media/Side.cpp:1: includes texts/Reader.h: media may not include texts",
                           "analytics/script/Side.cpp:1: includes analytics/audience/Audience.h",
                           "uikit/Side.cpp:1: includes content/Loader.h: uikit may not include content")

    def test_product_code_never_includes_tests_and_new_folders_need_a_floor(self):
        self.write("gallery/Helper.cpp", '#include "tests/fixtures/TestFolders.h"\n')
        self.write("newfolder/Thing.cpp", "\n")
        self.assertRefused("gallery/Helper.cpp:1: includes tests/fixtures/TestFolders.h: product code never includes",
                           "newfolder/Thing.cpp: its folder has no floor")

    def test_a_list_must_name_exactly_what_the_folder_includes(self):
        self.manifest[2] = "content|content|platform_foundation,platform_ui"
        self.manifest[3] = "gallery|gallery|platform_ui"
        self.write("content/Rows.cpp", "#include <sqlite3.h>\n")
        self.assertRefused("content lists platform_ui in its dependencies but includes nothing of it",
                           "gallery/Grid.cpp:1: gallery includes content without listing it",
                           "content/Rows.cpp:1: content includes PkgConfig::SQLITE3 without listing it")

    def test_a_loop_between_lists_is_refused(self):
        self.write("platform/foundation/Back.cpp", '#include "platform/ui/UIView.h"\n')
        self.manifest[0] = "platform_foundation|platform/foundation|PkgConfig::PCRE2,platform_ui"
        self.assertRefused("dependency loop: platform_foundation -> platform_ui -> platform_foundation")

    def test_a_plain_standard_lock_in_product_code_is_refused(self):
        self.write("content/Cache.h", "#pragma once\n#include <mutex>\nclass Cache {\n    std::mutex mutex_;\n};\n")
        self.write("gallery/Grid.cpp", '#include "content/Loader.h"\n#include "platform/ui/UIView.h"\n'
                   "void f(Mutex& m) { std::lock_guard<std::mutex> held(m.native()); }\n")
        self.write("demo/server/Store.cpp", "void g() {\n    static std::recursive_mutex again;\n"
                   "    std :: unique_lock lock(again);\n}\n")
        self.assertRefused("content/Cache.h:4: std::mutex: product code locks with the annotated Mutex and MutexLock",
                           "gallery/Grid.cpp:3: std::lock_guard", "gallery/Grid.cpp:3: std::mutex",
                           "demo/server/Store.cpp:2: std::recursive_mutex", "demo/server/Store.cpp:3: std::unique_lock")

    def test_other_spellings_of_a_plain_lock_are_refused(self):
        self.write("content/Posix.cpp", "#include <pthread.h>\nstatic pthread_mutex_t guard = PTHREAD_MUTEX_INITIALIZER;\n"
                   "void f() { pthread_mutex_lock(&guard); }\npthread_rwlock_t table;\n")
        self.write("content/Shared.h", "#pragma once\nstruct Shared {\n    std::shared_mutex mutex_;\n"
                   "    std::condition_variable_any changed_;\n};\n")
        self.write("gallery/Alias.cpp", "namespace s = std;\ns::mutex m;\nnamespace t = s;\n"
                   "void f() { t::lock_guard<t::timed_mutex> held(n); }\n")
        self.write("media/Open.cpp", "#include <mutex>\nusing namespace std;\nmutex m;\n"
                   "void f() { lock_guard held(m); }\n")
        self.write("texts/Through.cpp", "namespace s = ::std;\nusing namespace s;\nrecursive_mutex again;\n")
        self.assertRefused("content/Posix.cpp:2: pthread_mutex_t: product code locks with the annotated Mutex",
                           "content/Posix.cpp:3: pthread_mutex_lock", "content/Posix.cpp:4: pthread_rwlock_t",
                           "content/Shared.h:3: std::shared_mutex", "content/Shared.h:4: std::condition_variable_any",
                           "gallery/Alias.cpp:2: s::mutex (std::mutex)", "gallery/Alias.cpp:4: t::lock_guard",
                           "gallery/Alias.cpp:4: t::timed_mutex", "media/Open.cpp:3: mutex (std::mutex",
                           "media/Open.cpp:4: lock_guard (std::lock_guard", "texts/Through.cpp:3: recursive_mutex")
        status, said = self.check()
        self.assertNotIn("media/Open.cpp:1:", said)

    def test_the_annotated_lock_its_wrapper_tests_and_words_about_locks_pass(self):
        self.write("platform/foundation/ThreadAnnotations.h",
                   "#pragma once\n#include <mutex>\nclass Mutex {\n    std::mutex mutex_;\n};\n")
        self.write("content/Loader.cpp", '#include "content/Loader.h"\n#include "platform/foundation/Value.h"\n'
                   "// Not a std::mutex: the annotated one.\n/* std::lock_guard\n   std::unique_lock */\n"
                   'const char* said = "std::scoped_lock \\" std::mutex"; char quote = \'"\';\n'
                   'const char* raw = R"x(std::mutex ")x";\n'
                   "Mutex mutex;\nMutexLock held(mutex);\nint my_std_mutex_count = 0;\n")
        # The standard condition variable waits only on the standard mutex inside Mutex, through
        # MutexLock; threads' signal masks are no locks; and with std's names brought in, a member
        # or another namespace's name that reads like a lock is neither.
        self.write("platform/dispatch/Wake.cpp", "#include <condition_variable>\nstd::condition_variable cv;\n"
                   "void f(Mutex& m) { MutexLock held(m); held.wait(cv, [] { return true; }); }\n"
                   "void g(sigset_t* s) { pthread_sigmask(SIG_BLOCK, s, nullptr); }\n")
        self.write("media/Open.cpp", "#include <mutex>\n#include <shared_mutex>\nusing namespace std;\n"
                   "namespace ch = std::chrono;\nch::seconds wait(1);\n"
                   "Mutex& f(MutexLock& held, Owner* o) { o->mutex(); Other::mutex(); return held.mutex(); }\n")
        self.write("tests/content/LoaderTest.cpp", "std::mutex m;\n")
        self.write("bench/Load.cpp", "std::lock_guard lock(m);\n")
        self.assertEqual(self.check(), (0, ""))


if __name__ == "__main__":
    unittest.main()
