"""The type stubs shipped with the package: stubtest against the built modules,
mypy --strict on everyday use, and the parameter lists that stubtest cannot
see (the native callables carry no signatures) checked against the binding."""

import ast
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest

import velmora
import velmora.cookies
import velmora.exceptions

TESTS = Path(__file__).resolve().parent
PACKAGE = Path(velmora.__file__).resolve().parent
MODULES = {"exceptions": velmora.exceptions, "cookies": velmora.cookies}

pytest.importorskip("mypy", reason="mypy is in the test extra")


def run_mypy_tool(args: list[str], cache: Path) -> subprocess.CompletedProcess:
    # Outside the checkout, so that only the installed package is seen.
    env = {**os.environ, "MYPY_CACHE_DIR": str(cache)}
    return subprocess.run([sys.executable, "-m", *args], capture_output=True, text=True,
                          cwd=cache, env=env, timeout=300)


def test_installed_package_is_typed():
    for name in ("py.typed", "exceptions.pyi", "cookies.pyi"):
        assert (PACKAGE / name).is_file(), name


def test_stubtest(tmp_path):
    result = run_mypy_tool(["mypy.stubtest", "--allowlist", str(TESTS / "stubtest_allowlist.txt"),
                            "velmora.exceptions", "velmora.cookies"], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr


def test_strict_usage_example(tmp_path):
    example = TESTS / "typing_example.py"
    result = run_mypy_tool(["mypy", "--strict", str(example)], tmp_path)
    assert result.returncode == 0, result.stdout + result.stderr
    ran = subprocess.run([sys.executable, str(example)], capture_output=True, text=True,
                         cwd=tmp_path, timeout=60)
    assert ran.returncode == 0, ran.stderr


# ---- parameter lists of the stubs against the runtime binding ---------------------


def stub_callables():
    """(id, runtime callable, positional-or-keyword names, number required)."""
    for module_name, module in MODULES.items():
        tree = ast.parse((PACKAGE / f"{module_name}.pyi").read_text())
        for node in tree.body:
            if isinstance(node, ast.FunctionDef) and not node.name.startswith("__pyx_"):
                yield f"{module_name}.{node.name}", getattr(module, node.name), node.args, 0
            elif isinstance(node, ast.ClassDef):
                for item in node.body:
                    if isinstance(item, ast.FunctionDef) and item.name == "__init__":
                        yield (f"{module_name}.{node.name}", getattr(module, node.name),
                               item.args, 1)


CALLABLES = [pytest.param(target, args, skip, id=name)
             for name, target, args, skip in stub_callables()]


def parameters(args: ast.arguments, skip: int) -> tuple[list[str], int]:
    assert not args.posonlyargs and not args.kwonlyargs
    names = [arg.arg for arg in args.args[skip:]]
    return names, len(names) - len(args.defaults)


def binding_error(target, *args, **kwargs) -> str:
    try:
        target(*args, **kwargs)
    except Exception as error:  # noqa: BLE001 - any failure but a binding one is fine
        return str(error)
    return ""


BINDING = re.compile(r"positional arguments? \(|keyword argument")


@pytest.mark.parametrize("target, args, skip", CALLABLES)
def test_stub_parameters_bind_at_runtime(target, args, skip):
    names, required = parameters(args, skip)
    # The stub's names all bind as keywords, and its defaults may be left out.
    assert not BINDING.search(binding_error(target, **dict.fromkeys(names)))
    assert not BINDING.search(binding_error(target, **dict.fromkeys(names[:required])))
    too_many = binding_error(target, *[None] * (len(names) + 1))
    assert re.search(rf"takes (exactly|at most) {len(names)} positional argument", too_many)
    if required:
        too_few = binding_error(target)
        assert re.search(rf"takes (exactly|at least) {required} positional argument", too_few)
    assert "keyword argument 'unknown'" in binding_error(target, *[None] * required, unknown=1)
