"""The installed wheel, run by the Python of the virtual environment it was installed into:
wheel_test.py SESSION.py WORK. SESSION.py holds the README's Python lines; WORK is a scratch folder.
The package must load the library it carries, and mypy must accept the session and reject each
marked line of typing_wrong.py."""
import importlib.metadata
import os
import pydoc
import re
import shutil
import subprocess
import sys
import sysconfig
import unittest

import ostrelzelto

SESSION, WORK = sys.argv[1], sys.argv[2]
HERE = os.path.dirname(os.path.abspath(__file__))
PACKAGE = os.path.dirname(ostrelzelto.__file__)


def mypy(path):
    """mypy's findings on a file, as {line: error code}, checked against this environment."""
    run = subprocess.run(["mypy", "--python-executable", sys.executable, "--strict",
                          "--cache-dir", os.path.join(WORK, "mypy-cache"), path],
                         capture_output=True, text=True)
    print(run.stdout, end="")
    found = {}
    for line in run.stdout.splitlines():
        # mypy names the file relative to the working folder.
        m = re.match(r"(?:.*/)?" + re.escape(os.path.basename(path)) +
                     r":(\d+): error: .*\[([a-z-]+)\]$", line)
        if m:
            found[int(m.group(1))] = m.group(2)
    if (run.returncode == 0) != (found == {}):
        raise AssertionError(f"mypy ended with {run.returncode}:\n{run.stdout}{run.stderr}")
    return found


class Wheel(unittest.TestCase):
    def test_the_library_is_the_one_inside_the_package(self):
        self.assertNotIn("OSTRELZELTO_LIBRARY", os.environ)
        self.assertTrue(PACKAGE.startswith(sysconfig.get_paths()["purelib"]), PACKAGE)
        self.assertEqual(ostrelzelto._lib._name, os.path.join(PACKAGE, "libostrelzelto.so.1"))
        self.assertEqual(ostrelzelto.Board.simulated().a2d(0), 0)

    def test_without_it_the_systems_library_is_used_or_the_import_says_what_to_install(self):
        copy = os.path.join(WORK, "without-library")
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(PACKAGE, os.path.join(copy, "ostrelzelto"),
                        ignore=shutil.ignore_patterns("*.so.1", "__pycache__"))
        run = subprocess.run([sys.executable, "-c", "import ostrelzelto; print(ostrelzelto._lib._name)"],
                             env=dict(os.environ, PYTHONPATH=copy), capture_output=True, text=True)
        system = subprocess.run(["/sbin/ldconfig", "-p"], capture_output=True, text=True).stdout
        if "libostrelzelto.so.1 " in system:
            self.assertEqual(run.stdout.strip(), "libostrelzelto.so.1", run.stderr)
        else:
            self.assertNotEqual(run.returncode, 0, run.stdout)
            self.assertIn("ImportError: ostrelzelto cannot load libostrelzelto.so.1", run.stderr)
            self.assertIn("Install the wheel made for this machine", run.stderr)

    def test_the_metadata_carries_the_readme_and_the_licence(self):
        meta = importlib.metadata.metadata("ostrelzelto")
        self.assertEqual(meta["Description-Content-Type"], "text/markdown")
        with open(os.path.join(HERE, "..", "..", "README.md")) as readme:
            self.assertEqual(meta.get_payload().strip(), readme.read().strip())
        self.assertIn("all rights are reserved", " ".join(meta["License"].split()))

    def test_help_lists_every_member(self):
        text = pydoc.render_doc(ostrelzelto.Board, renderer=pydoc.plaintext)
        names = list(ostrelzelto._MEMBERS)
        self.assertGreater(len(names), 20)
        for name in names:
            self.assertRegex(text, rf"\n \|  {name}(\(|\n)", name)

    def test_the_stub_names_every_member_and_every_public_name(self):
        with open(os.path.join(PACKAGE, "__init__.pyi")) as stub:
            text = stub.read()
        self.assertTrue(os.path.exists(os.path.join(PACKAGE, "py.typed")))
        board = [n for n in dir(ostrelzelto.Board) if not n.startswith("_")] + ["__init__"]
        for name in board + ostrelzelto.__all__ + ["Port"]:
            self.assertRegex(text, rf"(def |class |\n    |\n){name}[(:]", name)
        self.assertIn("    def a2d(self, pin: int, /) -> int:", text)
        self.assertIn("    eeprom: _Indexed[int]", text)

    def test_mypy_takes_the_session_and_refuses_each_wrong_call(self):
        self.assertEqual(mypy(SESSION), {})
        wrong = os.path.join(HERE, "typing_wrong.py")
        with open(wrong) as source:
            marked = {n: m.group(1) for n, line in enumerate(source, 1)
                      if (m := re.search(r"# refused: ([a-z-]+)$", line))}
        self.assertGreaterEqual(len(marked), 4)
        self.assertEqual(mypy(wrong), marked)


if __name__ == "__main__":
    unittest.main(argv=[sys.argv[0], "-v"])
