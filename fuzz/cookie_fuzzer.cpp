// libFuzzer target for the header-facing entries of velmora.cookies.
//
// Embeds the interpreter, imports a sanitizer build of velmora.cookies and
// calls the native function table through the public header alone, as the
// framework's other native modules do. For every input:
//   - parse_cookie(input); for a cookie it returns, write_cookie_for_response
//     and parse_cookie again on what was written: that must parse, and the
//     name and value must survive the round trip;
//   - the same parse and write with the module's unquote and quote standing
//     in as wrappers of the standard functions, which the module then calls
//     as it calls any Python function instead of using its native
//     equivalents: both ways must agree (same result, or the same
//     exception). The last input byte picks how the wrapper stands in:
//     rebound in the module, or the module's name deleted and the wrapper
//     found among the builtins; either way the dictionary watchers must
//     notice, and notice the restoring too;
//   - the write once more with quote giving a str whose encode returns a
//     bytearray, which the documented + and join accept: the same bytes;
//   - datetime_from_cookie_format(input), also with parsedate_to_datetime
//     standing in as a wrapper (both ways must agree) and with
//     datetime.datetime replaced by a subclass, which the standard function
//     then returns; a date it returns formatted again with
//     datetime_to_cookie_format, which must write what strftime writes;
//   - split_value(input, separator) with a separator cut from the input;
//   - same_site_mode_from_bytes(input).
// Python exceptions are an ordinary outcome and are cleared. A crash, a
// sanitizer report, a reference left behind, a SystemError, a failure
// without an exception (or a result with one) aborts.
//
// Paths come from the build (fuzz/build-fuzzer) and can be overridden with
// VELMORA_FUZZ_PYTHON_HOME and VELMORA_FUZZ_SITE.
#include <Python.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "velmora/cookies.h"

#ifndef VELMORA_FUZZ_PYTHON_HOME
#error "VELMORA_FUZZ_PYTHON_HOME must name the interpreter's prefix"
#endif
#ifndef VELMORA_FUZZ_SITE
#error "VELMORA_FUZZ_SITE must name the directory holding the velmora package"
#endif

namespace {

VelmoraCookiesAPI api;
PyObject *cookies_module;                      // velmora.cookies
PyObject *bound_quote, *bound_unquote;         // urllib.parse.quote and unquote, as bound
PyObject *called_quote, *called_unquote;       // Python wrappers of the same functions
PyObject *bound_parsedate, *called_parsedate;  // email.utils.parsedate_to_datetime, and a wrapper
PyObject *bytes_like_quote;                    // quote whose result encodes to a bytearray
PyObject *builtins_module;
PyObject *datetime_module, *datetime_class, *datetime_subclass;  // datetime.datetime, a subclass
bool through_builtins;  // how the wrappers stand in for this input

[[noreturn]] void finding(const char *what) {
    std::fprintf(stderr, "\n*** cookie_fuzzer finding: %s\n", what);
    if (PyErr_Occurred()) PyErr_Print();
    std::fflush(stderr);
    std::abort();
}

// After a call that returned `result`: a failure must carry an exception, a
// result must not. A SystemError means the C API was misused somewhere.
// Returns whether the call succeeded; the exception, if any, stays set.
bool outcome(const void *result, const char *entry) {
    PyObject *error = PyErr_Occurred();
    if (result && error) {
        std::fprintf(stderr, "%s returned a result with an exception set\n", entry);
        finding("result with exception");
    }
    if (!result && !error) {
        std::fprintf(stderr, "%s failed without setting an exception\n", entry);
        finding("failure without exception");
    }
    if (error && PyErr_ExceptionMatches(PyExc_SystemError)) {
        std::fprintf(stderr, "%s raised SystemError\n", entry);
        finding("SystemError");
    }
    return result != nullptr;
}

// A reference the target should hold alone at this point.
void expect_sole_owner(PyObject *object, const char *what) {
    // Immortal objects (None, small ints, one-character strings) report a
    // huge count; they cannot leak.
    if (Py_REFCNT(object) != 1 && !PyUnstable_IsImmortal(object)) {
        std::fprintf(stderr, "%s has %zd references, expected 1\n", what, Py_REFCNT(object));
        finding("reference count");
    }
}

// The exception of a failed call (taken out of the indicator), or nullptr.
PyObject *take_error(const void *result, const char *entry) {
    return outcome(result, entry) ? nullptr : PyErr_GetRaisedException();
}

// Two ways of doing the same thing ended alike: both succeeded, or both
// raised the same exception type with the same arguments. Consumes the
// errors.
void expect_same_failure(PyObject *error, PyObject *reference, const char *what) {
    if (!error != !reference) {
        PyObject *raised = error ? error : reference;
        std::fprintf(stderr, "%s: only the %s way failed\n", what,
                     error ? "native" : "Python-call");
        PyErr_SetRaisedException(raised);
        finding("the native and the Python-call way disagree");
    }
    if (!error) return;
    PyObject *args = PyObject_GetAttrString(error, "args");
    PyObject *reference_args = PyObject_GetAttrString(reference, "args");
    if (!args || !reference_args || Py_TYPE(error) != Py_TYPE(reference) ||
        PyObject_RichCompareBool(args, reference_args, Py_EQ) != 1) {
        std::fprintf(stderr, "%s: different errors\n", what);
        PyErr_SetRaisedException(reference);
        PyErr_Print();
        PyErr_SetRaisedException(error);
        finding("the native and the Python-call way raise differently");
    }
    Py_DECREF(args);
    Py_DECREF(reference_args);
    Py_DECREF(error);
    Py_DECREF(reference);
}

void rebind(const char *name, PyObject *value) {
    if (PyObject_SetAttrString(cookies_module, name, value) < 0) finding("rebinding failed");
}

// The wrapper `called` stands in for the module's `name`: rebound in the
// module, or found among the builtins once the module's name is deleted.
void stand_in(const char *name, PyObject *called) {
    if (!through_builtins) return rebind(name, called);
    if (PyObject_SetAttrString(builtins_module, name, called) < 0 ||
        PyObject_DelAttrString(cookies_module, name) < 0) {
        finding("standing in through the builtins failed");
    }
}

void restore(const char *name, PyObject *bound) {
    rebind(name, bound);
    if (through_builtins && PyObject_DelAttrString(builtins_module, name) < 0) {
        finding("removing the builtins stand-in failed");
    }
}

std::string_view bytes_view(PyObject *bytes) {
    return {PyBytes_AS_STRING(bytes), static_cast<size_t>(PyBytes_GET_SIZE(bytes))};
}

bool has_control_char(PyObject *text) {
    if (!PyUnicode_Check(text)) return false;
    Py_ssize_t n = PyUnicode_GET_LENGTH(text);
    for (Py_ssize_t i = 0; i < n; ++i) {
        Py_UCS4 c = PyUnicode_READ_CHAR(text, i);
        if (c < 0x20 || c == 0x7f) return true;
    }
    return false;
}

// The record invariants that other native modules rely on.
void check_record(VelmoraCookie *cookie) {
    if (!PyUnicode_CheckExact(cookie->_name) || PyUnicode_GET_LENGTH(cookie->_name) == 0) {
        finding("parsed cookie without a non-empty str name");
    }
    if (!PyUnicode_CheckExact(cookie->_value)) finding("parsed cookie value is not a str");
    for (PyObject *text : {cookie->domain, cookie->path}) {
        if (text != Py_None && !PyUnicode_CheckExact(text)) finding("domain/path not str or None");
    }
    if (cookie->expires != Py_None && !PyDateTime_Check(cookie->expires)) {
        finding("expires is neither None nor a datetime");
    }
    if ((cookie->http_only != 0 && cookie->http_only != 1) ||
        (cookie->secure != 0 && cookie->secure != 1) || cookie->same_site > 3) {
        finding("flag or SameSite code out of range");
    }
}

// write_cookie_for_response, with quote as bound (the native percent-encoding)
// and with quote called as a Python function: both must agree. Returns the
// bytes written, or nullptr with the error of the first way set.
PyObject *write_both_ways(VelmoraCookie *cookie) {
    PyObject *written = api.write_cookie_for_response(cookie);
    PyObject *error = take_error(written, "write_cookie_for_response");
    stand_in("quote", called_quote);
    PyObject *reference = api.write_cookie_for_response(cookie);
    PyObject *reference_error = take_error(reference, "write_cookie_for_response, Python quote");
    restore("quote", bound_quote);
    if (written && reference && PyObject_RichCompareBool(written, reference, Py_EQ) != 1) {
        finding("the writer's output depends on how quote is called");
    }
    Py_XDECREF(reference);
    // Parts that are bytes-like but not bytes join as bytes would.
    rebind("quote", bytes_like_quote);
    PyObject *joined = api.write_cookie_for_response(cookie);
    PyObject *joined_error = take_error(joined, "write_cookie_for_response, bytearray parts");
    rebind("quote", bound_quote);
    if (written && joined &&
        (!PyBytes_CheckExact(joined) || PyObject_RichCompareBool(written, joined, Py_EQ) != 1)) {
        finding("the writer joins bytearray parts differently");
    }
    Py_XDECREF(joined);
    if (!joined_error != !error) finding("bytearray parts change whether the writer fails");
    Py_XDECREF(joined_error);
    if (error) {
        Py_INCREF(error);
        expect_same_failure(error, reference_error, "write_cookie_for_response");
        PyErr_SetRaisedException(error);
    } else {
        expect_same_failure(nullptr, reference_error, "write_cookie_for_response");
    }
    return written;
}

// write_cookie_for_response, then parse_cookie on its output.
void round_trip(VelmoraCookie *cookie) {
    PyObject *written = write_both_ways(cookie);
    if (!written) {
        // Only a control byte in the domain or path (name and value are
        // percent-encoded) may stop the writer, with a ValueError.
        bool legitimate = PyErr_ExceptionMatches(PyExc_ValueError) &&
                          !PyErr_ExceptionMatches(PyExc_UnicodeError) &&
                          (has_control_char(cookie->domain) || has_control_char(cookie->path));
        if (!legitimate) finding("the writer refused a parsed cookie");
        PyErr_Clear();
        return;
    }
    if (!PyBytes_CheckExact(written)) finding("the writer returned something other than bytes");
    VelmoraCookie *again = api.parse_cookie(written, 0);
    if (!outcome(again, "parse_cookie of written bytes")) {
        std::fprintf(stderr, "written: %.*s\n", static_cast<int>(PyBytes_GET_SIZE(written)),
                     PyBytes_AS_STRING(written));
        finding("the written form does not parse");
    }
    if (PyUnicode_Compare(again->_name, cookie->_name) != 0 ||
        PyUnicode_Compare(again->_value, cookie->_value) != 0) {
        if (PyErr_Occurred()) finding("comparing names failed");
        std::fprintf(stderr, "written: %.*s\n", static_cast<int>(PyBytes_GET_SIZE(written)),
                     PyBytes_AS_STRING(written));
        finding("name or value changed in the round trip");
    }
    check_record(again);
    expect_sole_owner(reinterpret_cast<PyObject *>(again), "re-parsed cookie");
    Py_DECREF(again);
    expect_sole_owner(written, "written bytes");
    Py_DECREF(written);
}

// parse_cookie with unquote as bound (the native percent-decoding) and with
// unquote called as a Python function: both must agree. Returns the cookie
// of the first way, or nullptr with its error set.
VelmoraCookie *parse_both_ways(PyObject *input) {
    VelmoraCookie *cookie = api.parse_cookie(input, 0);
    PyObject *error = take_error(cookie, "parse_cookie");
    stand_in("unquote", called_unquote);
    VelmoraCookie *reference = api.parse_cookie(input, 0);
    PyObject *reference_error = take_error(reference, "parse_cookie, Python unquote");
    restore("unquote", bound_unquote);
    if (cookie && reference &&
        (PyUnicode_Compare(cookie->_name, reference->_name) != 0 ||
         PyUnicode_Compare(cookie->_value, reference->_value) != 0)) {
        finding("parsed names or values depend on how unquote is called");
    }
    if (reference) {
        expect_sole_owner(reinterpret_cast<PyObject *>(reference), "reference cookie");
        Py_DECREF(reference);
    }
    if (error) {
        Py_INCREF(error);
        expect_same_failure(error, reference_error, "parse_cookie");
        PyErr_SetRaisedException(error);
    } else {
        expect_same_failure(nullptr, reference_error, "parse_cookie");
    }
    return cookie;
}

void parse(PyObject *input) {
    VelmoraCookie *cookie = parse_both_ways(input);
    if (!cookie) {
        PyErr_Clear();
        return;
    }
    if (!PyObject_TypeCheck(reinterpret_cast<PyObject *>(cookie), api.cookie_type)) {
        finding("parse_cookie returned a non-Cookie");
    }
    check_record(cookie);
    round_trip(cookie);
    // A clone through the method table shares the fields and must not keep
    // the original alive.
    VelmoraCookie *copy = VelmoraCookie_Clone(cookie);
    if (!outcome(copy, "clone")) finding("cloning a parsed cookie failed");
    expect_sole_owner(reinterpret_cast<PyObject *>(copy), "clone");
    Py_DECREF(copy);
    // Nothing else holds what the cookie holds.
    for (PyObject *field :
         {cookie->_name, cookie->_value, cookie->expires, cookie->domain, cookie->path}) {
        expect_sole_owner(field, "a field of the parsed cookie");
    }
    expect_sole_owner(reinterpret_cast<PyObject *>(cookie), "parsed cookie");
    Py_DECREF(cookie);
}

void dates(PyObject *input) {
    PyDateTime_DateTime *moment = api.datetime_from_cookie_format(input, 0);
    PyObject *error = take_error(moment, "datetime_from_cookie_format");
    // The same with parsedate_to_datetime called as a Python function, which
    // the module never replaces with its native reading of the usual form.
    stand_in("parsedate_to_datetime", called_parsedate);
    PyDateTime_DateTime *reference = api.datetime_from_cookie_format(input, 0);
    PyObject *reference_error = take_error(reference, "datetime_from_cookie_format, Python call");
    restore("parsedate_to_datetime", bound_parsedate);
    PyObject *object = reinterpret_cast<PyObject *>(moment);
    // With datetime.datetime replaced, as clock-freezing tools do, the
    // standard function builds the subclass, and so must the module.
    if (PyObject_SetAttrString(datetime_module, "datetime", datetime_subclass) < 0) {
        finding("replacing datetime.datetime failed");
    }
    PyDateTime_DateTime *frozen = api.datetime_from_cookie_format(input, 0);
    PyObject *frozen_error = take_error(frozen, "datetime_from_cookie_format, datetime replaced");
    if (PyObject_SetAttrString(datetime_module, "datetime", datetime_class) < 0) {
        finding("restoring datetime.datetime failed");
    }
    if (moment && frozen &&
        (Py_TYPE(frozen) != reinterpret_cast<PyTypeObject *>(datetime_subclass) ||
         PyObject_RichCompareBool(object, reinterpret_cast<PyObject *>(frozen), Py_EQ) != 1)) {
        finding("a replaced datetime.datetime does not reach the date read");
    }
    Py_XDECREF(frozen);
    if (!frozen_error != !error) finding("a replaced datetime.datetime changes whether dates read");
    Py_XDECREF(frozen_error);
    if (moment && reference &&
        (!PyDateTime_CheckExact(object) || !PyDateTime_CheckExact(reference) ||
         PyObject_RichCompareBool(object, reinterpret_cast<PyObject *>(reference), Py_EQ) != 1)) {
        finding("dates read natively differ from parsedate_to_datetime's");
    }
    if (reference) {
        expect_sole_owner(reinterpret_cast<PyObject *>(reference), "reference date");
        Py_DECREF(reference);
    }
    expect_same_failure(error, reference_error, "datetime_from_cookie_format");
    if (!moment) return;
    PyObject *text = api.datetime_to_cookie_format(moment, 0);
    if (!outcome(text, "datetime_to_cookie_format")) finding("a parsed date does not format");
    if (!PyBytes_CheckExact(text)) finding("datetime_to_cookie_format returned non-bytes");
    // What strftime itself writes.
    PyObject *formatted = PyObject_CallMethod(object, "strftime", "s", "%a, %d %b %Y %H:%M:%S GMT");
    PyObject *expected = formatted ? PyUnicode_AsUTF8String(formatted) : nullptr;
    if (!expected || PyObject_RichCompareBool(text, expected, Py_EQ) != 1) {
        finding("dates written natively differ from strftime's");
    }
    Py_DECREF(formatted);
    Py_DECREF(expected);
    expect_sole_owner(text, "formatted date");
    Py_DECREF(text);
    expect_sole_owner(object, "parsed date");
    Py_DECREF(object);
}

// The separator is up to three bytes cut from the input, chosen by its first
// byte; the empty separator is found at position 0.
void split(PyObject *input, const uint8_t *data, size_t size) {
    std::string_view rest = size ? bytes_view(input).substr(1) : std::string_view();
    std::string_view cut = rest.substr(0, size ? data[0] % 4 : 0);
    PyObject *separator =
        PyBytes_FromStringAndSize(cut.data(), static_cast<Py_ssize_t>(cut.size()));
    if (!separator) finding("allocating the separator failed");
    PyObject *pieces = api.split_value(input, separator);
    std::string_view raw = bytes_view(input);
    size_t at = raw.find(bytes_view(separator));
    if (!outcome(pieces, "split_value")) {
        if (at != std::string_view::npos || !PyErr_ExceptionMatches(PyExc_ValueError)) {
            finding("split_value failed on a separator that occurs");
        }
        PyErr_Clear();
    } else {
        if (at == std::string_view::npos) finding("split_value found a separator that is absent");
        if (!PyTuple_CheckExact(pieces) || PyTuple_GET_SIZE(pieces) != 2) {
            finding("split_value did not return a pair");
        }
        PyObject *head = PyTuple_GET_ITEM(pieces, 0);
        PyObject *tail = PyTuple_GET_ITEM(pieces, 1);
        if (!PyBytes_CheckExact(head) || !PyBytes_CheckExact(tail) ||
            bytes_view(head) != raw.substr(0, at) ||
            bytes_view(tail) != (at < raw.size() ? raw.substr(at + 1) : std::string_view())) {
            finding("split_value cut in the wrong place");
        }
        expect_sole_owner(pieces, "split pair");
        Py_DECREF(pieces);
    }
    expect_sole_owner(separator, "separator");
    Py_DECREF(separator);
}

void same_site(PyObject *input) {
    VelmoraCookieSameSiteMode code = api.same_site_mode_from_bytes(input);
    if (PyErr_Occurred()) finding("same_site_mode_from_bytes failed on bytes");
    std::string lower(bytes_view(input));
    for (char &c : lower) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    unsigned expected = lower == "strict" ? 2 : lower == "lax" ? 1 : lower == "none" ? 3 : 0;
    if (static_cast<unsigned>(code) != expected) finding("wrong SameSite code");
}

std::wstring wide(const char *path) {
    wchar_t *decoded = Py_DecodeLocale(path, nullptr);
    if (!decoded) {
        std::fprintf(stderr, "cannot decode %s\n", path);
        std::abort();
    }
    std::wstring result(decoded);
    PyMem_RawFree(decoded);
    return result;
}

void check_status(PyStatus status) {
    if (PyStatus_Exception(status)) Py_ExitStatusException(status);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    const char *home = std::getenv("VELMORA_FUZZ_PYTHON_HOME");
    if (!home) home = VELMORA_FUZZ_PYTHON_HOME;
    const char *site = std::getenv("VELMORA_FUZZ_SITE");
    if (!site) site = VELMORA_FUZZ_SITE;

    // Every object its own malloc block, so that AddressSanitizer sees
    // overruns and use after free of Python objects too.
    PyPreConfig preconfig;
    PyPreConfig_InitIsolatedConfig(&preconfig);
    preconfig.allocator = PYMEM_ALLOCATOR_MALLOC;
    check_status(Py_PreInitialize(&preconfig));

    PyConfig config;
    PyConfig_InitIsolatedConfig(&config);
    config.install_signal_handlers = 0;  // libFuzzer's own stay in place
    config.site_import = 0;
    config.write_bytecode = 0;
    std::wstring stdlib = wide(home) + L"/lib/python3.14";
    std::wstring dynload = stdlib + L"/lib-dynload";
    std::wstring site_dir = wide(site);
    check_status(PyConfig_SetString(&config, &config.home, wide(home).c_str()));
    config.module_search_paths_set = 1;
    for (const std::wstring *path : {&site_dir, &stdlib, &dynload}) {
        check_status(PyWideStringList_Append(&config.module_search_paths, path->c_str()));
    }
    check_status(Py_InitializeFromConfig(&config));
    PyConfig_Clear(&config);

    if (VelmoraCookies_Import(&api) < 0) finding("importing velmora.cookies failed");
    cookies_module = PyImport_ImportModule("velmora.cookies");
    if (!cookies_module) finding("importing velmora.cookies failed");
    bound_quote = PyObject_GetAttrString(cookies_module, "quote");
    bound_unquote = PyObject_GetAttrString(cookies_module, "unquote");
    bound_parsedate = PyObject_GetAttrString(cookies_module, "parsedate_to_datetime");
    PyObject *globals = PyDict_New();
    PyObject *defined = globals ? PyRun_String(
                                      "from urllib.parse import quote as q, unquote as u\n"
                                      "def quote(text):\n    return q(text)\n"
                                      "def unquote(text):\n    return u(text)\n"
                                      "from email.utils import parsedate_to_datetime as p\n"
                                      "def parsedate(text):\n    return p(text)\n"
                                      "class Encoded(str):\n"
                                      "    def encode(self, *args):\n"
                                      "        return bytearray(str.encode(self, *args))\n"
                                      "def bytes_like_quote(text):\n    return Encoded(q(text))\n"
                                      "import datetime\n"
                                      "class Frozen(datetime.datetime):\n    pass\n",
                                      Py_file_input, globals, globals)
                                : nullptr;
    Py_XDECREF(defined);
    called_quote = globals ? PyDict_GetItemString(globals, "quote") : nullptr;
    called_unquote = globals ? PyDict_GetItemString(globals, "unquote") : nullptr;
    called_parsedate = globals ? PyDict_GetItemString(globals, "parsedate") : nullptr;
    bytes_like_quote = globals ? PyDict_GetItemString(globals, "bytes_like_quote") : nullptr;
    datetime_subclass = globals ? PyDict_GetItemString(globals, "Frozen") : nullptr;
    builtins_module = PyImport_ImportModule("builtins");
    datetime_module = PyImport_ImportModule("datetime");
    datetime_class =
        datetime_module ? PyObject_GetAttrString(datetime_module, "datetime") : nullptr;
    if (!bound_quote || !bound_unquote || !called_quote || !called_unquote || !bound_parsedate ||
        !called_parsedate || !bytes_like_quote || !datetime_subclass || !builtins_module ||
        !datetime_class) {
        finding("setting up quote and unquote failed");
    }
    // The globals stay alive with the functions (never released).
    // Which build was loaded, for the log.
    PyRun_SimpleString(
        "import velmora.cookies as c, sys\n"
        "print('cookie_fuzzer:', c.__file__, sys.version.split()[0], file=sys.stderr)\n");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    PyObject *input = PyBytes_FromStringAndSize(reinterpret_cast<const char *>(data),
                                                static_cast<Py_ssize_t>(size));
    if (!input) finding("allocating the input failed");
    through_builtins = size && data[size - 1] & 1;
    parse(input);
    dates(input);
    split(input, data, size);
    same_site(input);
    if (PyErr_Occurred()) finding("an exception was left set");
    expect_sole_owner(input, "input bytes");
    Py_DECREF(input);
    return 0;
}
