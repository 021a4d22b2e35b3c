"""Native core of the velmora web framework."""

import os as _os

__all__ = ["get_include"]


def get_include() -> str:
    """Directory holding the public C headers (``velmora/cookies.h``)."""
    return _os.path.join(_os.path.dirname(__file__), "include")
