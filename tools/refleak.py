"""Reference-leak hunt in the manner of CPython's ``regrtest -R``.

Runs the operations of the test suite (the tables of the allocation-failure,
leak and hostile-callable tests, pickling of every type, every input of the
fuzz seed corpus through the native function table, and the fast paths'
generic counterparts with the watched names toggled) one by one: WARMUP
rounds first, so that caches fill, then ROUNDS measured rounds, reading
sys.gettotalrefcount() and sys.getallocatedblocks() after each. Every round
calls the operation CALLS times. An operation whose reference total, or whose
allocated blocks, grew in every measured round leaks.

Needs a debug interpreter; ``make refleak`` builds the modules for Debian's
python3.14d and python3.15d and runs this. Usage:

    python tools/refleak.py [-w WARMUP] [-n ROUNDS] [-c CALLS] [-k SUBSTRING]
"""

import argparse
import copy
import datetime
import gc
import linecache
import os
import pickle
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TESTS = os.path.join(ROOT, "tests")
CORPUS = os.path.join(ROOT, "fuzz", "corpus")


def cookie_operations():
    import test_allocation_failures as failures
    import test_cookie_leaks as leaks
    import test_hostile_callables as hostile

    from velmora.cookies import Cookie

    ops = {}
    for name, op in failures.COOKIE_OPERATIONS.items():
        ops[f"cookies: {name}"] = op
    for name, (op, _) in failures.FAILING_COOKIE_OPERATIONS.items():
        ops[f"cookies, failing: {name}"] = op
    # Built at run time: a one-character literal is immortal, and a reference
    # lost on it would not count in the total.
    domain, path = "".join(["example", ".org"]), "".join(["/", "app"])
    for attribute, new in failures.SETTERS:
        ops[f"cookies, setter: {attribute} = {new!r:.30}"] = (
            lambda attribute=attribute, new=new:
            setattr(Cookie("n", "v", failures.D, domain, path), attribute, new))
    ops["cookies, setstate"] = lambda: Cookie.__new__(Cookie).__setstate__(failures.STATE)
    ops["cookies, deepcopy"] = lambda: copy.deepcopy(failures.COOKIE)
    leak_ops, _ = leaks.operations()
    for index, op in enumerate(leak_ops):
        ops[f"cookies, leak table #{index}"] = op
    for name, (op, _) in hostile.HOSTILE.items():
        ops[f"hostile: {name}"] = op
    for name, (op, _) in hostile.SURVIVABLE.items():
        ops[f"hostile, survivable: {name}"] = op
    return ops


def exception_operations():
    import test_allocation_failures as failures
    import test_exception_leaks as leaks

    ops = {}
    for name, op in failures.EXCEPTION_OPERATIONS.items():
        ops[f"exceptions: {name}"] = op
    for name, (op, _) in failures.FAILING_OPERATIONS.items():
        ops[f"exceptions, failing: {name}"] = op
    for kind, factory in leaks.FACTORIES.items():
        ops[f"exceptions: {kind.__name__}"] = lambda factory=factory: factory(7)
        ops[f"exceptions, pickle: {kind.__name__}"] = (
            lambda factory=factory: pickle.loads(pickle.dumps(factory(7))))
        ops[f"exceptions, copy: {kind.__name__}"] = lambda factory=factory: copy.copy(factory(7))
    for kind, factory in leaks.FAILING.items():
        ops[f"exceptions, failing: {kind.__name__}"] = lambda factory=factory: factory(7)
    return ops


def corpus_operations(corpus=CORPUS):
    """The fuzz target's calls, for every input of the corpus directory."""
    from velmora import _velmora_capi_test as capi

    def run(raw):
        try:
            cookie = capi.parse_cookie(raw)
        except Exception:
            pass
        else:
            try:
                capi.parse_cookie(capi.write_cookie_for_response(cookie))
            except ValueError:
                pass
            capi.clone(cookie)
        try:
            capi.datetime_to_cookie_format(capi.datetime_from_cookie_format(raw))
        except Exception:
            pass
        try:
            capi.split_value(raw, raw[1:1 + raw[0] % 4] if raw else b"")
        except ValueError:
            pass
        capi.same_site_mode_from_bytes(raw)

    ops = {}
    for name in sorted(os.listdir(corpus)):
        with open(os.path.join(corpus, name), "rb") as f:
            raw = f.read()
        ops[f"corpus: {name}"] = lambda raw=raw: run(raw)
    return ops


def fast_path_operations():
    """The generic paths forced, the watched names rebound, deleted and found
    among the builtins, datetime.datetime replaced, bytes-like parts joined,
    and the byte readers run at a page end."""
    import builtins

    import velmora.cookies as cookies
    from generic_paths import generic_paths, standard_copy
    from velmora import _reader_probe as probe
    from velmora import _velmora_capi_test as capi

    header = b"".join([b"user%20id=a%20b; Expires=Wed, 21 Oct 2015 07:28:00 GMT; ",
                       b"Max-Age=3600; Domain=intranet; Path=/app; HttpOnly; SameSite=Lax"])
    date_text = b"".join([b"Wed, 21 Oct 2015 ", b"07:28:00 GMT"])
    unquote, quote = cookies.unquote, cookies.quote

    def parse_and_write():
        capi.write_cookie_for_response(capi.parse_cookie(header))

    def generic():
        with generic_paths():
            parse_and_write()
            cookies.datetime_to_cookie_format(datetime.datetime(2015, 10, 21, 7, 28))

    def toggled():
        cookies.unquote = standard_copy(unquote)
        parse_and_write()
        del cookies.unquote
        builtins.unquote = standard_copy(unquote)
        try:
            parse_and_write()
        finally:
            cookies.unquote = unquote
            del builtins.unquote
        parse_and_write()

    original_datetime = datetime.datetime

    class Frozen(datetime.datetime):
        pass

    def frozen():
        datetime.datetime = Frozen
        try:
            cookies.datetime_from_cookie_format(date_text)
        finally:
            datetime.datetime = original_datetime

    class Encoded(str):
        def encode(self, *args):
            return bytearray(str.encode(self, *args))

    def bytes_like():
        cookies.quote = lambda text: Encoded(quote(text))
        try:
            parse_and_write()
        finally:
            cookies.quote = quote

    def readers():
        probe.read_header(header)
        probe.read_date(date_text)

    return {"fast paths: generic": generic, "fast paths: names toggled": toggled,
            "fast paths: datetime.datetime replaced": frozen,
            "fast paths: bytes-like parts": bytes_like, "fast paths: byte readers": readers}


def clear_caches():
    """Empties the interpreter caches that fill on first use, as regrtest does."""
    re.purge()
    linecache.clearcache()
    sys._clear_internal_caches()
    for _ in range(3):
        gc.collect()


def measure():
    clear_caches()
    return sys.gettotalrefcount(), sys.getallocatedblocks()


def leaks(deltas):
    # As regrtest: a leak grows every time; [3, 0, 0] or [8, -8, 1] is noise.
    return all(delta >= 1 for delta in deltas)


def call(op, times):
    for _ in range(times):
        try:
            op()
        except Exception:
            pass


def hunt(op, warmup, rounds, calls):
    """Reference and block deltas of the measured rounds."""
    call(op, warmup * calls)
    refs, blocks = [], []
    before = measure()
    for _ in range(rounds):
        call(op, calls)
        after = measure()
        refs.append(after[0] - before[0])
        blocks.append(after[1] - before[1])
        before = after
    return refs, blocks


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("-w", "--warmup", type=int, default=3)
    parser.add_argument("-n", "--rounds", type=int, default=5)
    parser.add_argument("-c", "--calls", type=int, default=8)
    parser.add_argument("-k", "--only", default="", help="operations whose name holds this")
    parser.add_argument("--corpus", default=CORPUS,
                        help="fuzz corpus directory (default: the seeds, fuzz/corpus)")
    options = parser.parse_args(argv)
    if not hasattr(sys, "gettotalrefcount"):
        sys.exit("refleak: needs a debug interpreter (sys.gettotalrefcount)")
    sys.path.insert(0, TESTS)
    operations = {**exception_operations(), **cookie_operations(),
                  **corpus_operations(options.corpus), **fast_path_operations()}
    selected = {name: op for name, op in operations.items() if options.only in name}
    # Everything once before anything is measured: first calls import and
    # cache what later calls share.
    for op in selected.values():
        call(op, 1)
    # What exists now stays: moved out of the collector's way, so that the
    # collections of every measurement only walk what the operations made.
    gc.collect()
    gc.freeze()
    failed = []
    for name, op in selected.items():
        refs, blocks = hunt(op, options.warmup, options.rounds, options.calls)
        if leaks(refs) or leaks(blocks):
            failed.append(name)
            print(f"LEAK {name}: references {refs}, blocks {blocks}", flush=True)
    print(f"refleak: {options.warmup} warm-up and {options.rounds} measured rounds of "
          f"{options.calls} calls per operation")
    print(f"refleak: {len(selected) - len(failed)} passed, {len(failed)} failed")
    return 1 if failed or not selected else 0


if __name__ == "__main__":
    sys.exit(main())
