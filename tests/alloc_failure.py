"""Drives an operation with its k-th memory allocation failing, k = 0, 1, ..."""

import gc

import pytest

_testcapi = pytest.importorskip("_testcapi")

MAX_STEPS = 2000


def caused_by_memory_error(exc: BaseException | None) -> bool:
    seen = set()
    while exc is not None and id(exc) not in seen:
        if isinstance(exc, MemoryError):
            return True
        seen.add(id(exc))
        exc = exc.__cause__ or exc.__context__
    return False


def fail_each_allocation(operation, check=None, expect=(), setup=None):
    """Runs `operation` once per allocation it makes, failing that allocation.

    Every run must end in success or in an exception that a MemoryError
    caused; `check(result_or_exception)` may inspect what was left behind.
    An operation that fails on its own raises one of `expect` once no
    allocation fails. With `setup`, each run first calls it (allocations
    succeed there) and hands its result to `operation`. Returns the number
    of runs until it completed.
    """
    for k in range(MAX_STEPS):
        target = setup() if setup else None
        gc.collect()
        gc.disable()
        error = None
        result = None
        _testcapi.set_nomemory(k, k + 1)
        try:
            result = operation(target) if setup else operation()
        except BaseException as exc:  # noqa: BLE001 - every outcome is inspected
            error = exc
        finally:
            _testcapi.remove_mem_hooks()
            gc.enable()
        if error is not None and not caused_by_memory_error(error) and isinstance(error, expect):
            return k
        if error is not None:
            assert not isinstance(error, SystemError), repr(error)
            assert caused_by_memory_error(error), f"step {k}: {error!r}"
            if check:
                check(error)
            continue
        if check:
            check(result)
        return k
    raise AssertionError("operation never completed")
