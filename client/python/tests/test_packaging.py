"""The package builds offline from pyproject.toml and ships its type marker."""

from __future__ import annotations

import importlib.util
import shutil
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

import helpers


def _can_build() -> bool:
    # setuptools before 70.1 takes bdist_wheel from the wheel package.
    return all(importlib.util.find_spec(name) for name in ("pip", "setuptools", "wheel"))


@unittest.skipUnless(_can_build(), "pip, setuptools and wheel are needed to build the package offline")
class PackagingTest(unittest.TestCase):
    def test_offline_wheel_holds_every_module_and_py_typed(self):
        with tempfile.TemporaryDirectory() as folder:
            source = Path(folder) / "source"
            # A copy, so that the build's own folders stay out of the source tree.
            shutil.copytree(helpers.PACKAGE_ROOT, source,
                            ignore=shutil.ignore_patterns("tests", "build", "*.egg-info", "__pycache__"))
            result = subprocess.run([sys.executable, "-m", "pip", "wheel", "--no-build-isolation", "--no-deps",
                                     "--no-index", "--disable-pip-version-check", "-w", folder, str(source)],
                                    capture_output=True, text=True, timeout=300)
            self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
            wheel = next(Path(folder).glob("lumora-*.whl"))
            names = set(zipfile.ZipFile(wheel).namelist())
            expected = {f"lumora/{path.name}" for path in (helpers.PACKAGE_ROOT / "lumora").iterdir()
                        if path.suffix in (".py", ".typed")}
            self.assertLessEqual(expected, names)
            self.assertIn("lumora/py.typed", names)


if __name__ == "__main__":
    unittest.main()
