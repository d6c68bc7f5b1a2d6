"""A test case over a small source tree of its own, written file by file into a temporary folder."""

import os
import tempfile
import unittest


class TreeTestCase(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.TemporaryDirectory()
        self.root = self.folder.name

    def tearDown(self):
        self.folder.cleanup()

    def write(self, path, text, executable=False):
        full = os.path.join(self.root, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "w", encoding="utf-8") as f:
            f.write(text)
        if executable:
            os.chmod(full, 0o755)
