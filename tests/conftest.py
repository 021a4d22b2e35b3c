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


@pytest.fixture(scope="session")
def process_locale():
    """Sets LC_ALL for a block, restoring the process's locale after it.

    de_DE.UTF-8 is compiled from Debian's locale sources (the `locales`
    package) into the build folder and found through LOCPATH, so the tests of
    a non-C locale never depend on what the machine has generated.
    """
    import contextlib
    import locale
    from pathlib import Path

    root = Path(__file__).resolve().parent.parent / "build" / "test-locales"
    compiled = root / "de_DE.UTF-8"
    if not (compiled / "LC_TIME").exists():
        root.mkdir(parents=True, exist_ok=True)
        env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
        done = subprocess.run(["localedef", "-i", "de_DE", "-f", "UTF-8", str(compiled)],
                              capture_output=True, text=True, env=env)
        # localedef warns about the locale sources and still writes the locale.
        assert (compiled / "LC_TIME").exists(), (
            "localedef could not compile de_DE.UTF-8 (is Debian's `locales` package installed?):\n"
            + done.stderr)
    previous_path = os.environ.get("LOCPATH")
    os.environ["LOCPATH"] = str(root)

    @contextlib.contextmanager
    def switched(name):
        saved = locale.setlocale(locale.LC_ALL)
        locale.setlocale(locale.LC_ALL, name)
        try:
            yield
        finally:
            locale.setlocale(locale.LC_ALL, saved)

    yield switched
    if previous_path is None:
        del os.environ["LOCPATH"]
    else:
        os.environ["LOCPATH"] = previous_path
