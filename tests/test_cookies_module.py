"""velmora.cookies as a module: namespace, re-import, exported symbols."""

import importlib
import shutil
import subprocess
import sys

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie, CookieError, CookieValueExceedsMaximumLength

PUBLIC_NAMES = [
    "Cookie", "CookieError", "CookieValueExceedsMaximumLength", "CookieSameSiteMode",
    "quote", "unquote", "parsedate_to_datetime",
    "datetime_to_cookie_format", "datetime_from_cookie_format", "parse_cookie",
]


PYX_NAMES = ["__pyx_capi__", "__pyx_unpickle_CookieError",
             "__pyx_unpickle_CookieValueExceedsMaximumLength", "__pyx_unpickle_Cookie"]


def test_namespace_in_body_order(python_subprocess):
    # In a fresh interpreter: other tests rebind names and so reorder them.
    result = python_subprocess("""
        import velmora.cookies as c
        print([n for n in vars(c) if not n.startswith("__") or n.startswith("__pyx")])
    """)
    assert result.stdout.strip() == repr([PYX_NAMES[0], *PUBLIC_NAMES, *PYX_NAMES[1:]])


def test_namespace():
    names = {name for name in vars(cookies) if not name.startswith("__")}
    assert names == set(PUBLIC_NAMES)
    assert cookies.__test__ == {}
    assert cookies.__builtins__ is __import__("builtins")
    for absent in ("datetime", "enum", "IntEnum", "date", "type"):
        assert absent not in vars(cookies)


@pytest.mark.parametrize("cls", [Cookie, CookieError, CookieValueExceedsMaximumLength])
def test_types_are_named_after_the_module(cls):
    assert cls.__module__ == "velmora.cookies"
    assert cls.__qualname__ == cls.__name__
    assert f"{cls.__module__}.{cls.__name__}" == repr(cls)[8:-2]
    assert cls.__doc__ is None


@pytest.mark.parametrize("cls", [Cookie, CookieError, CookieValueExceedsMaximumLength])
def test_types_cannot_be_changed(cls):
    with pytest.raises(TypeError):
        cls.extra = 1
    with pytest.raises(TypeError):
        del cls.__init__


def test_cookie_type_shape():
    assert Cookie.__bases__ == (object,)
    assert Cookie.__dictoffset__ == 0 and Cookie.__weakrefoffset__ == 0
    assert Cookie.__hash__ is None
    assert type(Cookie.__dict__["__pyx_vtable__"]).__name__ == "PyCapsule"


def snapshot():
    return dict(vars(cookies))


@pytest.mark.parametrize("how", ["reload", "reimport"])
def test_same_module_again(how):
    before = snapshot()
    if how == "reload":
        again = importlib.reload(cookies)
    else:
        del sys.modules["velmora.cookies"]
        again = importlib.import_module("velmora.cookies")
    assert again is cookies
    assert sys.modules["velmora.cookies"] is cookies
    after = snapshot()
    assert after.keys() == before.keys()
    for name, value in before.items():
        if name.startswith("__"):
            # The import system sets the module attributes again, to equal values.
            assert name in ("__spec__", "__loader__") or after[name] == value, name
        else:
            assert after[name] is value, name


def test_other_interpreters_are_refused():
    interpreters = pytest.importorskip("_interpreters")
    interp = interpreters.create(interpreters.new_config("legacy"))
    try:
        failure = interpreters.run_string(interp, "import velmora.cookies")
    finally:
        interpreters.destroy(interp)
    assert failure is not None
    assert failure.type.__name__ == "ImportError"
    assert failure.msg == (
        "Interpreter change detected - this module can only be loaded into one interpreter per "
        "process."
    )


@pytest.mark.skipif(shutil.which("nm") is None, reason="needs nm")
def test_exported_symbols():
    output = subprocess.run(
        ["nm", "-D", "--defined-only", cookies.__file__], check=True, capture_output=True,
        text=True,
    ).stdout
    symbols = {line.split()[-1] for line in output.splitlines() if line.strip()}
    assert symbols == {"PyInit_cookies", "__pyx_module_is_main_velmora__cookies"}
