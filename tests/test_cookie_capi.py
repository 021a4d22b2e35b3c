"""The native function table __pyx_capi__, Cookie.__pyx_vtable__, the
module's function objects and the import function of the public header."""

import ctypes
import email.utils
import sys
import urllib.parse

import pytest

import velmora.cookies as cookies
from velmora.cookies import Cookie

capi = pytest.importorskip("velmora._velmora_capi_test")

TABLE = {
    "datetime_from_cookie_format": "PyDateTime_DateTime *(PyObject *, int __pyx_skip_dispatch)",
    "datetime_to_cookie_format": "PyObject *(PyDateTime_DateTime *, int __pyx_skip_dispatch)",
    "split_value": "PyObject *(PyObject *, PyObject *)",
    "write_cookie_for_response": "PyObject *(struct __pyx_obj_7velmora_7cookies_Cookie *)",
    "same_site_mode_from_bytes": "enum __pyx_t_7velmora_7cookies_CookieSameSiteMode (PyObject *)",
    "parse_cookie":
        "struct __pyx_obj_7velmora_7cookies_Cookie *(PyObject *, int __pyx_skip_dispatch)",
}

api = ctypes.pythonapi
api.PyCapsule_GetName.restype = ctypes.c_char_p
api.PyCapsule_GetName.argtypes = [ctypes.py_object]
api.PyCapsule_IsValid.argtypes = [ctypes.py_object, ctypes.c_char_p]
api.PyCapsule_GetDestructor.restype = ctypes.c_void_p
api.PyCapsule_GetDestructor.argtypes = [ctypes.py_object]
api.PyCapsule_GetContext.restype = ctypes.c_void_p
api.PyCapsule_GetContext.argtypes = [ctypes.py_object]


def test_table_keys_in_order():
    assert type(cookies.__pyx_capi__) is dict
    assert list(cookies.__pyx_capi__) == list(TABLE)


@pytest.mark.parametrize("key, signature", TABLE.items())
def test_capsules_are_named_by_their_declaration(key, signature):
    capsule = cookies.__pyx_capi__[key]
    assert type(capsule).__name__ == "PyCapsule"
    assert api.PyCapsule_GetName(capsule) == signature.encode()
    assert api.PyCapsule_IsValid(capsule, signature.encode()) == 1
    assert api.PyCapsule_IsValid(capsule, signature.replace(" *", "*").encode()) == 0
    assert api.PyCapsule_GetDestructor(capsule) is None
    assert api.PyCapsule_GetContext(capsule) is None


def test_vtable_capsule_is_unnamed():
    capsule = Cookie.__dict__["__pyx_vtable__"]
    assert api.PyCapsule_GetName(capsule) is None


@pytest.mark.parametrize("name", ["write_cookie_for_response", "split_value",
                                  "same_site_mode_from_bytes", "datetime", "enum", "IntEnum",
                                  "date", "type"])
def test_not_bound(name):
    assert not hasattr(cookies, name)


def test_standard_functions_are_the_very_objects():
    assert cookies.quote is urllib.parse.quote
    assert cookies.unquote is urllib.parse.unquote
    assert cookies.parsedate_to_datetime is email.utils.parsedate_to_datetime


@pytest.mark.parametrize("name", ["datetime_to_cookie_format", "datetime_from_cookie_format",
                                  "parse_cookie"])
def test_function_objects(name):
    function = getattr(cookies, name)
    assert function.__module__ == "velmora.cookies"
    assert function.__name__ == function.__qualname__ == name
    assert function.__doc__ is None


def test_vtable_clone_through_the_header():
    cookie = Cookie("a", "b", path="/p")
    copy = capi.clone(cookie)
    assert copy == cookie and copy is not cookie and type(copy) is Cookie


def test_record_fields_through_the_header():
    cookie = cookies.parse_cookie(b"a=b; Max-Age=5; SameSite=Strict; Secure")
    assert capi.fields(cookie) == ("a", "b", None, None, None, 0, 1, 5, 2)


class TestImportFunction:
    """VelmoraCookies_Import refuses a table it cannot trust."""

    @pytest.fixture
    def table(self):
        saved = dict(cookies.__pyx_capi__)
        yield cookies.__pyx_capi__
        cookies.__pyx_capi__.clear()
        cookies.__pyx_capi__.update(saved)

    def test_intact_table_imports(self, table):
        assert capi.reimport() is None

    def test_missing_entry(self, table):
        del table["parse_cookie"]
        with pytest.raises(KeyError):
            capi.reimport()

    def test_capsule_with_another_name(self, table):
        table["split_value"] = table["parse_cookie"]
        with pytest.raises(ValueError):
            capi.reimport()

    def test_entry_that_is_no_capsule(self, table):
        table["split_value"] = object()
        with pytest.raises(ValueError):
            capi.reimport()


@pytest.mark.parametrize("setup, error", [
    ("import types, sys; sys.modules['email.utils'] = types.ModuleType('email.utils')",
     "ImportError: cannot import name parsedate_to_datetime"),
    ("import urllib.parse; del urllib.parse.unquote",
     "ImportError: cannot import name unquote"),
    # The interpreter's own text; 3.15 adds a hint naming a loaded module.
    ("import sys; sys.modules['urllib.parse'] = None",
     "ModuleNotFoundError: import of urllib.parse halted; None in sys.modules"
     + (". Did you mean: 'urllib.error'?" if sys.version_info >= (3, 15) else "")),
])
def test_body_fails_on_a_missing_standard_name(python_subprocess, setup, error):
    result = python_subprocess(f"""
        {setup}
        import velmora.cookies
    """)
    assert result.returncode != 0
    assert result.stderr.strip().splitlines()[-1] == error
    assert 'File "velmora/cookies", line 1, in init velmora.cookies' in result.stderr


def test_a_submodule_in_sys_modules_stands_in_for_a_missing_attribute(python_subprocess):
    result = python_subprocess("""
        import sys, types, email.utils
        real = email.utils.parsedate_to_datetime
        del email.utils.parsedate_to_datetime
        sys.modules['email.utils.parsedate_to_datetime'] = stand_in = types.ModuleType('x')
        import velmora.cookies
        assert velmora.cookies.parsedate_to_datetime is stand_in
        print('ok')
    """)
    assert result.stdout.strip() == "ok", result.stderr
