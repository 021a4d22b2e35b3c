"""Every state of what the standard functions read, velmora against them.

standard_reads.py finds, by running the standard functions that velmora's
fast paths stand in for, what each of them reads: namespace entries (module
globals, builtins, sys.modules, instance dictionaries), functions and tables.
Each row here puts one of those into one state (rebound to an equivalent copy
or to something that behaves differently, deleted, shadowed by a new global,
rebound through an equal key that is not the same object or through a key of a
str subclass, a function's defaults or code changed, a table changed in place,
a namespace cleared), compares velmora with the standard function in that
state (value and type, or exception type and message), restores the state and
compares again. The derived dependencies name the rows, so a dependency that a
new CPython adds shows up as new rows.

States velmora cannot follow back (it stops trusting the fast path for good)
and states of the builtins or sys.modules run in a forked child, so that every
row starts from a process whose fast paths are on; the other rows run here and
check that the fast path is taken again once the state is restored.
"""

import ast
import builtins
import copy
import datetime
import json
import os
import re
import subprocess
import sys
import tracemalloc
import traceback
import types
from pathlib import Path

import pytest

import standard_reads
import velmora.cookies as cookies
from standard_reads import FAST_PATHS, TEMPLATE, namespace, resolve, strftime_value
from velmora.cookies import Cookie, parse_cookie

capi = pytest.importorskip("velmora._velmora_capi_test")


def _derive():
    """The dependency list, found in a fresh interpreter (or handed down by
    the test that runs rows in one)."""
    if "VELMORA_CAMPAIGN_DERIVED" in os.environ:
        return json.loads(os.environ["VELMORA_CAMPAIGN_DERIVED"])
    script = Path(standard_reads.__file__)
    done = subprocess.run([sys.executable, str(script)], capture_output=True, text=True,
                          check=True, cwd=script.parent, timeout=120)
    return json.loads(done.stdout)


DERIVED = _derive()

# ---- Velmora and the standard function, called alike ------------------------------

# Bound once: rows that delete or replace builtins must not need them here.
NS = vars(cookies)
BUILTINS = vars(builtins)
MISSING = object()
_NameError, _TypeError, _BaseException = NameError, TypeError, BaseException
_isinstance, _type, _datetime_type = isinstance, type, datetime.datetime


def lookup(name):
    """A module-level name of velmora.cookies as its functions look it up."""
    found = NS.get(name, MISSING)
    if found is MISSING:
        found = BUILTINS.get(name, MISSING)
        if found is MISSING:
            raise _NameError(f"name '{name}' is not defined")
    return found


def write_standard(text):
    """quote(name).encode() + b"=" + quote(value).encode(), quote looked up per use."""
    name = lookup("quote")(text).encode()
    return name + b"=" + lookup("quote")(text).encode()


def write_velmora(text):
    return capi.write_cookie_for_response(Cookie(text, text))


def parse_standard(text):
    cookie = Cookie(lookup("unquote")(text), lookup("unquote")(text))
    return (cookie.name, cookie.value)


def parse_velmora(text):
    cookie = parse_cookie(f"{text}={text}".encode())
    return (cookie.name, cookie.value)


def date_standard(text):
    naive = lookup("parsedate_to_datetime")(text).replace(tzinfo=None)
    if naive is not None and not _isinstance(naive, _datetime_type):
        raise _TypeError(f"Cannot convert {_type(naive).__name__} to datetime.datetime")
    return naive


def date_velmora(text):
    return capi.datetime_from_cookie_format(text.encode())


# The calling code of strftime: compiled in a namespace of its own, so that
# rows can give it its own builtins.
CALLING = """
def standard(value):
    text = value.strftime(TEMPLATE).encode()
    if type(text) is not bytes and text is not None:
        raise TypeError(f"Expected bytes, got {type(text).__name__}")
    return text

def velmora(value):
    return format(value)
"""


def calling_code(builtins_namespace):
    space = {"__builtins__": builtins_namespace, "TEMPLATE": TEMPLATE,
             "format": capi.datetime_to_cookie_format}
    exec(CALLING, space)
    return space


CALLER = calling_code(builtins)


class FastPath:
    """A fast path's two sides, called alike on the inputs it accepts."""

    def __init__(self, name, velmora, standard):
        self.velmora, self.standard = velmora, standard
        self.inputs = FAST_PATHS[name]["inputs"]
        self.code = None  # the standard function's code, where it is Python
        if name == "strftime":
            self.inputs = [strftime_value(fields) for fields in self.inputs]
        else:
            self.code = resolve(FAST_PATHS[name]["standard"]).__code__

    def calls(self, caller=None):
        velmora, standard = self.velmora, self.standard
        if caller is not None:
            velmora, standard = caller["velmora"], caller["standard"]
        return [(f, x) for x in self.inputs for f in (velmora, standard)]

    def taken(self):
        """Whether velmora answers every input by its fast path: without
        running the standard function's Python code, or, for the C strftime,
        without the allocations of strftime's own work (a struct_time, the
        format, the text: thousands of bytes where the fast path allocates
        its result alone)."""
        if self.code is None:
            return all(allocated(self.velmora, x) < 1024 for x in self.inputs)
        ran = []
        monitoring = sys.monitoring
        tool = monitoring.PROFILER_ID
        monitoring.use_tool_id(tool, "velmora campaign")
        monitoring.register_callback(tool, monitoring.events.PY_START,
                                     lambda code, offset: ran.append(code))
        monitoring.set_local_events(tool, self.code, monitoring.events.PY_START)
        try:
            for x in self.inputs:
                self.velmora(x)
            return not ran
        finally:
            monitoring.set_local_events(tool, self.code, 0)
            monitoring.register_callback(tool, monitoring.events.PY_START, None)
            monitoring.free_tool_id(tool)


def allocated(function, argument):
    """The most memory a call holds at once, in bytes."""
    started = not tracemalloc.is_tracing()
    if started:
        tracemalloc.start()
    try:
        tracemalloc.reset_peak()
        before = tracemalloc.get_traced_memory()[0]
        function(argument)
        return tracemalloc.get_traced_memory()[1] - before
    finally:
        if started:
            tracemalloc.stop()


PATHS = {
    "quote": FastPath("quote", write_velmora, write_standard),
    "unquote": FastPath("unquote", parse_velmora, parse_standard),
    "parsedate": FastPath("parsedate", date_velmora, date_standard),
    "strftime": FastPath("strftime", CALLER["velmora"], CALLER["standard"]),
}


def capture(calls):
    """Raw outcomes, without reading a builtin: the state may lack them."""
    results = []
    append = results.append
    for function, argument in calls:
        try:
            append((True, function(argument)))
        except _BaseException as error:
            append((False, error))
    return results


def shown(outcome):
    ok, value = outcome
    if not ok:
        return ("error", type(value), str(value))
    if isinstance(value, datetime.datetime):
        return ("ok", type(value), value, value.tzinfo)
    return ("ok", type(value), value)


def compared(outcomes, when):
    """Velmora's outcome (even places) against the standard one (odd)."""
    pairs = [(shown(v), shown(s)) for v, s in zip(outcomes[::2], outcomes[1::2])]
    for velmora, standard in pairs:
        assert velmora == standard, f"{when}: velmora {velmora} != standard {standard}"
    return [s for _, s in pairs]


# ---- States ----------------------------------------------------------------------


class Raising:
    """Stands for a callable that behaves differently: it raises."""

    def __init__(self, name):
        self.name = name

    def __call__(self, *args, **kwargs):
        raise RuntimeError(f"{self.name} replaced")

    def __bool__(self):
        raise RuntimeError(f"truth of {self.name}")


class StrKey(str):
    pass


class BytesKey(bytes):
    pass


class IntKey(int):
    pass


def equal_key(key):
    """An equal key that is not the same object (built at run time)."""
    if isinstance(key, str):
        return "".join(list(key))
    if isinstance(key, bytes):
        return bytes(bytearray(key))
    return key


def subclass_key(key):
    return {str: StrKey, bytes: BytesKey, int: IntKey}[type(key)](key)


def equivalent(value, name=None):
    """An object that acts as `value` does, but is not it."""
    if isinstance(value, types.FunctionType):
        twin = types.FunctionType(value.__code__, value.__globals__, value.__name__,
                                  value.__defaults__, value.__closure__)
        twin.__kwdefaults__ = copy.copy(value.__kwdefaults__)
        twin.__qualname__ = value.__qualname__
        return twin
    if isinstance(value, type) and value.__flags__ & (1 << 10):  # Py_TPFLAGS_BASETYPE
        return type(value.__name__, (value,), {})
    if isinstance(value, types.ModuleType):
        twin = types.ModuleType(value.__name__)
        vars(twin).update(vars(value))
        return twin
    if callable(value) and not isinstance(value, re.Pattern):
        def forward(*args, **kwargs):
            return value(*args, **kwargs)
        return forward
    if isinstance(value, (str, bytes)) and len(value) > 1:
        return value[:1] + value[1:]
    if isinstance(value, frozenset):
        return frozenset(list(value))
    if isinstance(value, re.Pattern):
        return re.compile(f"(?:{value.pattern})", value.flags)
    return copy.copy(value)


def different(value, name="it"):
    """An object of the same kind as `value` that behaves differently."""
    if isinstance(value, bool):
        return Raising(name)
    if isinstance(value, int):
        return value + 2400
    if isinstance(value, (str, bytes)):
        x = "x" if isinstance(value, str) else b"x"
        y = "y" if isinstance(value, str) else b"y"
        return (y if value == x * len(value) else x) * len(value)
    if isinstance(value, (frozenset, set)):
        return type(value)(sorted(value)[: len(value) // 2])
    if isinstance(value, list):
        return value[::-1]
    if isinstance(value, dict):
        return {k: different(v) for k, v in value.items()}
    if isinstance(value, re.Pattern):
        return re.compile("(x)")
    if isinstance(value, types.ModuleType):
        return types.ModuleType(value.__name__)
    if callable(value):
        return Raising(name)
    return object()


def own_key(space, key):
    """The key object the namespace holds for `key`."""
    return next((k for k in space if k == key), key)


def set_entry(space, key, value):
    """Binds key to value; returns the undo."""
    key = own_key(space, key)
    old = space.get(key, MISSING)

    def undo():
        space.pop(key, None)
        if old is not MISSING:
            space[key] = old
    space[key] = value
    return undo


class Row:
    """One (dependency, state) of one fast path. `apply` sets the state and
    returns its undo; a list of them sets states one after the other, each
    compared in turn (the calls made from `caller`, a namespace of calling
    code, when given)."""

    def __init__(self, path, dependency, state, apply, forked=False, caller=None):
        self.path, self.forked, self.caller = path, forked, caller
        self.states = apply if isinstance(apply, list) else [apply]
        self.dependency = dependency.replace(":", ".")
        self.id = f"{path}:{self.dependency}:{state}"


def space_of(ns):
    """A namespace by its path; the calling code's builtins are, for code
    that has none of its own, the builtins' namespace."""
    return BUILTINS if ns == "calling code" else namespace(ns)


def entry_rows(path, ns, key, forked):
    def space():
        return space_of(ns)

    def bind(make):
        def apply():
            s = space()
            return set_entry(s, key, make(s[key], key))
        return apply

    def delete():
        s = space()
        k = own_key(s, key)
        old = s.pop(k)
        return lambda: s.__setitem__(k, old)

    def through(make_key):
        def apply():
            s = space()
            k = own_key(s, key)
            old = s[k]
            s[make_key(key)] = different(old, key)
            return lambda: s.__setitem__(k, old)
        return apply

    dependency = f"{ns}.{key}"
    yield Row(path, dependency, "copy", bind(equivalent), forked)
    yield Row(path, dependency, "other", bind(different), forked)
    yield Row(path, dependency, "deleted", delete, forked)
    yield Row(path, dependency, "equal-key", through(equal_key), forked)
    yield Row(path, dependency, "str-subclass-key", through(subclass_key), True)


def shadow_rows(path, dotted):
    module, _, name = dotted.rpartition(".")
    for state, make in (("copy", equivalent), ("other", different)):
        yield Row(path, f"{module}.{name}", f"shadowed-{state}",
                  lambda make=make: set_entry(namespace(module), name,
                                              make(BUILTINS[name], name)))


def cleared_row(path, ns):
    def apply():
        space = space_of(ns)
        saved = dict(space)
        space.clear()

        def undo():
            space.clear()
            space.update(saved)
        return undo
    return Row(path, ns, "cleared", apply, forked=True)


# Default values tried in turn until one changes the standard result.
DEFAULT_CANDIDATES = ("ascii", "strict", "", "latin-1", 0)


def function_rows(path, where):
    def function():
        return resolve(where)

    def attribute(name, make):
        def apply():
            f = function()
            old = getattr(f, name)
            setattr(f, name, make(f))
            return lambda: setattr(f, name, old)
        return apply

    def changed_default(i):
        def make(f):
            defaults = list(f.__defaults__)
            calls = PATHS[path].calls()
            before = [shown(o) for o in capture(calls)[1::2]]
            for candidate in DEFAULT_CANDIDATES:
                if candidate == defaults[i]:
                    continue
                f.__defaults__ = (*defaults[:i], candidate, *defaults[i + 1:])
                try:
                    if [shown(o) for o in capture(calls)[1::2]] != before:
                        break
                finally:
                    f.__defaults__ = tuple(defaults)
            return (*defaults[:i], candidate, *defaults[i + 1:])
        return make

    def raising_code(f):
        # Same free variables, so that the code can be assigned.
        names = f.__code__.co_freevars
        outer = "\n".join([f"def outer({', '.join(names)}):",
                           "    def inner(*args, **kwargs):",
                           *[f"        {n}" for n in names],
                           f"        raise RuntimeError('code of {where} replaced')",
                           "    return inner"])
        space = {}
        exec(outer, space)
        return space["outer"](*range(len(names))).__code__

    f = resolve(where)
    for i in range(len(f.__defaults__ or ())):
        yield Row(path, where, f"defaults-{i}", attribute("__defaults__", changed_default(i)),
                  True)
    if f.__defaults__:
        yield Row(path, where, "defaults-removed", attribute("__defaults__", lambda f: None), True)
    yield Row(path, where, "kwdefaults", attribute(
        "__kwdefaults__", lambda f: {**(f.__kwdefaults__ or {}), "velmora_probe": 0}), True)
    yield Row(path, where, "code-copy", attribute("__code__", lambda f: f.__code__.replace()),
              True)
    yield Row(path, where, "code-other", attribute("__code__", raising_code), True)


def table_rows(path, where, keys):
    def table():
        return standard_reads.resolve_table(where)

    def item(key, make_key=lambda key: key):
        """The item set to a different value, through the key or another."""
        def apply():
            t = table()
            old = t[key]
            t[make_key(key)] = different(old)
            return lambda: t.__setitem__(key, old)
        return apply

    def whole(change):
        def apply():
            t = table()
            saved = copy.copy(t)
            change(t)

            def undo():
                t.clear()
                t.update(saved) if isinstance(t, dict) else t.extend(saved)
            return undo
        return apply

    def deleted(key):
        def apply():
            t = table()
            old = t.pop(key)
            return lambda: t.__setitem__(key, old)
        return apply

    def added(key):
        def apply():
            t = table()
            t[key] = different(next(iter(t.values())))
            return lambda: t.pop(key)
        return apply

    is_dict = isinstance(table(), dict)
    # A cache held across calls, once changed, is not trusted again.
    cache = where.endswith(">")
    for text in keys:
        key = ast.literal_eval(text)
        dependency = f"{where}[{text}]"
        if is_dict and key not in table():  # looked up, not there
            yield Row(path, dependency, "added", added(key))
            continue
        yield Row(path, dependency, "changed", item(key), cache)
        if is_dict:
            yield Row(path, dependency, "deleted", deleted(key), cache)
            yield Row(path, dependency, "equal-key", item(key, equal_key), cache)
            yield Row(path, dependency, "subclass-key", item(key, subclass_key), True)
    if not is_dict:
        yield Row(path, where, "inserted-first", whole(lambda t: t.insert(0, different(t[0]))))
    yield Row(path, where, "cleared", whole(lambda t: t.clear()), True)
    if cache:
        yield Row(path, where, "renewed-then-changed", renewed_then_changed(where, keys), True)


def renewed_then_changed(where, keys):
    """A cache held across calls dropped by the caches of its module (each
    cache_clear), then the new one that the standard function makes changed."""

    def apply():
        module = sys.modules[where.partition(":")[0]]
        for value in list(vars(module).values()):
            if callable(getattr(value, "cache_clear", None)):
                value.cache_clear()
        t = standard_reads.resolve_table(where)
        key = ast.literal_eval(keys[0])
        old = t[key]
        t[key] = different(old)
        return lambda: t.__setitem__(key, old)
    return apply


def velmora_rows(path, name):
    yield from entry_rows(path, "velmora.cookies", name, False)
    yield Row(path, f"velmora.cookies.{name}", "found-among-builtins",
              lambda: _moved_to_builtins(name))
    yield cleared_row(path, "velmora.cookies")


def _moved_to_builtins(name):
    old = NS.pop(name)
    BUILTINS[name] = old

    def undo():
        del BUILTINS[name]
        NS[name] = old
    return undo


def value_rows():
    """The datetime's own attributes that strftime reads: only a subclass
    can change them."""
    for attribute in DERIVED["strftime"]["value attributes"]:
        for state, body in (("copy", lambda self, a=attribute: getattr(super(Sub, self), a)()),
                            ("other", lambda self: datetime.datetime(2001, 2, 3).timetuple())):
            Sub = type("Sub", (datetime.datetime,), {attribute: body})

            def apply(Sub=Sub):
                path = PATHS["strftime"]
                saved = path.inputs
                path.inputs = [Sub(*v.timetuple()[:6], tzinfo=v.tzinfo) for v in saved]
                return lambda: setattr(path, "inputs", saved)
            yield Row("strftime", f"value.{attribute}", state, apply)


def own_builtins_rows():
    """Code run with builtins of its own: datetime.strftime imports the time
    module through the __import__ of its caller's __builtins__. Each row
    gives the same calling code one set of builtins after another."""
    stand_in = types.ModuleType("time")
    stand_in.strftime = lambda template, fields: "formatted elsewhere"
    stand_in.struct_time = sys.modules["time"].struct_time

    def importing(time_module):
        def __import__(name, *args, **kwargs):
            if name != "time":
                return builtins.__import__(name, *args, **kwargs)
            if time_module is None:
                raise ImportError("time refused")
            return time_module
        return __import__

    refusing = {**BUILTINS, "__import__": importing(None)}
    other = {**BUILTINS, "__import__": importing(stand_in)}
    same = {**BUILTINS, "__import__": importing(sys.modules["time"])}
    sequences = {
        "refusing-then-another": [refusing, other, BUILTINS, builtins],
        "standard-then-refusing": [BUILTINS, refusing, builtins, other],
        "own-copy-then-changed-in-place": [same, ("__import__", importing(None)),
                                           ("__import__", importing(stand_in))],
    }
    for name, sequence in sequences.items():
        caller = calling_code(builtins)

        def step(state, caller=caller):
            def apply():
                if isinstance(state, tuple):  # the same dictionary, changed
                    caller["__builtins__"][state[0]] = state[1]
                else:
                    caller["__builtins__"] = state
                return lambda: caller.__setitem__("__builtins__", builtins)
            return apply
        yield Row("strftime", "calling code.__builtins__", name, [step(s) for s in sequence],
                  caller=caller)


def campaign():
    # Tables the standard functions build on first use are built first.
    for path in PATHS.values():
        capture(path.calls())
    rows = []
    for path, found in sorted(DERIVED.items()):
        name = FAST_PATHS[path]["name in velmora"]
        if name:
            rows += velmora_rows(path, name)
        for ns, keys in found["namespaces"].items():
            risky = ns in ("builtins", "sys.modules", "calling code")
            for key in keys:
                rows += entry_rows(path, ns, key, risky)
            rows.append(cleared_row(path, ns))
        for dotted in found.get("shadowable", []):
            rows += shadow_rows(path, dotted)
        for where in found.get("functions", []):
            rows += function_rows(path, where)
        for where, keys in found.get("tables", {}).items():
            rows += table_rows(path, where, keys)
    rows += value_rows()
    rows += own_builtins_rows()
    return rows


ROWS = campaign()


def run_row(row):
    """The body of a row; returns nothing or raises AssertionError."""
    path = PATHS[row.path]
    assert path.taken(), "the fast path is off before the state is set"
    expected = compared(capture(path.calls()), "before")
    last = len(row.states) - 1  # not while the state may lack len
    for step, apply in enumerate(row.states):
        undo = apply()
        try:
            during = capture(path.calls(row.caller))
        finally:
            if step == last:
                undo()
        compared(during, f"in state {step}")
    assert compared(capture(path.calls()), "restored") == expected
    if not row.forked:
        assert path.taken(), "the fast path stays off once the state is restored"


def in_child(body):
    """Runs body() in a forked child; its failure text, or ''."""
    read_end, write_end = os.pipe()
    pid = os.fork()
    if pid == 0:
        os.close(read_end)
        try:
            body()
            text = ""
        except BaseException as error:  # noqa: BLE001 - every failure is reported
            text = "".join(traceback.format_exception(error)) or repr(error)
        os.write(write_end, text.encode(errors="replace"))
        os._exit(0)
    os.close(write_end)
    chunks = []
    while chunk := os.read(read_end, 65536):
        chunks.append(chunk)
    os.close(read_end)
    _, status = os.waitpid(pid, 0)
    assert status == 0, f"the child died with status {status}"
    return b"".join(chunks).decode()


@pytest.mark.parametrize("row", ROWS, ids=[r.id for r in ROWS])
def test_state(row):
    if row.forked:
        failure = in_child(lambda: run_row(row))
        assert not failure, failure
    else:
        run_row(row)


# Tables a standard function builds on first use, as velmora finds them when
# they already exist at its import: their rows, in an interpreter that
# builds them before importing velmora.
BUILT_FIRST = [(path, lazy) for path, found in sorted(DERIVED.items())
               for lazy in found.get("lazy", [])]


@pytest.mark.parametrize("path, table", BUILT_FIRST, ids=[t for _, t in BUILT_FIRST])
def test_table_built_before_import(path, table, python_subprocess):
    done = python_subprocess(f"""
        import sys
        sys.path.insert(0, {str(Path(__file__).parent)!r})
        import standard_reads
        spec = standard_reads.FAST_PATHS[{path!r}]
        function = standard_reads.resolve(spec["standard"])
        for text in spec["inputs"]:
            function(text)
        import test_environment_campaign as campaign
        rows = [r for r in campaign.ROWS
                if r.path == {path!r} and r.dependency.startswith({table!r} + "[")]
        assert rows
        for row in rows:
            failure = campaign.in_child(lambda: campaign.run_row(row))
            assert not failure, row.id + ": " + failure
        print(len(rows))
        """, env={"VELMORA_CAMPAIGN_DERIVED": json.dumps(DERIVED)})
    assert done.returncode == 0, done.stderr
