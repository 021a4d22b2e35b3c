"""The README's Python examples run as written, and its benchmark table is
the one of the recorded run."""

import subprocess
import sys
from pathlib import Path

from readme_blocks import blocks

ROOT = Path(__file__).resolve().parent.parent


def test_python_examples_run_in_order():
    examples = blocks("python")
    assert len(examples) >= 4
    namespace: dict = {"__name__": "readme"}
    for example in examples:
        exec(example.compiled(), namespace)


def test_benchmark_table_is_the_recorded_run():
    check = subprocess.run([sys.executable, str(ROOT / "benchmarks" / "readme_table.py"),
                            "--check"], capture_output=True, text=True, timeout=60)
    assert check.returncode == 0, check.stdout + check.stderr
