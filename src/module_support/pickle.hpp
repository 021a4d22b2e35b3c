// Pickle support shared by the extension types of both libraries: per type a
// constant description of its state (member table, member text, checksums),
// from which the reduce and set-state methods, the module-level reconstructor
// and the installation at type set-up are built.
//
// Every type names its fields in one table; the state tuple lists them in
// that order, and the checksums of the member names let a reconstructor
// refuse a state written for another layout. Pickles written by earlier
// releases name the reconstructors `__pyx_unpickle_<Type>` and the methods
// `__reduce_tavrin__` / `__setstate_tavrin__`, so these names are fixed.
#pragma once

#include <Python.h>

#include "module_support/args.hpp"

#include <cstddef>
#include <cstdint>
#include <span>

namespace velmora::support {

struct ModuleFrame;
struct PickleType;

// How a field is written into the state tuple and read back from it.
enum class StateKind : unsigned char {
    object,            // any object (None included), as it is
    str_or_none,       // exactly a str, or None
    datetime_or_none,  // a datetime.datetime (or subclass instance), or None
    int32,             // int32_t, written as int
    int64,             // int64_t, written as int
    flag,              // int32_t 0/1, written as bool, read by truth value
    unsigned_enum,     // uint32_t code, written as the member of its Python enumeration
};

constexpr bool is_object_kind(StateKind kind) {
    return kind == StateKind::object || kind == StateKind::str_or_none ||
           kind == StateKind::datetime_or_none;
}

struct StateMember {
    const char *name;
    std::size_t offset;  // of the field in the instance record
    StateKind kind;
};

// The member for the field `field` of `Record`, named as the field.
// clang-format off
#define VELMORA_STATE_MEMBER(Record, field, kind)          \
    ::velmora::support::StateMember{#field, offsetof(Record, field), \
                      ::velmora::support::StateKind::kind}
// clang-format on

// First 28 bits of SHA-256, SHA-1 and MD5 of the member names joined by
// blanks; the first is the one written.
struct Checksums {
    uint32_t sha256;
    uint32_t sha1;
    uint32_t md5;
};

// What a module supplies for the kinds that need more than the interpreter.
struct PickleHooks {
    // The Python enumeration member for a code (new reference), as the
    // field's property returns it; needed by unsigned_enum.
    PyObject *(*enum_member)(uint32_t code);
    // Name of the native enumeration type in the OverflowError texts.
    const char *enum_type_name;
    // datetime.datetime as the module imported it, or nullptr with an
    // exception set when it has not yet; needed by datetime_or_none.
    PyTypeObject *(*datetime_type)();
};

// The state layout of one or more types: members sorted by name, the member
// text of the checksum error, the checksums and the hooks.
struct StateLayout {
    const StateMember *members;
    std::size_t count;
    const char *member_text;
    Checksums checksums;
    const PickleHooks *hooks;
};

// Most members a state layout may have (the state tuple is assembled from
// that many items made beforehand).
inline constexpr std::size_t kMaxStateMembers = 16;

namespace layout_check {
// Never defined: reaching one while a layout is built at compile time stops
// the build with the function's name as the diagnostic.
void member_text_does_not_list_the_member_names();
void member_names_are_not_in_code_point_order();
void member_kind_needs_a_hook_the_layout_lacks();
void layout_has_more_members_than_a_state_holds();

constexpr bool names_ordered(const char *a, const char *b) {
    while (*a && *a == *b) ++a, ++b;
    return static_cast<unsigned char>(*a) < static_cast<unsigned char>(*b);
}

// The text must be the names joined with a comma and a blank.
constexpr bool text_lists(const StateMember *members, std::size_t count, const char *text) {
    for (std::size_t i = 0; i < count; ++i) {
        if (i > 0) {
            if (text[0] != ',' || text[1] != ' ') return false;
            text += 2;
        }
        for (const char *n = members[i].name; *n; ++n, ++text) {
            if (*text != *n) return false;
        }
    }
    return *text == '\0';
}

// True when the pointer is null as far as the compiler can tell. The address
// of a function or variable defined in another file cannot be compared with
// null at compile time under every option (GCC's sanitizer builds keep null
// pointer checks and then refuse to fold it); such an address is never null,
// so only a hook left out or written as nullptr counts as missing.
template <typename T>
constexpr bool known_null(T *pointer) {
    return __builtin_constant_p(pointer == nullptr) && pointer == nullptr;
}

constexpr bool hooks_cover(const StateMember *members, std::size_t count,
                           const PickleHooks *hooks) {
    for (std::size_t i = 0; i < count; ++i) {
        StateKind kind = members[i].kind;
        if (kind != StateKind::unsigned_enum && kind != StateKind::datetime_or_none) continue;
        if (known_null(hooks)) return false;
        if (kind == StateKind::unsigned_enum &&
            (known_null(hooks->enum_member) || known_null(hooks->enum_type_name))) {
            return false;
        }
        if (kind == StateKind::datetime_or_none && known_null(hooks->datetime_type)) {
            return false;
        }
    }
    return true;
}
}  // namespace layout_check

// Builds a layout at compile time, refusing a member text that does not list
// the names, names out of order and missing hooks.
template <std::size_t N>
consteval StateLayout state_layout(const StateMember (&members)[N], const char *member_text,
                                   Checksums checksums, const PickleHooks *hooks = nullptr) {
    if (N > kMaxStateMembers) layout_check::layout_has_more_members_than_a_state_holds();
    if (!layout_check::text_lists(members, N, member_text)) {
        layout_check::member_text_does_not_list_the_member_names();
    }
    for (std::size_t i = 1; i < N; ++i) {
        if (!layout_check::names_ordered(members[i - 1].name, members[i].name)) {
            layout_check::member_names_are_not_in_code_point_order();
        }
    }
    if (!layout_check::hooks_cover(members, N, hooks)) {
        layout_check::member_kind_needs_a_hook_the_layout_lacks();
    }
    return StateLayout{members, N, member_text, checksums, hooks};
}

// Types without declared fields: the empty member text and the checksums of
// the empty key.
inline constexpr StateLayout no_members_state{
    nullptr, 0, "", {0xe3b0c44, 0xda39a3e, 0xd41d8cd}, nullptr};

inline constexpr const char *reconstructor_param_names[] = {"__pyx_type", "__pyx_checksum",
                                                            "__pyx_state"};

inline constexpr Param reconstructor_param_kinds[] = {
    {ParamKind::any}, {ParamKind::integer}, {ParamKind::tuple_or_none}};

// Filled when the type is set up; never freed.
struct PickleRuntime {
    const ModuleFrame *frame = nullptr;     // namespace of the reconstructor lookup
    PyObject *reconstructor_key = nullptr;  // interned reconstructor name
    PyObject *checksum = nullptr;           // the SHA-256 checksum as an int
    PyObject *reduce = nullptr;             // method descriptor "__reduce_tavrin__"
    PyObject *setstate = nullptr;           // method descriptor "__setstate_tavrin__"
    PyMethodDef reconstructor_def{};
    // (__pyx_type, __pyx_checksum, __pyx_state), named after the reconstructor.
    Signature reconstructor_signature{nullptr, reconstructor_param_names, 3, 3,
                                      reconstructor_param_kinds};
};

// One row per type of a module.
struct PickleType {
    PyTypeObject *type;
    const char *reconstructor_name;  // "__pyx_unpickle_" + the type's short name
    const StateLayout *state;
    PickleRuntime runtime{};
};

// A row for the type object `type_object` whose short name is `Name`.
// clang-format off
#define VELMORA_PICKLE_ROW(type_object, Name, layout) \
    ::velmora::support::PickleType{&(type_object), "__pyx_unpickle_" #Name, &(layout)}
// clang-format on

// The row of `type` in `rows`, the one way a row is found from a type: at
// set-up and in every call of the state methods and reconstructors. A type
// without a row is a SystemError "no pickle state declared for %.200s"
// (nullptr).
PickleType *find_row(std::span<PickleType> rows, PyTypeObject *type);

// Installation at type set-up, right after the type is readied and bound,
// for the row of `type` in `rows`, the library's table (the same on every
// call): a type whose base is object gets the state methods as __reduce__
// and __setstate__; a type that inherits another protocol (the exception
// base's) keeps it. Returns 0, or -1 with an exception set ("Unable to
// initialize pickling for %.200s" when nothing more precise is known).
int prepare_pickling(const ModuleFrame &frame, std::span<PickleType> rows, PyTypeObject *type);

// Later in the module body: binds __reduce_tavrin__ and __setstate_tavrin__
// in the type's dictionary, qualified names "Type.method".
int bind_state_methods(PickleType &row);

// Binds the module-level reconstructor __pyx_unpickle_<Type> in the namespace.
int bind_reconstructor(const ModuleFrame &frame, PickleType &row);

}  // namespace velmora::support
