"""The fuzz target's checks on every input of the seed corpus (fuzz/corpus),
which also holds the inputs of past findings: what it parses writes and reads
back with the same name and value, and the native percent-coding agrees with
the standard functions called from Python."""

import pathlib
import urllib.parse

import pytest

import velmora.cookies as cookies

capi = pytest.importorskip("velmora._velmora_capi_test")

CORPUS = pathlib.Path(__file__).resolve().parent.parent / "fuzz" / "corpus"
SEEDS = sorted(CORPUS.iterdir()) if CORPUS.is_dir() else []


def outcome(call, *args):
    try:
        return call(*args), None
    except Exception as e:  # noqa: BLE001 - the outcome is compared
        return None, (type(e), e.args)


@pytest.mark.parametrize("seed", SEEDS, ids=lambda p: p.name)
def test_seed(seed, monkeypatch):
    raw = seed.read_bytes()
    cookie, error = outcome(capi.parse_cookie, raw)

    # unquote called as a Python function instead of natively.
    monkeypatch.setattr(cookies, "unquote", lambda text: urllib.parse.unquote(text))
    reference, reference_error = outcome(capi.parse_cookie, raw)
    monkeypatch.undo()
    assert error == reference_error
    if cookie is None:
        return
    assert (cookie.name, cookie.value) == (reference.name, reference.value)

    written, write_error = outcome(capi.write_cookie_for_response, cookie)
    monkeypatch.setattr(cookies, "quote", lambda text: urllib.parse.quote(text))
    assert outcome(capi.write_cookie_for_response, cookie) == (written, write_error)
    monkeypatch.undo()
    if write_error:
        # Only a control character in the domain or path stops the writer.
        assert write_error[0] is ValueError
        assert any(ch < " " or ch == "\x7f" for ch in (cookie.domain or "") + (cookie.path or ""))
        return
    again = capi.parse_cookie(written)
    assert (again.name, again.value) == (cookie.name, cookie.value)


def test_corpus_is_there():
    assert len(SEEDS) >= 50
