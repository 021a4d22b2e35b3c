"""A native module of one's own against the installed header: the README's C
example, built with the README's command (and as C++), imported, and driven
through the function table that VelmoraCookies_Import fills."""

import gc
import importlib.util
import os
import shutil
import subprocess
import sys
import sysconfig
from pathlib import Path

import pytest

import velmora
from readme_blocks import blocks
from velmora.cookies import Cookie, CookieValueExceedsMaximumLength

pytestmark = pytest.mark.skipif(shutil.which("cc") is None, reason="needs a C compiler")

[SOURCE] = [b for b in blocks("c") if "PyInit_cookie_demo" in b.code]
[BUILD] = [b for b in blocks("sh") if "cookie_demo.c" in b.code]
[USAGE] = blocks("python cookie_demo")
EXT_SUFFIX = sysconfig.get_config_var("EXT_SUFFIX")


def readme_build(directory: Path) -> Path:
    (directory / "cookie_demo.c").write_text(SOURCE.code)
    # The command as the README gives it, with this interpreter as `python`.
    env = {**os.environ, "PATH": f"{Path(sys.executable).parent}{os.pathsep}{os.environ['PATH']}"}
    built = subprocess.run(["bash", "-euo", "pipefail", "-c", BUILD.code], cwd=directory, env=env,
                           capture_output=True, text=True, timeout=120)
    assert built.returncode == 0 and not built.stderr, built.stderr  # no warnings either
    return directory / f"cookie_demo{EXT_SUFFIX}"


def cxx_build(directory: Path) -> Path:
    if shutil.which("c++") is None:
        pytest.skip("needs a C++ compiler")
    (directory / "cookie_demo.c").write_text(SOURCE.code)
    target = directory / f"cookie_demo{EXT_SUFFIX}"
    subprocess.run(["c++", "-x", "c++", "-std=c++20", "-shared", "-fPIC", "-Wall", "-Wextra",
                    "-Werror", "-I", sysconfig.get_paths()["include"], "-I", velmora.get_include(),
                    "cookie_demo.c", "-o", target.name],
                   cwd=directory, check=True, capture_output=True, timeout=120)
    return target


def load(path: Path):
    spec = importlib.util.spec_from_file_location("cookie_demo", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture(scope="module", params=["c", "c++"])
def demo(request, tmp_path_factory):
    directory = tmp_path_factory.mktemp(f"demo-{request.param}")
    return load(readme_build(directory) if request.param == "c" else cxx_build(directory))


def test_readme_usage_runs_beside_the_built_module(tmp_path):
    readme_build(tmp_path)
    ran = subprocess.run([sys.executable, "-c", USAGE.code], cwd=tmp_path,
                         capture_output=True, text=True, timeout=60)
    assert ran.returncode == 0, ran.stderr


@pytest.mark.parametrize("raw, header", [
    (b"a=b", b"a=b; HttpOnly; SameSite=Lax"),
    (b"user%20id=a%20b; Max-Age=0; Domain=example.org",
     b"user%20id=a%20b; Max-Age=0; Domain=example.org; HttpOnly; SameSite=Lax"),
    (b"id=1; Expires=Wed, 21 Oct 2015 07:28:00 +0200; SameSite=strict",
     b"id=1; Expires=Wed, 21 Oct 2015 07:28:00 GMT; HttpOnly; Secure; SameSite=Strict"),
])
def test_parse_then_write(demo, raw, header):
    assert demo.harden(raw) == header


@pytest.mark.parametrize("raw, error, text", [
    (b"novalue", ValueError, "Invalid name=value fragment: b'novalue'"),
    (b"a=b; Domain=x\nSet-Cookie: y=1", ValueError, "cookie domain contains the control byte 0x0A"),
    (b"a=" + b"x" * 4097, CookieValueExceedsMaximumLength, "The length of the cookie value"),
    (b"=x", ValueError, "A cookie name is required"),
    ("a=b", TypeError, "harden() needs bytes"),
])
def test_errors_reach_the_caller(demo, raw, error, text):
    with pytest.raises(error) as caught:
        demo.harden(raw)
    assert str(caught.value).startswith(text)


@pytest.mark.parametrize("word, code", [
    (b"Strict", 2), (b"LAX", 1), (b"none", 3), (b"", 0), (b" Lax", 0), (b"bogus", 0),
])
def test_same_site_codes(demo, word, code):
    assert demo.same_site(word) == code


def live_cookies() -> int:
    gc.collect()
    return sum(type(o) is Cookie for o in gc.get_objects())


def test_no_reference_is_leaked(demo):
    raw, bad = b"id=a3fWa; Path=/; SameSite=None", b"a=b; Path=/\r"
    demo.harden(raw)
    before = (sys.getrefcount(raw), sys.getrefcount(bad), live_cookies())
    for _ in range(200):
        demo.harden(raw)
        with pytest.raises(ValueError):
            demo.harden(bad)
    assert (sys.getrefcount(raw), sys.getrefcount(bad), live_cookies()) == before
