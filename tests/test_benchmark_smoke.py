"""Smoke runs of the benchmark harness: it runs, prints its tables, writes its record.

No timing is asserted: the figures of a short run on a shared machine mean
nothing; only the harness's behaviour is checked.
"""

import json
import os
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
BENCHMARKS = ROOT / "benchmarks"
STANDINS = Path(__file__).resolve().parent / "bench_standins"

# Runs the benchmark with pure-Python stand-ins for velmora.cookies and the
# test-only writer module, so that the velmora rows are exercised whether or
# not the native cookies module is built.
WITH_STANDINS = f"""
import runpy, sys
sys.path[:0] = [{str(STANDINS)!r}, {str(BENCHMARKS)!r}]
import cookies_standin, velmora
sys.modules["velmora.cookies"] = cookies_standin
velmora.cookies = cookies_standin
sys.argv = ["run.py", *sys.argv[1:]]
runpy.run_path({str(BENCHMARKS / "run.py")!r}, run_name="__main__")
"""


def run(command: list[str], env: dict | None = None) -> subprocess.CompletedProcess:
    return subprocess.run(command, capture_output=True, text=True, timeout=120,
                          env={**os.environ, **(env or {})}, cwd=ROOT)


def cases_by_id(out: Path) -> dict:
    return {c["id"]: c for c in json.loads((out / "latest.json").read_text())["cases"]}


def test_quick_exceptions_run_prints_tables_and_writes_results(tmp_path):
    proc = run([sys.executable, str(BENCHMARKS / "run.py"), "--quick", "--filter", "exceptions",
                "--out", str(tmp_path)])
    assert proc.returncode == 0, proc.stderr
    assert "### HTTP exceptions: constructed; raised and caught" in proc.stdout
    assert "| NotFound() raised and caught | **velmora NotFound()** | " in proc.stdout
    assert "### Targets" in proc.stdout
    # The instruction-count targets wait for a callgrind run, and say so.
    assert "| cost ≤ 1.35x | run with --callgrind |" in proc.stdout
    # The run ends with its summary; a miss would not change the exit status.
    assert proc.stdout.splitlines()[-1].startswith("Targets: ")
    assert "(10 more: run with --callgrind)" in proc.stdout.splitlines()[-1]
    cases = cases_by_id(tmp_path)
    assert {c["group"] for c in cases.values()} == {"exceptions"}
    for case_id in ("exceptions/notfound/velmora", "exceptions/http404/velmora",
                    "exceptions/new-notfound/velmora", "exceptions/new-http404/velmora",
                    "exceptions/notfound/plain", "exceptions/floor/exception",
                    "exceptions/floor/new-exception"):
        assert cases[case_id]["status"] == "ok", cases[case_id]
        assert cases[case_id]["min_ns"] > 0
    assert cases["exceptions/notfound/velmora"]["vs_floor"] > 0
    try:
        import matplotlib  # noqa: F401
    except ImportError:
        return
    assert (tmp_path / "latest.png").read_bytes().startswith(b"\x89PNG")


def test_velmora_rows_are_measured_once_the_functions_exist(tmp_path):
    proc = run(
        [sys.executable, "-c", WITH_STANDINS, "--quick", "--no-chart", "--hostile",
         "--out", str(tmp_path), "--filter", "parse/", "--filter", "write/",
         "--filter", "dates/", "--filter", "hostile/quote-value"],
        env={"VELMORA_TEST_MODULE_PATH": str(STANDINS)},
    )
    assert proc.returncode == 0, proc.stderr
    cases = cases_by_id(tmp_path)
    velmora = [c for c in cases.values() if c["role"] == "velmora"]
    # Each operation also has its row without fast paths.
    generic = [c for c in velmora if "without fast paths" in c["implementation"]]
    assert (len(velmora), len(generic)) == (14, 6)
    assert all(c["status"] == "ok" for c in velmora if c not in generic), velmora
    record = json.loads((tmp_path / "latest.json").read_text())
    cookie = [t for t in record["targets"] if "exceptions" not in t["case"]]
    # A timed run gives the timed targets a verdict; those counted in
    # instructions wait for a callgrind run.
    timed = {t["verdict"] for t in cookie if not t["case"].startswith("native/")}
    counted = {t["verdict"] for t in cookie if t["case"].startswith("native/")}
    assert (len(cookie), timed <= {"pass", "miss"}, counted) == (13, True, {"other run"})
    hostile = record["hostile"]
    assert [h["size"] for h in hostile] == [1024, 64 * 1024, 1024 * 1024]
    assert all(h["status"] == "ok" and h["info"] == "Cookie" for h in hostile)
    assert "| a= then '\"' repeated | Cookie |" in proc.stdout
