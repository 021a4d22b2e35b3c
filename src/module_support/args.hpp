// Argument binding for fastcall/vectorcall and tuple/dict entry points, with
// the argument-error texts that callers of the framework match on.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>

namespace velmora::support {

// Most parameters any entry point declares; the bound-arguments holder keeps
// one bit per parameter.
inline constexpr Py_ssize_t kMaxParams = 16;

// What a parameter accepts, as the binder's table declares it. The typed
// kinds are tested by check_param with the text "Argument '%.200s' has
// incorrect type (expected %.200s, got %.200s)"; None passes all of them. The
// integer and truth kinds are conversions the body makes (convert.hpp,
// truth.hpp), in its own order, since they give native values.
enum class ParamKind : unsigned char {
    any,               // any object
    str_or_none,       // exactly a str (no subclass), or None
    bytes_or_none,     // exactly bytes, or None
    tuple_or_none,     // exactly a tuple, or None
    instance_or_none,  // an instance of Param::type() or of a subclass, or None
    integer,           // the integer conversion
    truth,             // the truth value
};

struct Param {
    ParamKind kind;
    // For instance_or_none: the type, or nullptr with an exception set when
    // it is not available (a type the module imports).
    PyTypeObject *(*type)() = nullptr;
};

struct Signature {
    const char *func_name;     // name in the error texts ("__init__", "parse_cookie", ...)
    const char *const *names;  // parameter names, in order
    Py_ssize_t nparams;
    Py_ssize_t nrequired;           // the first nrequired parameters are required
    const Param *params = nullptr;  // nparams entries; nullptr: every one is `any`
    // The names as interned str objects, made on the first call with keywords:
    // keywords written in Python source are interned, so most of them match by
    // identity; the rest by text. A slot left empty (interning failed) only
    // means matching by text.
    mutable PyObject *interned[kMaxParams] = {};
    mutable bool interned_ready = false;
};

namespace args_detail {
// check_param for a value that is neither nullptr nor None, once the inline
// test of the exact built-in types has not decided.
bool check_param_value(const Signature &sig, Py_ssize_t i, PyObject *value);
int bind_vector_owned(const Signature &sig, PyObject *const *args, size_t nargsf, PyObject *kwnames,
                      PyObject **values, uint32_t *owned);
int bind_tuple_owned(const Signature &sig, PyObject *args, PyObject *kwds, PyObject **values,
                     uint32_t *owned);
// SystemError: a holder declared with fewer slots than the signature has.
void raise_too_few_slots(const Signature &sig);
}  // namespace args_detail

// The values of one call's parameters, each alive for as long as the holder
// lives. Caller code that runs during the call (an __int__, a __bool__, a
// property of a subclass, a finaliser started by the collector) may empty the
// keyword dictionary or drop the last outside reference to an argument; what
// the holder bound stays alive until the entry point returns. Values taken
// from a keyword dictionary or an argument array are owned; positional values
// of a call without keywords are the items of the caller's tuple, which holds
// them for the whole call (a tuple never gives up an item). Presets (the
// defaults of parameters left out, or nullptr) are the module's own constants
// and are not counted; only what came from the caller is.
//
//     BoundArgs<2> bound{nullptr, default_message};
//     if (bound.bind_tuple(signature, args, kwds) < 0) return -1;
//     use(bound[0], bound[1]);
template <std::size_t N>
class BoundArgs {
    static_assert(N <= static_cast<std::size_t>(kMaxParams));

public:
    template <typename... Presets>
    explicit BoundArgs(Presets... presets) noexcept : values_{presets...} {}
    BoundArgs(const BoundArgs &) = delete;
    BoundArgs &operator=(const BoundArgs &) = delete;
    ~BoundArgs() {
        for (uint32_t m = owned_; m != 0; m &= m - 1) Py_DECREF(values_[__builtin_ctz(m)]);
    }

    int bind_tuple(const Signature &sig, PyObject *args, PyObject *kwds) {
        if (!fits(sig)) return -1;
        // Positional arguments alone, as many as the signature takes: they
        // are borrowed from the caller's tuple (see above).
        const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
        if ((!kwds || PyDict_GET_SIZE(kwds) == 0) && nargs >= sig.nrequired &&
            nargs <= sig.nparams) {
            for (Py_ssize_t i = 0; i < nargs; ++i) values_[i] = PyTuple_GET_ITEM(args, i);
            return 0;
        }
        return args_detail::bind_tuple_owned(sig, args, kwds, values_, &owned_);
    }
    // `nargsf` as the vectorcall protocol passes it (the offset flag is masked).
    int bind_vector(const Signature &sig, PyObject *const *args, size_t nargsf, PyObject *kwnames) {
        if (!fits(sig)) return -1;
        return args_detail::bind_vector_owned(sig, args, nargsf, kwnames, values_, &owned_);
    }

    PyObject *operator[](std::size_t i) const noexcept { return values_[i]; }
    // All N values, in parameter order.
    PyObject *const *data() const noexcept { return values_; }

private:
    bool fits(const Signature &sig) const {
        if (sig.nparams <= static_cast<Py_ssize_t>(N)) return true;
        args_detail::raise_too_few_slots(sig);
        return false;
    }

    PyObject *values_[N > 0 ? N : 1];
    uint32_t owned_ = 0;  // bit i: values_[i] is a reference this holder owns
};

// Binds positional arguments and keywords to values[0..nparams) without
// owning them: the values are borrowed from the caller's argument array, as
// the vectorcall protocol keeps it alive for the call. Prefer BoundArgs,
// which also survives caller code that drops the arguments. Returns 0, or -1
// with an exception set.
int bind_vector(const Signature &sig, PyObject *const *args, Py_ssize_t nargs, PyObject *kwnames,
                PyObject **values);

// Binds the arguments of an __init__ without parameters: any positional
// argument or keyword raises the binder's error. 0, or -1.
int bind_no_init_args(PyObject *args, PyObject *kwds);

// The typed check of parameter i of `sig` on `value` (nullptr, a native
// default, passes). True, or false with the TypeError set. Inline for the
// usual outcome, a value of the exact type that passes.
inline bool check_param(const Signature &sig, Py_ssize_t i, PyObject *value) {
    if (!sig.params || !value || value == Py_None) return true;
    switch (sig.params[i].kind) {
        case ParamKind::str_or_none:
            if (PyUnicode_CheckExact(value)) return true;
            break;
        case ParamKind::any:
        case ParamKind::integer:
        case ParamKind::truth:
            return true;
        default:
            break;
    }
    return args_detail::check_param_value(sig, i, value);
}
// The same for the parameters from..to-1, in order; the first failure stops.
bool check_params(const Signature &sig, PyObject *const *values, Py_ssize_t from, Py_ssize_t to);

// Fields that hold exactly a str or None: deleting (value nullptr) stores
// None; anything else raises "Expected %.42s, got %.200s" and stores
// nothing. 0, or -1.
int store_str_or_none(PyObject *&field, PyObject *value);
// None, or an instance of type() or of a subclass; otherwise "%.1sCannot
// convert %.200s to %.200s" with the two type names. type() is only asked
// for a value that is not None. True, or false with an exception set.
bool check_none_or_instance(PyObject *value, PyTypeObject *(*type)());

// "%.200s() takes %.8s %zd positional argument%.1s (%zd given)"
void raise_arg_count(const char *func, Py_ssize_t min, Py_ssize_t max, Py_ssize_t given);

// Typed parameters: exact built-in type (str, bytes, tuple) or None.
bool check_arg_exact_or_none(PyObject *value, PyTypeObject *type, const char *param);
// Typed parameters: instance of the type or a subclass, or None.
bool check_arg_instance_or_none(PyObject *value, PyTypeObject *type, const char *param);
// "cannot pass None into a C function argument that is declared 'not None'"
void raise_none_not_allowed();
// Typed assignments: "Expected %.42s, got %.200s".
void raise_expected(const char *expected, PyObject *got);
// Typed assignments of library and extension types:
// "%.1sCannot convert %.200s to %.200s".
void raise_cannot_convert(PyObject *got, const char *target);

}  // namespace velmora::support
