"""The shared pickle support, run on the test-only module velmora._pickle_probe:
`Probe` (base object, no instance dictionary) has a member of every kind,
`ProbeError` is an exception type without fields."""

import builtins
import copy
import datetime
import enum
import pickle

import pytest

probe = pytest.importorskip("velmora._pickle_probe")
Probe = probe.Probe
ProbeError = probe.ProbeError
unpickle_probe = probe.__pyx_unpickle_Probe
unpickle_error = probe.__pyx_unpickle_ProbeError

PROBE_SUMS = (0x4618793, 0x58AB46D, 0x264C93E)
EMPTY_SUMS = (0xE3B0C44, 0xDA39A3E, 0xD41D8CD)
PROBE_TEXT = "big, mode, obj, on, small, text, when"
FIELDS = ("big", "mode", "obj", "on", "small", "text", "when")
WHEN = datetime.datetime(2024, 5, 17, 8, 30)
FULL = (2**40, 7, ["payload"], True, -5, "hello", WHEN)


class Mode(enum.IntEnum):
    ZERO = 0
    SEVEN = 7


class SubProbe(Probe):
    pass


class SubWhen(datetime.datetime):
    pass


def fields(obj):
    return tuple(getattr(obj, name) for name in FIELDS)


def filled(cls=Probe, state=FULL):
    obj = cls()
    obj.__setstate__(state)
    return obj


# ---- installation -----------------------------------------------------------


def test_object_based_type_pickles_through_the_state_methods():
    assert Probe.__reduce__ is Probe.__dict__["__reduce_tavrin__"]
    assert Probe.__setstate__ is Probe.__dict__["__setstate_tavrin__"]


def test_exception_type_keeps_the_exception_protocol():
    assert ProbeError.__reduce__ is BaseException.__reduce__
    assert ProbeError.__setstate__ is BaseException.__setstate__
    assert "__reduce_tavrin__" in ProbeError.__dict__
    assert "__setstate_tavrin__" in ProbeError.__dict__


@pytest.mark.parametrize(
    "owner, method",
    [(Probe, "__reduce_tavrin__"), (Probe, "__setstate_tavrin__"),
     (ProbeError, "__reduce_tavrin__"), (ProbeError, "__setstate_tavrin__")],
)
def test_method_names(owner, method):
    function = getattr(owner, method)
    assert function.__name__ == method
    assert function.__qualname__ == f"{owner.__name__}.{method}"


@pytest.mark.parametrize("function, name", [(unpickle_probe, "__pyx_unpickle_Probe"),
                                            (unpickle_error, "__pyx_unpickle_ProbeError")])
def test_reconstructor_names(function, name):
    assert function.__name__ == function.__qualname__ == name
    assert function.__module__ == "velmora._pickle_probe"


def test_type_attributes_stay_read_only():
    with pytest.raises(TypeError):
        Probe.__reduce_tavrin__ = None
    with pytest.raises(TypeError):
        del Probe.__reduce__


# ---- reduce -----------------------------------------------------------------


def test_all_none_objects_give_the_direct_shape():
    assert Probe().__reduce__() == (
        unpickle_probe, (Probe, PROBE_SUMS[0], (0, 0, None, False, 0, None, None)))


@pytest.mark.parametrize("index, value", [(2, 0), (5, ""), (6, WHEN)])
def test_one_object_member_set_gives_the_deferred_shape(index, value):
    state = list(Probe().__reduce__()[1][2])
    state[index] = value
    obj = filled(state=tuple(state))
    assert obj.__reduce__() == (unpickle_probe, (Probe, PROBE_SUMS[0], None), tuple(state))


def test_state_items_are_converted_by_kind():
    state = filled().__reduce__()[2]
    assert state == FULL
    assert state[3] is True and type(state[0]) is int and type(state[1]) is int
    assert state[2] is FULL[2]


def test_enum_member_is_looked_up_at_call_time(monkeypatch):
    obj = filled()
    monkeypatch.setattr(probe, "ProbeMode", Mode)
    assert obj.__reduce__()[2][1] is Mode.SEVEN
    monkeypatch.delattr(probe, "ProbeMode")
    with pytest.raises(NameError, match="^name 'ProbeMode' is not defined$"):
        obj.__reduce__()


def test_subclass_instance_dictionary_rides_along():
    obj = SubProbe()
    obj.extra = 1
    assert obj.__reduce__() == (
        unpickle_probe, (SubProbe, PROBE_SUMS[0], None),
        (0, 0, None, False, 0, None, None, {"extra": 1}))
    assert SubProbe().__reduce__()[1][0] is SubProbe  # empty dict: direct shape


@pytest.mark.parametrize("attrs, expected", [
    ({}, (unpickle_error, (ProbeError, EMPTY_SUMS[0], ()))),
    ({"hint": 1}, (unpickle_error, (ProbeError, EMPTY_SUMS[0], None), ({"hint": 1},))),
])
def test_type_without_members(attrs, expected):
    error = ProbeError("message")
    error.__dict__.update(attrs)
    assert error.__reduce_tavrin__() == expected


def test_reconstructor_name_is_looked_up_at_call_time(monkeypatch):
    obj = Probe()
    sentinel = object()
    monkeypatch.setattr(probe, "__pyx_unpickle_Probe", sentinel)
    assert obj.__reduce__()[0] is sentinel
    monkeypatch.delattr(probe, "__pyx_unpickle_Probe")
    with pytest.raises(NameError, match="^name '__pyx_unpickle_Probe' is not defined$"):
        obj.__reduce__()
    monkeypatch.setattr(builtins, "__pyx_unpickle_Probe", sentinel, raising=False)
    assert obj.__reduce__()[0] is sentinel


# ---- set-state and apply state ----------------------------------------------


def test_setstate_by_keyword_and_return_value():
    obj = Probe()
    assert obj.__setstate__(__pyx_state=FULL) is None
    assert fields(obj) == FULL[:3] + (1,) + FULL[4:]


@pytest.mark.parametrize("state, error, text", [
    (None, TypeError, "cannot pass None into a C function argument that is declared 'not None'"),
    (list(FULL), TypeError, "Expected tuple, got list"),
    (type("T", (tuple,), {})(FULL), TypeError, "Expected tuple, got T"),
    (FULL[:6], IndexError, "tuple index out of range"),
])
def test_setstate_refuses_and_changes_nothing(state, error, text):
    obj = Probe()
    before = fields(obj)
    with pytest.raises(error, match=f"^{text}$"):
        obj.__setstate__(state)
    assert fields(obj) == before


@pytest.mark.parametrize("index, value, error, text", [
    (0, "x", TypeError, "an integer is required"),
    (0, 2**63, OverflowError, None),
    (1, -1, OverflowError, "can't convert negative value to __pyx_t_7velmora_12_pickle_probe_Mode"),
    (1, 2**32, OverflowError, "value too large to convert to __pyx_t_7velmora_12_pickle_probe_Mode"),
    (4, 2**31, OverflowError, "value too large to convert to int"),
    (4, 2**60, OverflowError, None),
    (5, b"bytes", TypeError, "Expected str, got bytes"),
    (5, type("S", (str,), {})("sub"), TypeError, "Expected str, got S"),
    (6, datetime.date(2024, 1, 1), TypeError, "Cannot convert datetime.date to datetime.datetime"),
])
def test_first_failing_item_stops_later_members_keep_old_values(index, value, error, text):
    obj = Probe()
    old = fields(obj)
    state = list(FULL)
    state[index] = value
    with pytest.raises(error) as info:
        obj.__setstate__(tuple(state))
    if text is not None:
        assert str(info.value) == text
    assert fields(obj)[:index] == FULL[:index]
    assert fields(obj)[index:] == old[index:]


@pytest.mark.parametrize("index, value, stored", [
    (0, 3.9, 3), (0, True, 1), (1, Mode.SEVEN, 7), (1, 2**32 - 1, 2**32 - 1),
    (3, None, 0), (3, "yes", 1), (4, -7.5, -7), (6, SubWhen(2024, 1, 1), SubWhen(2024, 1, 1)),
])
def test_conversions_on_apply(index, value, stored):
    state = list(FULL)
    state[index] = value
    assert fields(filled(state=tuple(state)))[index] == stored


def test_truth_test_error_of_a_flag_propagates():
    class Bad:
        def __bool__(self):
            raise ZeroDivisionError

    with pytest.raises(ZeroDivisionError):
        Probe().__setstate__(FULL[:3] + (Bad(),) + FULL[4:])


@pytest.mark.parametrize("extra", [{}, 0, None, (), ""])
def test_false_extra_item_is_ignored(extra):
    obj = Probe()
    obj.__setstate__(FULL + (extra,))
    assert fields(obj)[0] == FULL[0]


def test_items_after_the_extra_item_are_ignored():
    obj = SubProbe()
    obj.__setstate__(FULL + ({"a": 1}, {"b": 2}, "junk"))
    assert obj.__dict__ == {"a": 1}


def test_plain_instance_refuses_a_dictionary_item_after_all_fields():
    obj = Probe()
    with pytest.raises(AttributeError, match="has no attribute '__dict__'"):
        obj.__setstate__(FULL + ({"a": 1},))
    assert fields(obj)[:3] == FULL[:3]
    assert obj.when == WHEN


def test_extra_item_update_merges_into_the_instance_dictionary():
    obj = SubProbe()
    obj.keep = 1
    obj.__setstate__(FULL + ({"a": 2},))
    assert obj.__dict__ == {"keep": 1, "a": 2}
    with pytest.raises((TypeError, AttributeError, ValueError)):
        obj.__setstate__(FULL + ([1],))


def test_extra_item_goes_through_update_unless_the_dictionary_is_exactly_a_dict():
    class Recorder(dict):
        def update(self, other):
            calls.append(other)

    class Custom(Probe):
        @property
        def __dict__(self):
            return recorder

    calls, recorder, extra = [], Recorder(), {"a": 1}
    Custom().__setstate__(FULL + (extra,))
    assert calls == [extra] and recorder == {}


# ---- reconstructor ----------------------------------------------------------


@pytest.mark.parametrize("checksum", PROBE_SUMS)
def test_reconstructor_accepts_each_checksum(checksum):
    obj = unpickle_probe(Probe, checksum, FULL)
    assert type(obj) is Probe
    assert fields(obj)[0] == FULL[0]


def test_reconstructor_with_none_state_gives_allocation_values():
    obj = unpickle_probe(Probe, PROBE_SUMS[0], None)
    assert fields(obj) == (0, 0, None, 0, 0, None, None)


def test_reconstructor_rebuilds_a_subclass():
    obj = unpickle_probe(__pyx_type=SubProbe, __pyx_checksum=PROBE_SUMS[1],
                         __pyx_state=FULL + ({"z": 1},))
    assert type(obj) is SubProbe and obj.z == 1


@pytest.mark.parametrize("checksum, shown", [
    (1, "0x1"), (-1, "0xffffffff"), (2**32 + 0x10, "0x10"), (EMPTY_SUMS[0], "0xe3b0c44"),
])
def test_reconstructor_refuses_other_checksums(checksum, shown):
    text = (f"Incompatible checksums ({shown} vs (0x4618793, 0x58ab46d, 0x264c93e) = "
            f"({PROBE_TEXT}))")
    with pytest.raises(pickle.PickleError) as info:
        unpickle_probe(Probe, checksum, None)
    assert str(info.value) == text


def test_checksum_goes_through_the_integer_conversion():
    assert type(unpickle_probe(Probe, float(PROBE_SUMS[0]) + 0.5, None)) is Probe
    with pytest.raises(TypeError, match="^an integer is required$"):
        unpickle_probe(Probe, "0x4618793", None)


@pytest.mark.parametrize("state, got", [(list(FULL), "list"), ({}, "dict"),
                                        (type("T", (tuple,), {})(), "T")])
def test_reconstructor_state_type(state, got):
    text = f"Argument '__pyx_state' has incorrect type (expected tuple, got {got})"
    with pytest.raises(TypeError) as info:
        unpickle_probe(Probe, PROBE_SUMS[0], state)
    assert str(info.value) == text


def test_reconstructor_refuses_a_foreign_type():
    with pytest.raises(TypeError) as info:
        unpickle_probe(int, PROBE_SUMS[0], FULL)
    assert str(info.value) == (
        "velmora._pickle_probe.Probe.__new__(int): int is not a subtype of "
        "velmora._pickle_probe.Probe")
    with pytest.raises(TypeError) as info:
        unpickle_probe(5, PROBE_SUMS[0], None)
    assert str(info.value) == "velmora._pickle_probe.Probe.__new__(X): X is not a type object (int)"


# ---- argument binding -------------------------------------------------------


@pytest.mark.parametrize("call, text", [
    (lambda: Probe().__reduce__(1), "__reduce_tavrin__() takes exactly 0 positional arguments (1 given)"),
    (lambda: Probe().__reduce__(x=1), "__reduce_tavrin__() got an unexpected keyword argument 'x'"),
    (lambda: ProbeError().__reduce_tavrin__(1, 2), "__reduce_tavrin__() takes exactly 0 positional arguments (2 given)"),
    (lambda: Probe().__setstate__(), "__setstate_tavrin__() takes exactly 1 positional argument (0 given)"),
    (lambda: Probe().__setstate__(FULL, FULL), "__setstate_tavrin__() takes exactly 1 positional argument (2 given)"),
    (lambda: Probe().__setstate__(state=FULL), "__setstate_tavrin__() takes exactly 1 positional argument (0 given)"),
    (lambda: Probe().__setstate__(FULL, __pyx_state=FULL), "__setstate_tavrin__() got multiple values for keyword argument '__pyx_state'"),
    (lambda: unpickle_probe(Probe, 1), "__pyx_unpickle_Probe() takes exactly 3 positional arguments (2 given)"),
    (lambda: unpickle_probe(Probe, 1, None, None), "__pyx_unpickle_Probe() takes exactly 3 positional arguments (4 given)"),
    (lambda: unpickle_probe(Probe, 1, None, x=1), "__pyx_unpickle_Probe() got an unexpected keyword argument 'x'"),
    (lambda: unpickle_probe(Probe, 1, None, __pyx_type=Probe), "__pyx_unpickle_Probe() got multiple values for keyword argument '__pyx_type'"),
    (lambda: unpickle_error(**{"__pyx_type": ProbeError, "__pyx_checksum": 1}), "__pyx_unpickle_ProbeError() takes exactly 3 positional arguments (2 given)"),
])
def test_argument_errors(call, text):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == text


def test_methods_refuse_an_instance_of_another_type():
    with pytest.raises(TypeError, match="doesn't apply to a 'ValueError' object"):
        Probe.__setstate_tavrin__(ValueError(), FULL)
    with pytest.raises(TypeError, match="doesn't apply to a 'int' object"):
        ProbeError.__reduce_tavrin__(5)


# ---- pickle and copy ---------------------------------------------------------


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
@pytest.mark.parametrize("state", [FULL, (0, 0, None, False, 0, None, None)])
def test_pickle_round_trip(protocol, state):
    obj = filled(state=state)
    again = pickle.loads(pickle.dumps(obj, protocol))
    assert type(again) is Probe and fields(again) == fields(obj)


@pytest.mark.parametrize("protocol", range(pickle.HIGHEST_PROTOCOL + 1))
def test_pickle_round_trip_of_a_subclass_with_attributes(protocol):
    obj = filled(SubProbe)
    obj.tag = ("t", 1)
    again = pickle.loads(pickle.dumps(obj, protocol))
    assert type(again) is SubProbe and again.tag == ("t", 1) and fields(again) == fields(obj)


def test_copy_shares_the_field_objects():
    obj = filled()
    shallow = copy.copy(obj)
    assert shallow is not obj and shallow.obj is obj.obj and shallow.when is obj.when
    deep = copy.deepcopy(obj)
    assert deep.obj == obj.obj and deep.obj is not obj.obj



class KeysAndItems:
    """A mapping by protocol only: keys() and item lookup."""

    def keys(self):
        return ["m"]

    def __getitem__(self, key):
        return key * 2


@pytest.mark.parametrize("extra", [
    [("a", 1)], (("a", 1), ["b", 2]), KeysAndItems(), {"a": 1}, [1], [("a", 1, 2)], 5,
])
def test_extra_item_is_read_as_dict_update_reads_it_whatever_the_dictionary_type(extra):
    class DictSubclass(dict):
        pass

    def outcome(dictionary):
        error = ProbeError()
        if dictionary is not None:
            error.__dict__ = dictionary
        try:
            error.__setstate_tavrin__((extra,))
        except Exception as failure:
            return type(failure), str(failure)
        return dict(error.__dict__)

    def reference():
        target = {}
        try:
            target.update(extra)
        except Exception as failure:
            return type(failure), str(failure)
        return target

    assert outcome(None) == outcome({}) == outcome(DictSubclass()) == reference()
