"""Module frame: held module, one-interpreter rule, namespace, exports."""

import ctypes
import importlib
import os
import shutil
import subprocess
import sys
import types

import pytest

import velmora.exceptions

MODULES = ["velmora.exceptions"]


def _optional(name):
    try:
        return importlib.import_module(name)
    except ImportError:
        return None


@pytest.mark.parametrize("name", MODULES)
def test_reload_and_reimport_give_the_same_module(name):
    module = importlib.import_module(name)
    before = dict(vars(module))
    assert importlib.reload(module) is module
    del sys.modules[name]
    again = importlib.import_module(name)
    assert again is module
    assert sys.modules[name] is module
    assert vars(module) == before


@pytest.mark.parametrize("name", MODULES)
def test_second_interpreter_is_refused(name, python_subprocess):
    result = python_subprocess(f"""
        import _interpreters
        import {name}
        interp = _interpreters.create(_interpreters.new_config("legacy"))
        err = _interpreters.exec(interp, "import {name}")
        print(err.type.__name__)
        print(err.msg)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines() == [
        "ImportError",
        "Interpreter change detected - this module can only be loaded into one "
        "interpreter per process.",
    ]


@pytest.mark.parametrize("name", MODULES)
def test_executing_the_body_on_another_module_is_refused(name):
    module = importlib.import_module(name)
    api = ctypes.pythonapi
    api.PyModule_GetDef.restype = ctypes.c_void_p
    api.PyModule_GetDef.argtypes = [ctypes.py_object]
    api.PyModule_ExecDef.restype = ctypes.c_int
    api.PyModule_ExecDef.argtypes = [ctypes.py_object, ctypes.c_void_p]
    definition = api.PyModule_GetDef(module)
    short = name.rpartition(".")[2]
    with pytest.raises(RuntimeError) as info:
        api.PyModule_ExecDef(types.ModuleType(name), definition)
    assert str(info.value) == (
        f"Module '{short}' has already been imported. Re-initialisation is not supported."
    )
    # The held module itself is accepted again without running its body.
    assert api.PyModule_ExecDef(module, definition) == 0


def test_exceptions_namespace():
    names = {k for k in vars(velmora.exceptions) if not k.startswith("__")}
    assert {"HTTPException", "NotFound", "BadRequest"} <= names
    assert velmora.exceptions.__test__ == {}
    assert velmora.exceptions.__builtins__ is __builtins__ or isinstance(
        velmora.exceptions.__builtins__, types.ModuleType
    )


@pytest.mark.parametrize("name", MODULES)
def test_main_program_flag_renames_the_module(name, python_subprocess):
    short = name.rpartition(".")[2]
    result = python_subprocess(f"""
        import ctypes, importlib.util, sys
        spec = importlib.util.find_spec("{name}")
        lib = ctypes.CDLL(spec.origin)
        ctypes.c_int.in_dll(lib, "__pyx_module_is_main_velmora__{short}").value = 1
        import {name} as m
        print(m.__name__, sys.modules["{name}"] is m)
    """)
    assert result.returncode == 0, result.stderr
    assert result.stdout.split() == ["__main__", "True"]


@pytest.mark.skipif(not shutil.which("nm") or not shutil.which("readelf"), reason="binutils")
@pytest.mark.parametrize("name", MODULES)
def test_library_exports_and_needs_only_the_c_runtime(name):
    path = importlib.util.find_spec(name).origin
    short = name.rpartition(".")[2]
    symbols = subprocess.run(
        ["nm", "-D", "--defined-only", path], capture_output=True, text=True, check=True
    ).stdout.split("\n")
    exported = sorted(line.split()[-1] for line in symbols if line.strip())
    assert exported == sorted([f"PyInit_{short}", f"__pyx_module_is_main_velmora__{short}"])
    dynamic = subprocess.run(
        ["readelf", "-d", path], capture_output=True, text=True, check=True
    ).stdout
    needed = {
        line.split("[")[1].rstrip("]")
        for line in dynamic.splitlines()
        if "(NEEDED)" in line
    }
    allowed = {"libc.so.6", "libm.so.6", "ld-linux-x86-64.so.2"}
    if os.environ.get("VELMORA_SANITIZE") == "ON":
        allowed |= {"libasan.so.8", "libubsan.so.1"}
    assert needed <= allowed


def test_import_is_silent_with_warnings_as_errors():
    result = subprocess.run(
        [sys.executable, "-W", "error", "-c", "import velmora.cookies, velmora.exceptions"],
        capture_output=True, text=True, cwd="/", timeout=120,
    )
    assert (result.returncode, result.stdout, result.stderr) == (0, "", "")


# The interpreter's version, as the modules read it at import, replaced in a
# child process; the modules were built with this interpreter's headers.
FAKE_RUNTIME = """
import ctypes, mmap
version = ctypes.c_ulong.in_dll(ctypes.pythonapi, "Py_Version")
libc = ctypes.CDLL(None, use_errno=True)
libc.mprotect.argtypes = [ctypes.c_void_p, ctypes.c_size_t, ctypes.c_int]
page = ctypes.addressof(version) & ~(mmap.PAGESIZE - 1)
assert libc.mprotect(page, mmap.PAGESIZE, mmap.PROT_READ | mmap.PROT_WRITE) == 0
version.value = {version:#x}
import {name}
"""
MAJOR, MINOR = sys.version_info[:2]


@pytest.mark.skipif(sys.platform != "linux", reason="replaces a read-only value through mprotect")
@pytest.mark.parametrize("name", ["velmora.exceptions", "velmora.cookies"])
@pytest.mark.parametrize("runtime, warns", [
    ((MAJOR, MINOR + 1, 0, 0xF0), True),
    ((MAJOR, MINOR - 1, 9, 0xF0), True),
    ((MAJOR, MINOR, 99, 0xA1), False),  # micro version and release level aside
])
def test_version_warning_names_the_compile_time_version(name, runtime, warns):
    major, minor, micro, level = runtime
    code = FAKE_RUNTIME.format(version=major << 24 | minor << 16 | micro << 8 | level, name=name)
    result = subprocess.run([sys.executable, "-W", "error", "-c", code], capture_output=True,
                            text=True, cwd="/", timeout=120)
    if not warns:
        assert (result.returncode, result.stderr) == (0, "")
        return
    assert result.returncode != 0
    assert result.stderr.strip().splitlines()[-1] == (
        f"RuntimeWarning: compile time Python version {MAJOR}.{MINOR} of module '{name}' "
        f"does not match runtime version {major}.{minor}")
