"""What the standard functions behind velmora's fast paths read, found by running them.

Each native fast path of velmora.cookies stands in for a standard function:
urllib.parse.quote and unquote, email.utils.parsedate_to_datetime, and the
time.strftime that datetime.strftime calls. The fast path is right only while
everything that function reads is as it was at import. This module finds that
set by running the function on the inputs the fast path accepts, in a fresh
interpreter (`python standard_reads.py` prints it as JSON), so that lazily
built tables are built while it watches:

- the Python functions, traced with sys.monitoring, instruction by
  instruction: every global they read (and where it was found: the module's
  namespace or the builtins), every attribute of a module they read through a
  global, every global they assign (lazily built tables), every function that
  runs, every mutable container that a function's locals hold on two runs
  alike (a cache that outlives the call, such as the quoter of quote), and
  the instance attributes read from such a container;
- which keys of each table are read: the table is swapped for a recording
  copy while the inputs run again;
- datetime.strftime, which is C: what it reads is seen from outside. It runs
  in code whose builtins hold a recording __import__ (which names it imports),
  with a recording stand-in in sys.modules for the module it imports (which
  attributes it reads there, and from the objects those hold), on a datetime
  subclass that records its own attribute reads.

Paths name the objects: "urllib.parse" is a module's namespace,
"urllib.parse:_Quoter.__missing__" an attribute chain from a module,
"urllib.parse:quote_from_bytes<quoter>" a container held by a local of that
function, "builtins" the builtins' namespace, "sys.modules" the module table
and "calling code" the builtins of the code that calls datetime.strftime.
"""

import builtins
import datetime
import dis
import email.utils
import json
import sys
import types
import urllib.parse

TEMPLATE = "%a, %d %b %Y %H:%M:%S GMT"
MONTHS = ("Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec")

# The inputs each fast path accepts, chosen to take every branch the fast path
# stands in for: escapes and bytes to keep, invalid and non-ASCII escapes, the
# month names in any case, the zone in any case, a timezone-aware value.
FAST_PATHS = {
    "quote": {
        "standard": "urllib.parse:quote",
        "name in velmora": "quote",
        "inputs": ["a", "a b/\u00e9~"],
    },
    "unquote": {
        "standard": "urllib.parse:unquote",
        "name in velmora": "unquote",
        "inputs": ["a", "a%41%c3%A9\u00e9%zz%FF"],
    },
    "parsedate": {
        "standard": "email.utils:parsedate_to_datetime",
        "name in velmora": "parsedate_to_datetime",
        "inputs": [f"Thu, {n:02d} {m} 2015 07:28:00 GMT" for n, m in enumerate(MONTHS, 1)]
        + ["Thu, 01 dEC 1999 23:59:59 gmt"],
    },
    "strftime": {
        "standard": "datetime:datetime.strftime",
        "name in velmora": None,
        "inputs": [(2015, 10, 21, 7, 28), (2015, 10, 21, 7, 28, 0, 0, "UTC")],
    },
}


def strftime_value(fields):
    *numbers, zone = fields if fields[-1] == "UTC" else (*fields, None)
    return datetime.datetime(*numbers, tzinfo=datetime.UTC if zone else None)


def resolve(path):
    """The object a path names (see the module's text)."""
    if path == "builtins":
        return builtins
    if ">" in path:
        held, _, chain = path.partition(">")
        obj = local_value(held + ">")
    else:
        module_name, _, chain = path.partition(":")
        obj = sys.modules[module_name]
    for part in filter(None, chain.split(".")):
        obj = getattr(obj, part)
    return obj


def namespace(path):
    """The dictionary a namespace path names."""
    if path == "sys.modules":
        return sys.modules
    if path == "builtins":
        return vars(builtins)
    return vars(resolve(path.removesuffix(".__dict__")))


# ---- Python functions, traced --------------------------------------------------

TOOL = sys.monitoring.DEBUGGER_ID
EVENTS = sys.monitoring.events
MUTABLE = (dict, list, set, bytearray)


def _table_of(value):
    """The mutable container a value is or is bound to, else None."""
    if isinstance(value, MUTABLE):
        return value
    owner = getattr(value, "__self__", None)
    return owner if isinstance(owner, MUTABLE) else None


class Trace:
    def __init__(self):
        self.instructions = {}
        self.reads = set()  # (namespace path, key)
        self.shadowable = set()  # (module, builtin name read by its code)
        self.stores = set()  # (module, global name assigned)
        self.codes = set()
        # (module, qualname, local) -> run -> {id: container}, held so that
        # no id is used again by another object
        self.locals = {}
        self.attr_reads = set()  # (id of object, attribute)
        self.previous = {}  # frame -> (opname, value) of its last instruction
        self.run = 0

    def instruction(self, code, offset):
        frame = sys._getframe(1)
        if frame.f_globals is _OWN:
            return
        table = self.instructions.get(code)
        if table is None:
            table = self.instructions[code] = {i.offset: i for i in dis.get_instructions(code)}
        ins = table.get(offset)
        if ins is None:
            return
        module = frame.f_globals.get("__name__")
        value = None
        if ins.opname == "LOAD_GLOBAL":
            name = ins.argval
            if name in frame.f_globals:
                self.reads.add((module, name))
                value = frame.f_globals[name]
            else:
                self.reads.add(("builtins", name))
                self.shadowable.add((module, name))
                value = frame.f_builtins.get(name)
        elif ins.opname.startswith("LOAD_FAST"):
            # Superinstructions load two locals: the second is on top.
            name = ins.argval if isinstance(ins.argval, str) else ins.argval[-1]
            value = frame.f_locals.get(name)
        elif ins.opname == "LOAD_ATTR":
            before = self.previous.get(frame)
            if before is not None:
                obj = before[1]
                if isinstance(obj, types.ModuleType) and ins.argval in vars(obj):
                    self.reads.add((obj.__name__, ins.argval))
                elif (not isinstance(obj, (type, types.ModuleType))
                      and ins.argval in getattr(obj, "__dict__", ())):
                    self.attr_reads.add((id(obj), ins.argval))
        elif ins.opname == "STORE_GLOBAL":
            self.stores.add((module, ins.argval))
        self.previous[frame] = (ins.opname, value)

    def start(self, code, offset):
        if sys._getframe(1).f_globals is not _OWN:
            self.codes.add(code)

    def leave(self, code, offset, value):
        frame = sys._getframe(1)
        self.previous.pop(frame, None)
        if frame.f_globals is _OWN:
            return
        module = frame.f_globals.get("__name__")
        for name, local in frame.f_locals.items():
            table = _table_of(local)
            if table is not None:
                key = (module, code.co_qualname, name)
                self.locals.setdefault(key, {}).setdefault(self.run, {})[id(table)] = table

    def __call__(self, function, *args):
        monitoring = sys.monitoring
        monitoring.use_tool_id(TOOL, "velmora standard reads")
        try:
            monitoring.register_callback(TOOL, EVENTS.INSTRUCTION, self.instruction)
            monitoring.register_callback(TOOL, EVENTS.PY_START, self.start)
            monitoring.register_callback(TOOL, EVENTS.PY_RESUME, self.start)
            monitoring.register_callback(TOOL, EVENTS.PY_RETURN, self.leave)
            monitoring.register_callback(TOOL, EVENTS.PY_YIELD, self.leave)
            # The instruction events of this frame itself are not wanted.
            monitoring.set_events(TOOL, EVENTS.INSTRUCTION | EVENTS.PY_START | EVENTS.PY_RESUME
                                  | EVENTS.PY_RETURN | EVENTS.PY_YIELD)
            return function(*args)
        finally:
            monitoring.set_events(TOOL, 0)
            for event in (EVENTS.INSTRUCTION, EVENTS.PY_START, EVENTS.PY_RESUME,
                          EVENTS.PY_RETURN, EVENTS.PY_YIELD):
                monitoring.register_callback(TOOL, event, None)
            monitoring.free_tool_id(TOOL)
            self.previous.clear()


_OWN = globals()  # this module's own frames are not traced


def functions_of(modules):
    """Every function reachable from the modules' namespaces: (code, path)."""
    found = {}

    def note(value, path, depth=0):
        if isinstance(value, types.FunctionType):
            found.setdefault(value.__code__, path)
        wrapped = getattr(value, "__wrapped__", None) if not isinstance(value, type) else None
        if wrapped is not None and depth == 0:
            note(wrapped, path + ".__wrapped__", 1)
        if isinstance(value, type) and depth == 0:
            for attr, member in vars(value).items():
                note(member, f"{path}.{attr}", 1)

    for module in modules:
        for name, value in vars(sys.modules[module]).items():
            note(value, f"{module}:{name}")
    return found


def trace_python(fast_path):
    spec = FAST_PATHS[fast_path]
    function = resolve(spec["standard"])
    trace = Trace()
    for trace.run in (0, 1):
        for text in spec["inputs"]:
            trace(function, text)
    modules = {m for m, _ in trace.reads if m != "builtins"} | {function.__module__}
    paths = functions_of(sorted(modules))
    functions = sorted(paths[c] for c in trace.codes if c in paths)
    # Containers a local holds on both runs alike outlive the call: tables.
    tables = {}
    kept = {}
    for (module, qualname, name), runs in sorted(trace.locals.items()):
        for ident in runs.get(0, {}).keys() & runs.get(1, {}).keys():
            kept.setdefault(ident, f"{module}:{qualname}<{name}>")
    reads = {}
    for ns, key in trace.reads:
        value = namespace(ns).get(key)
        reads.setdefault(ns, set()).add(key)
        if isinstance(value, MUTABLE):
            tables[f"{ns}:{key}"] = None
    for ident, path in kept.items():
        if not any(id(resolve_table(t)) == ident for t in tables):
            tables[path] = None
    for ident, attr in trace.attr_reads:
        if ident in kept:
            reads.setdefault(kept[ident] + ".__dict__", set()).add(attr)
    for path in tables:
        tables[path] = table_keys(path, function, spec["inputs"])
    return {
        "namespaces": {ns: sorted(keys) for ns, keys in sorted(reads.items())},
        "shadowable": sorted(f"{m}.{n}" for m, n in trace.shadowable),
        "lazy": sorted(f"{m}.{n}" for m, n in trace.stores),
        "functions": functions,
        "tables": tables,
    }


# ---- Which keys of a table are read -----------------------------------------------

def local_value(path):
    """The container a local of a standard function holds: the function runs
    on the fast path's first accepting input that sets it."""
    module, _, rest = path.partition(":")
    qualname, _, name = rest.rstrip(">").partition("<")
    found = []

    def leave(code, offset, value):
        frame = sys._getframe(1)
        if code.co_qualname == qualname and frame.f_globals.get("__name__") == module:
            table = _table_of(frame.f_locals.get(name))
            if table is not None:
                found.append(table)

    owner = next(p for p, s in FAST_PATHS.items()
                 if s["standard"].partition(":")[0] == module and p != "strftime")
    function = resolve(FAST_PATHS[owner]["standard"])
    monitoring = sys.monitoring
    monitoring.use_tool_id(TOOL, "velmora standard reads")
    try:
        monitoring.register_callback(TOOL, EVENTS.PY_RETURN, leave)
        monitoring.set_events(TOOL, EVENTS.PY_RETURN)
        for text in FAST_PATHS[owner]["inputs"]:
            function(text)
            if found:
                break
    finally:
        monitoring.set_events(TOOL, 0)
        monitoring.register_callback(TOOL, EVENTS.PY_RETURN, None)
        monitoring.free_tool_id(TOOL)
    return found[0]


def resolve_table(path):
    if path.endswith(">"):
        return local_value(path)
    ns, _, key = path.rpartition(":")
    return namespace(ns)[key]


def _recording(table, seen):
    """A copy of `table` of a subclass that notes every key or index read."""
    if isinstance(table, dict):
        class Recording(dict):
            def __getitem__(self, key):
                seen.add(repr(key))
                return super().__getitem__(key)

            def __contains__(self, key):
                seen.add(repr(key))
                return super().__contains__(key)

            def get(self, key, default=None):
                seen.add(repr(key))
                return super().get(key, default)

        return Recording(table)

    class RecordingList(list):
        def _upto(self, index):
            seen.update(map(repr, range(index + 1)))

        def __getitem__(self, index):
            if isinstance(index, int):
                seen.add(repr(index % len(self)))
            else:
                seen.update(map(repr, range(len(self))[index]))
            return super().__getitem__(index)

        def __contains__(self, item):
            hit = next((i for i, x in enumerate(self) if x == item), len(self) - 1)
            self._upto(hit)
            return super().__contains__(item)

        def index(self, item, *args):
            try:
                found = super().index(item, *args)
            except ValueError:
                self._upto(len(self) - 1)
                raise
            self._upto(found)
            return found

    return RecordingList(table)


def table_keys(path, function, inputs):
    """The keys (reprs) of a table that the inputs read. A table held by a
    local cannot be swapped: the keys it holds after the run are taken."""
    if path.endswith(">"):
        return sorted(map(repr, local_value(path)))
    ns, _, key = path.rpartition(":")
    space = namespace(ns)
    table = space[key]
    if not isinstance(table, (dict, list)):
        return []
    seen = set()
    space[key] = _recording(table, seen)
    try:
        for text in inputs:
            function(text)
    finally:
        space[key] = table
    return sorted(seen, key=lambda k: (len(k), k))


# ---- datetime.strftime, seen from outside ----------------------------------------

def trace_strftime():
    reads = {}
    imported = []
    values = [strftime_value(f) for f in FAST_PATHS["strftime"]["inputs"]]

    def record(ns, key):
        reads.setdefault(ns, set()).add(key)

    def recording_import(name, *args, **kwargs):
        imported.append(name)
        return real_import(name, *args, **kwargs)

    real_import = builtins.__import__
    calling = {"__builtins__": {**vars(builtins), "__import__": recording_import},
               "values": values, "TEMPLATE": TEMPLATE}
    exec("for v in values: v.strftime(TEMPLATE)", calling)
    if imported:
        record("calling code", "__import__")

    class RecordingObject:
        """Stands for an object of the module: records its attribute reads
        (and those of the plain objects those hold)."""

        def __init__(self, target, path):
            object.__setattr__(self, "_target", target)
            object.__setattr__(self, "_path", path)

        def __getattribute__(self, name):
            target = object.__getattribute__(self, "_target")
            path = object.__getattribute__(self, "_path")
            if name in getattr(target, "__dict__", ()):
                record(path, name)
            value = getattr(target, name)
            if hasattr(value, "__dict__") and not isinstance(
                    value, (type, types.ModuleType, types.FunctionType, types.BuiltinFunctionType)):
                return RecordingObject(value, f"{path}:{name}" if ":" not in path
                                       else f"{path}.{name}")
            return value

    class RecordingModule(types.ModuleType):
        def __getattribute__(self, name):
            target = sys.modules[object.__getattribute__(self, "__name__") + ".real"]
            return RecordingObject.__getattribute__(RecordingObject(target, target.__name__), name)

    for name in dict.fromkeys(imported):
        record("sys.modules", name)
        real = sys.modules[name]
        sys.modules[name + ".real"] = real
        sys.modules[name] = RecordingModule(name)
        try:
            for v in values:
                v.strftime(TEMPLATE)
        finally:
            sys.modules[name] = real
            del sys.modules[name + ".real"]

    attributes = set()

    class Probe(datetime.datetime):
        def __getattribute__(self, name):
            attributes.add(name)
            return super().__getattribute__(name)

    read = set()
    for v in values:
        method = Probe(*v.timetuple()[:6], tzinfo=v.tzinfo).strftime
        attributes.clear()
        method(TEMPLATE)
        read |= attributes
    return {
        "namespaces": {ns: sorted(keys) for ns, keys in sorted(reads.items())},
        "value attributes": sorted(read),
    }


def derive():
    found = {name: trace_python(name) for name in ("quote", "unquote", "parsedate")}
    found["strftime"] = trace_strftime()
    return found


if __name__ == "__main__":
    json.dump(derive(), sys.stdout, indent=1, sort_keys=True)
