"""The next __init__ in the MRO is found anew whenever a class changes."""

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
