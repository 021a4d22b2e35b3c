"""The native side of Cookie: the record of velmora/cookies.h, the method
table, garbage collection and the vectorcall entry of the type."""

import ctypes
import datetime
import gc
import os
import shutil
import subprocess
import sys
import sysconfig
import weakref

import pytest

import velmora
from velmora.cookies import Cookie, CookieSameSiteMode

pytestmark = pytest.mark.skipif(
    bool(sysconfig.get_config_var("Py_GIL_DISABLED")), reason="record offsets of the GIL build"
)


class Record(ctypes.Structure):
    """struct __pyx_obj_7velmora_7cookies_Cookie of velmora/cookies.h."""

    _fields_ = [
        ("ob_refcnt", ctypes.c_ssize_t),
        ("ob_type", ctypes.c_void_p),
        ("vtab", ctypes.c_void_p),
        ("name", ctypes.c_void_p),
        ("value", ctypes.c_void_p),
        ("expires", ctypes.c_void_p),
        ("domain", ctypes.c_void_p),
        ("path", ctypes.c_void_p),
        ("http_only", ctypes.c_int32),
        ("secure", ctypes.c_int32),
        ("max_age", ctypes.c_int64),
        ("same_site", ctypes.c_uint32),
    ]


def record_of(cookie):
    return Record.from_address(id(cookie))


capsule_pointer = ctypes.pythonapi.PyCapsule_GetPointer
capsule_pointer.restype = ctypes.c_void_p
capsule_pointer.argtypes = [ctypes.py_object, ctypes.c_char_p]
capsule_name = ctypes.pythonapi.PyCapsule_GetName
capsule_name.restype = ctypes.c_char_p
capsule_name.argtypes = [ctypes.py_object]


def method_table():
    return capsule_pointer(Cookie.__pyx_vtable__, None)


def test_record_size():
    assert ctypes.sizeof(Record) == Cookie.__basicsize__ == 88


class Moment(datetime.datetime):
    pass


@pytest.mark.parametrize("cls", [Cookie, type("Sub", (Cookie,), {})])
def test_record_fields(cls):
    name, value, domain, path = "n" * 3, "v" * 5, "example.org", "/app"
    expires = Moment(2020, 1, 2)
    cookie = cls(name, value, expires, domain, path, True, False, 2**40, 2**31 + 5)
    record = record_of(cookie)
    assert record.ob_type == id(cls)
    assert record.vtab == method_table()
    assert (record.name, record.value, record.expires) == (id(name), id(value), id(expires))
    assert (record.domain, record.path) == (id(domain), id(path))
    assert (record.http_only, record.secure) == (1, 0)
    assert record.max_age == 2**40
    assert record.same_site == 2**31 + 5


def test_allocation_values_in_the_record():
    record = record_of(cookie := Cookie.__new__(Cookie))
    assert record.vtab == method_table()
    for field in ("name", "value", "expires", "domain", "path"):
        assert getattr(record, field) == id(None)
    assert (record.http_only, record.secure, record.max_age, record.same_site) == (0, 0, 0, 0)
    del cookie


def test_method_table_capsule_has_no_name():
    assert capsule_name(Cookie.__pyx_vtable__) is None
    assert method_table()


# ---- the clone slot ---------------------------------------------------------------

clone_slot = ctypes.PYFUNCTYPE(ctypes.py_object, ctypes.py_object, ctypes.c_int)(
    ctypes.c_void_p.from_address(method_table()).value
)


def native_clone(cookie, skip_dispatch):
    return clone_slot(cookie, skip_dispatch)


class Plain(Cookie):
    pass


class ReturnsText(Cookie):
    def clone(self):
        return "not a cookie"


class ReturnsNone(Cookie):
    def clone(self):
        return None


class ReturnsSelf(Cookie):
    def clone(self):
        return self


# Without an instance dictionary: still a Python subclass, whose override
# the slot must find.
class SlottedReturnsSelf(Cookie):
    __slots__ = ()

    def clone(self):
        return self


class SlottedPlain(Cookie):
    __slots__ = ()


@pytest.mark.parametrize(
    "cls, skip, expected",
    [
        (Cookie, 0, "built-in"),
        (Plain, 0, "built-in"),
        (ReturnsSelf, 0, "self"),
        (ReturnsNone, 0, None),
        (ReturnsText, 1, "built-in"),
        (ReturnsSelf, 1, "built-in"),
        (SlottedReturnsSelf, 0, "self"),
        (SlottedPlain, 0, "built-in"),
        (SlottedReturnsSelf, 1, "built-in"),
    ],
)
def test_clone_slot_dispatch(cls, skip, expected):
    cookie = cls("n", "v", same_site=7)
    result = native_clone(cookie, skip)
    if expected == "built-in":
        assert type(result) is Cookie and result is not cookie and result.same_site == 7
    elif expected == "self":
        assert result is cookie
    else:
        assert result is None


def test_clone_slot_checks_the_override_result():
    with pytest.raises(TypeError, match=r"^Cannot convert str to velmora\.cookies\.Cookie$"):
        native_clone(ReturnsText("n", "v"), 0)


# ---- garbage collection ----------------------------------------------------------


def test_collector_sees_only_expires():
    expires = Moment(2020, 1, 1)
    assert gc.get_referents(Cookie("n", "v", expires, "d", "/p")) == [expires]
    assert gc.get_referents(Cookie("n", "v")) == [None]


def test_cycle_through_expires_is_collected():
    expires = Moment(2020, 1, 1)
    cookie = Cookie("n", "v", expires=expires)
    expires.cookie = cookie
    watcher = weakref.ref(expires)
    del cookie, expires
    gc.collect()
    assert watcher() is None


def test_cycle_through_a_subclass_dict_is_collected():
    class Tagged(Cookie):
        pass

    cookie = Tagged("n", "v")
    cookie.me = cookie
    watcher = weakref.ref(cookie)
    del cookie
    gc.collect()
    assert watcher() is None


# ---- the vectorcall entry --------------------------------------------------------

# tp_vectorcall is the 48th pointer-sized field after the variable object header.
TP_BASICSIZE = 3 * 8 + 1 * 8
TP_VECTORCALL = 3 * 8 + 47 * 8


def type_field(cls, offset):
    return ctypes.c_void_p.from_address(id(cls) + offset).value


def test_only_the_cookie_type_itself_has_the_vectorcall_entry():
    class Sub(Cookie):
        pass

    assert type_field(Cookie, TP_BASICSIZE) == Cookie.__basicsize__  # offsets hold
    assert type_field(Cookie, TP_VECTORCALL)
    assert not type_field(Sub, TP_VECTORCALL)


# ---- the public header -----------------------------------------------------------

# Python.h comes first, as CPython asks: its pyconfig.h sets the feature
# macros (_POSIX_C_SOURCE, ...) that the system headers read.
HEADER_PROBE = r"""
#include <Python.h>
#include <stddef.h>
#include <stdio.h>
#include "velmora/cookies.h"

int main(void) {
    VelmoraCookieSameSiteMode mode = VELMORA_SAME_SITE_NONE;
    VelmoraCookieMethods methods;
    (void)methods;
    printf("%d %d %d %d %d %d %d %d %d %d %d\n", (int)sizeof(VelmoraCookie),
           (int)offsetof(VelmoraCookie, __pyx_vtab), (int)offsetof(VelmoraCookie, _name),
           (int)offsetof(VelmoraCookie, _value), (int)offsetof(VelmoraCookie, expires),
           (int)offsetof(VelmoraCookie, domain), (int)offsetof(VelmoraCookie, path),
           (int)offsetof(VelmoraCookie, http_only), (int)offsetof(VelmoraCookie, max_age),
           (int)offsetof(VelmoraCookie, same_site), (int)mode);
    return 0;
}
"""


@pytest.mark.parametrize("compiler, flags", [("cc", ["-std=c11"]), ("c++", ["-std=c++17"])])
def test_public_header_compiles_as_c_and_cxx(tmp_path, compiler, flags):
    if shutil.which(compiler) is None:
        pytest.skip(f"needs {compiler}")
    source = tmp_path / ("probe.c" if compiler == "cc" else "probe.cpp")
    source.write_text(HEADER_PROBE)
    binary = tmp_path / "probe"
    command = [compiler, *flags, "-Wall", "-Wextra", "-Werror", "-I", velmora.get_include(),
               "-I", sysconfig.get_paths()["include"], str(source), "-o", str(binary)]
    subprocess.run(command, check=True, capture_output=True)
    output = subprocess.run([str(binary)], check=True, capture_output=True, text=True,
                            env={**os.environ, "LD_PRELOAD": ""}).stdout
    expected = [ctypes.sizeof(Record)] + [getattr(Record, field).offset for field in (
        "vtab", "name", "value", "expires", "domain", "path", "http_only", "max_age",
        "same_site")] + [int(CookieSameSiteMode.NONE)]
    assert [int(part) for part in output.split()] == expected
