"""Every allocation failure ends in MemoryError, never in a crash or a SystemError."""

import pytest

import velmora.exceptions as exc
from alloc_failure import fail_each_allocation


def raise_and_catch(factory):
    def operation():
        try:
            raise factory()
        except exc.HTTPException as caught:
            return caught

    return operation


EXCEPTION_OPERATIONS = {
    "HTTPException(404)": lambda: exc.HTTPException(404),
    "HTTPException(kw)": lambda: exc.HTTPException(status=404, message="m"),
    "NotFound()": lambda: exc.NotFound(),
    "BadRequest(msg)": lambda: exc.BadRequest("missing"),
    "RangeNotSatisfiable()": lambda: exc.RangeNotSatisfiable(),
    "raise NotFound": raise_and_catch(exc.NotFound),
    "status setter": lambda: setattr(exc.HTTPException(1), "status", 2**20),
}

FAILING_OPERATIONS = {
    "status overflow": (lambda: exc.HTTPException(2**70), OverflowError),
    "status type": (lambda: exc.HTTPException("404"), TypeError),
    "unexpected keyword": (lambda: exc.NotFound(code=1), TypeError),
}


@pytest.mark.parametrize("name", sorted(EXCEPTION_OPERATIONS))
def test_exception_operations_survive_allocation_failures(name):
    operation = EXCEPTION_OPERATIONS[name]

    def check(outcome):
        if isinstance(outcome, exc.HTTPException) and not isinstance(outcome, MemoryError):
            # A finished instance is complete: status and message were both set.
            assert outcome.status != 0 and len(outcome.args) == 1

    fail_each_allocation(operation, check)


@pytest.mark.parametrize("name", sorted(FAILING_OPERATIONS))
def test_failing_operations_survive_allocation_failures(name):
    operation, expected = FAILING_OPERATIONS[name]
    fail_each_allocation(operation, expect=expected)


def test_import_survives_allocation_failures(python_subprocess):
    result = python_subprocess("""
        import sys, _testcapi
        outcomes = set()
        for k in range(400):
            for name in [m for m in sys.modules if m.startswith("velmora")]:
                del sys.modules[name]
            _testcapi.set_nomemory(k, k + 1)
            try:
                import velmora.exceptions
            except MemoryError:
                outcomes.add("MemoryError")
                continue
            except BaseException as e:
                _testcapi.remove_mem_hooks()
                c = e
                while c is not None and not isinstance(c, MemoryError):
                    c = c.__cause__ or c.__context__
                # The import machinery reports a failed lock allocation as
                # RuntimeError("can't allocate ...") rather than MemoryError.
                interpreter_own = isinstance(e, RuntimeError) and "can't allocate" in str(e)
                if c is None and not interpreter_own:
                    print("unexpected", k, repr(e))
                    raise SystemExit(1)
                continue
            finally:
                _testcapi.remove_mem_hooks()
            outcomes.add("ok")
        print(sorted(outcomes))
    """)
    assert result.returncode == 0, result.stdout + result.stderr
