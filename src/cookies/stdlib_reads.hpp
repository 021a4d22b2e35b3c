// What the standard functions behind the fast paths read, and how each read
// is known to be unchanged (stdlib_reads_quoting.cpp, stdlib_reads_parsedate.cpp,
// stdlib_reads_strftime.cpp). At import every read is checked to be the
// standard library's own (stdlib_origin.hpp); from then on a watch
// (stdlib_watch.hpp) or a check on every call keeps it:
//
// quote(text) and unquote(text), urllib.parse:
//   urllib.parse's globals (its functions, _ALWAYS_SAFE_BYTES, _asciire,
//     _hexdig, _hextobyte, the classes)         namespace snapshot
//   the table _hextobyte, built on first use    checked when built, then a snapshot
//   the code and defaults of those functions,
//     the classes (_Quoter)                     function and class watchers
//   the builtins they name (isinstance, ...)    snapshot of the builtins
//   quote's escapes, cached per `safe` by a
//     functools.lru_cache (a _Quoter), for a
//     text with a byte to escape                filled with every escape at import;
//                                               the lru_cache's dictionary and the
//                                               _Quoter's entries watched
// parsedate_to_datetime(text), email.utils:
//   email.utils's and email._parseaddr's
//     globals (_parsedate_tz, datetime, ...)   namespace snapshots
//   the code and defaults of their functions    function and class watchers
//   the table _timezones                        snapshot
//   the list _monthnames (a list changes in
//     place without an event)                   identity of its first twelve
//                                               items, on every call
//   datetime.datetime, timezone, timedelta      snapshot of the datetime namespace
//   the builtins they name                      snapshot of the builtins
// datetime.strftime(template) -> time.strftime:
//   the calling code's __builtins__ and its
//     __import__                                on every call (the calling code's
//                                               globals, listened to while they are
//                                               the last ones checked); the builtins
//                                               module's own __import__: snapshot
//   sys.modules["time"] (and ["builtins"]
//     when no code calls)                       snapshot of those keys
//   time.strftime, time.struct_time,
//     time.__spec__                             snapshot of time's namespace
//   time.__spec__._initializing (true: the
//     import waits on a lock through importlib) snapshot of the module spec's __dict__;
//                                               on every call its class (and that
//                                               class's version tag) and __dict__
#pragma once

namespace velmora::cookies {

// Each runs once the module body has bound the function; a fast path is
// trusted only when every read checks out.
// urllib.parse.quote and unquote.
void trust_url_quoting();
// email.utils.parsedate_to_datetime.
void trust_date_parser();
// The time.strftime that datetime.strftime calls.
void trust_strftime();

}  // namespace velmora::cookies
