"""Stand-in for the test-only native module: the Set-Cookie writer of the stand-in cookies."""

from cookies_standin import write_cookie_for_response  # noqa: F401
