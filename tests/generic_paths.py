"""The generic paths of velmora.cookies, forced the way the benchmark forces them.

The native stand-ins run only while the module names hold the very standard
functions bound at import and what those functions read is unchanged. Bound
to equivalent copies (same code, globals and defaults, other objects), and
with time.strftime wrapped, every call goes through the documented Python
calls instead; results and errors must not change.
"""

import contextlib
import importlib.util
import time
from pathlib import Path

import pytest

import velmora.cookies as cookies

NAMES = ("quote", "unquote", "parsedate_to_datetime")


def _benchmark_cases():
    """The benchmark's catalogue, loaded by path (it is no package)."""
    path = Path(__file__).resolve().parent.parent / "benchmarks" / "cases.py"
    spec = importlib.util.spec_from_file_location("velmora_benchmark_cases", path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


# The copies the benchmark's rows "as specified, without fast paths" use.
standard_copy = _benchmark_cases().standard_copy


@contextlib.contextmanager
def generic_paths():
    saved = {name: getattr(cookies, name) for name in NAMES}
    strftime = time.strftime

    def wrapped_strftime(format, *args):
        return strftime(format, *args)

    try:
        for name, function in saved.items():
            setattr(cookies, name, standard_copy(function))
        time.strftime = wrapped_strftime
        yield
    finally:
        time.strftime = strftime
        for name, function in saved.items():
            setattr(cookies, name, function)


@pytest.fixture(params=["fast", "generic"])
def either_path(request):
    """Runs a test once as it is and once with every generic path forced."""
    if request.param == "fast":
        yield request.param
        return
    with generic_paths():
        yield request.param
