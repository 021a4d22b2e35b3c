import os
import subprocess
import sys
import textwrap

import pytest


def run_python(code: str, *, env: dict | None = None) -> subprocess.CompletedProcess:
    """Runs code in a fresh interpreter of the one running the tests."""
    full_env = dict(os.environ)
    if env:
        full_env.update(env)
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        env=full_env,
        cwd="/",
        timeout=120,
    )


@pytest.fixture
def python_subprocess():
    return run_python
