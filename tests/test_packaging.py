"""The distributions: the release wheel of `make wheel` carries its manylinux
tag, needs no symbol version newer than that tag's glibc, installs into a
fresh virtual environment and imports there; the sdist holds everything a
build needs. Slow (a build of its own); `make package-check` runs it alone."""

import email.parser
import importlib.util
import os
import shutil
import subprocess
import sys
import tarfile
import tomllib
import zipfile
from pathlib import Path

import pytest

ROOT = Path(__file__).resolve().parent.parent
PROJECT = tomllib.loads((ROOT / "pyproject.toml").read_text())["project"]
_spec = importlib.util.spec_from_file_location("release_wheel", ROOT / "scripts" / "wheel.py")
release_wheel = importlib.util.module_from_spec(_spec)
_spec.loader.exec_module(release_wheel)
ARCH = os.uname().machine

pytestmark = [
    pytest.mark.slow,
    pytest.mark.skipif(os.environ.get("VELMORA_SANITIZE") == "ON",
                       reason="release builds, not the sanitizer build"),
]


def run(command: list, **kwargs) -> subprocess.CompletedProcess:
    result = subprocess.run([str(part) for part in command], capture_output=True, text=True,
                            timeout=900, **kwargs)
    assert result.returncode == 0, f"{command}\n{result.stdout}\n{result.stderr}"
    return result


@pytest.fixture(scope="module")
def dist(tmp_path_factory) -> Path:
    return tmp_path_factory.mktemp("dist")


@pytest.fixture(scope="module")
def wheel(dist) -> Path:
    # The release wheel of this interpreter as `make wheel` makes it (no
    # test-only modules, repaired by auditwheel), in a build directory of its
    # own kept between runs so that only changed sources compile again.
    if ARCH not in release_wheel.TARGETS:
        pytest.skip(f"no release wheel for {ARCH}")
    build_dir = ROOT / "build" / f"package-check-{release_wheel.python_tag()}"
    return release_wheel.build(ARCH, dist, build_dir, verify=False)


def test_wheel_is_manylinux(wheel):
    target = release_wheel.TARGETS[ARCH]
    assert target in wheel.name
    assert release_wheel.check(wheel) == []
    assert release_wheel.auditwheel_tag(wheel) == target


CHEAT = r"""
#include <stdint.h>
uint32_t arc4random(void);
uint32_t extra_export(void) { return arc4random(); }
int PyInit_cookies(void) { return 0; }
int __pyx_module_is_main_velmora__cookies;
"""


def test_check_finds_new_symbol_versions_and_exports(wheel, tmp_path):
    # A stand-in cookies module that needs GLIBC_2.36 and exports a third
    # symbol, in a wheel that claims the target tag.
    compiler = shutil.which("cc") or shutil.which("gcc")
    source = tmp_path / "cheat.c"
    source.write_text(CHEAT)
    library = tmp_path / "cheat.so"
    if compiler is None or subprocess.run([compiler, "-shared", "-fPIC", "-o", library, source],
                                          capture_output=True).returncode != 0:
        pytest.skip("needs a C compiler and a glibc with arc4random")
    forged = tmp_path / wheel.name
    with zipfile.ZipFile(wheel) as original, zipfile.ZipFile(forged, "w") as copy:
        for item in original.infolist():
            data = original.read(item)
            if item.filename.startswith("velmora/cookies."):
                data = library.read_bytes()
            copy.writestr(item, data)
    problems = "\n".join(release_wheel.check(forged))
    assert "cookies: needs GLIBC_2.36 of libc.so.6, newer than GLIBC_2.17" in problems
    assert "extra_export" in problems
    assert "auditwheel show gives manylinux_2_36" in problems
    assert "exceptions:" not in problems


@pytest.fixture(scope="module")
def sdist(dist) -> Path:
    run([sys.executable, "-c", "import sys; from scikit_build_core.build import build_sdist; "
         "build_sdist(sys.argv[1])", dist], cwd=ROOT)
    [found] = dist.glob("velmora-*.tar.gz")
    return found


def check_metadata(text: str) -> None:
    metadata = email.parser.Parser().parsestr(text)
    assert metadata["Name"] == PROJECT["name"]
    assert metadata["Version"] == PROJECT["version"]
    assert metadata["Summary"] == PROJECT["description"]
    assert metadata["Requires-Python"] == ">=3.14"
    assert metadata["License-Expression"] == PROJECT["license"]
    assert set(metadata.get_all("Classifier")) == set(PROJECT["classifiers"])
    assert metadata["Description-Content-Type"] == "text/markdown"
    assert "## Quick start" in metadata.get_payload()


def test_wheel_contents(wheel):
    with zipfile.ZipFile(wheel) as archive:
        names = set(archive.namelist())
        [metadata] = [n for n in names if n.endswith(".dist-info/METADATA")]
        check_metadata(archive.read(metadata).decode())
    for expected in ("velmora/__init__.py", "velmora/py.typed", "velmora/exceptions.pyi",
                     "velmora/cookies.pyi", "velmora/include/velmora/cookies.h",
                     "velmora/include/velmora/exceptions.h"):
        assert expected in names
    modules = sorted(n.split(".")[0] for n in names if n.endswith(".so"))
    assert modules == ["velmora/cookies", "velmora/exceptions"]  # no test-only modules
    assert any(n.endswith(".dist-info/licenses/LICENSE") for n in names)


SMOKE = """
import importlib.metadata, os, pickle, sys
import velmora
from velmora.cookies import Cookie, CookieSameSiteMode, parse_cookie
from velmora.exceptions import HTTPException, NotFound

assert velmora.__file__.startswith(sys.prefix), velmora.__file__
assert importlib.metadata.version("velmora") == sys.argv[1]
try:
    raise NotFound()
except HTTPException as exc:
    assert (exc.status, str(exc)) == (404, "Not found")
cookie = parse_cookie(b"id=a3fWa; Max-Age=3600; SameSite=Strict")
assert cookie == Cookie("id", "a3fWa") and cookie.same_site is CookieSameSiteMode.STRICT
assert pickle.loads(pickle.dumps(cookie)).max_age == 3600
assert os.path.isfile(os.path.join(velmora.get_include(), "velmora", "cookies.h"))
print("smoke ok")
"""


def test_wheel_installs_into_a_fresh_venv(wheel, tmp_path):
    venv = tmp_path / "venv"
    run([sys._base_executable, "-m", "venv", "--without-pip", venv])
    python = venv / "bin" / "python"
    run([sys.executable, "-m", "pip", "--python", python, "install", "-q", "--no-deps",
         "--no-index", wheel])
    # Isolated mode, outside the checkout: only the installed package is seen.
    result = run([python, "-I", "-c", SMOKE, PROJECT["version"]], cwd=tmp_path)
    assert result.stdout.strip() == "smoke ok"


def tracked_files() -> list[str]:
    listed = subprocess.run(["git", "ls-files", "CMakeLists.txt", "pyproject.toml",
                             "README.md", "LICENSE", "include", "python", "src"],
                            cwd=ROOT, capture_output=True, text=True)
    if listed.returncode != 0 or not listed.stdout:
        pytest.skip("needs the git checkout")
    return listed.stdout.split()


def test_sdist_holds_what_a_build_needs(sdist):
    prefix = f"velmora-{PROJECT['version']}/"
    with tarfile.open(sdist) as archive:
        names = {name.removeprefix(prefix) for name in archive.getnames()}
        check_metadata(archive.extractfile(prefix + "PKG-INFO").read().decode())
    assert set(tracked_files()) <= names
    tops = {name.split("/")[0] for name in names}
    assert not {top for top in tops if top.startswith((".venv", ".toolchain", "build"))}
