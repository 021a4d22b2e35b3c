"""The next __init__ in the MRO is found anew whenever a class changes."""

import pytest

import velmora.exceptions as exc


def test_python_init_between_module_classes_runs():
    class Between(exc.HTTPException):
        def __init__(self, *args):
            self.seen = args
            super().__init__(*args)

    class Leaf(exc.NotFound, Between):
        pass

    leaf = Leaf("m")
    assert (leaf.seen, leaf.args, leaf.status) == ((404, "m"), ("m",), 404)


def test_init_added_and_removed_after_first_use():
    class Middle(exc.HTTPException):
        pass

    class Leaf(exc.NotFound, Middle):
        pass

    assert Leaf().args == ("Not found",)
    Middle.__init__ = lambda self, status, message: exc.HTTPException.__init__(
        self, status, message.upper()
    )
    assert Leaf().args == ("NOT FOUND",)
    del Middle.__init__
    assert Leaf().args == ("Not found",)


class Refusing(Exception):
    def __init__(self, *args):
        raise LookupError("refused by the next __init__")


@pytest.mark.parametrize("base, args, fields", [
    (exc.HTTPException, (404, "m"), ("status",)),
    (exc.NotFound, ("m",), ("status",)),
    (exc.BadRequestFormat, ("m", ValueError()), ("status", "inner_exception")),
    (exc.InternalServerError, (KeyError("k"),), ("status", "source_error")),
    (exc.UnprocessableEntity, ("m", {"a": 1}), ("status", "details")),
    (exc.FailedRequestError, (502, "body"), ("status", "data")),
])
def test_failing_next_init_propagates_its_error_and_stores_nothing(base, args, fields):
    leaf = type("Leaf", (base, Refusing), {})
    instance = leaf.__new__(leaf)
    before = {name: getattr(instance, name) for name in fields}
    with pytest.raises(LookupError, match="^refused by the next __init__$"):
        instance.__init__(*args)
    assert {name: getattr(instance, name) for name in fields} == before
    assert instance.args == ()
