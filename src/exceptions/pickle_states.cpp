// Member lists and checksums of the exception types' pickle states. Stored
// pickles carry these checksums, so a layout change needs new ones.
#include "exceptions/pickle_states.hpp"

#include "exceptions/exception_types.hpp"
#include "module_support/pickle.hpp"

#include <cstddef>

namespace vx {

namespace {

using vm::StateKind;
using vm::StateMember;

constexpr StateMember status_member{"status", offsetof(VelmoraHTTPException, status),
                                    StateKind::int32};

// HTTPException and the subclasses that add no field.
constexpr StateMember status_members[] = {status_member};
constexpr vm::StateLayout status_state =
    vm::state_layout(status_members, "status", {0x73c163, 0x48a3661, 0x9acb445});

// The four types with a payload after the HTTPException record.
constexpr StateMember inner_exception_members[] = {
    {"inner_exception", offsetof(__pyx_obj_7velmora_10exceptions_BadRequestFormat, inner_exception),
     StateKind::object},
    status_member,
};
constexpr vm::StateLayout inner_exception_state = vm::state_layout(
    inner_exception_members, "inner_exception, status", {0x819e913, 0x7ef201e, 0xe127518});

constexpr StateMember source_error_members[] = {
    {"source_error", offsetof(__pyx_obj_7velmora_10exceptions_InternalServerError, source_error),
     StateKind::object},
    status_member,
};
constexpr vm::StateLayout source_error_state = vm::state_layout(
    source_error_members, "source_error, status", {0xd4b4c28, 0x35cfd7e, 0xa69c1ed});

constexpr StateMember details_members[] = {
    {"details", offsetof(__pyx_obj_7velmora_10exceptions_UnprocessableEntity, details),
     StateKind::object},
    status_member,
};
constexpr vm::StateLayout details_state =
    vm::state_layout(details_members, "details, status", {0xe1ac2b, 0x5b96829, 0x21d6875});

constexpr StateMember data_members[] = {
    {"data", offsetof(__pyx_obj_7velmora_10exceptions_FailedRequestError, data),
     StateKind::str_or_none},
    status_member,
};
constexpr vm::StateLayout data_state =
    vm::state_layout(data_members, "data, status", {0x161825a, 0xdfa3343, 0xd38ec95});

#define EXCEPTION_ROW(Name, layout) VM_PICKLE_ROW(Name##_type, Name, layout)

vm::PickleType exception_pickles[] = {
    EXCEPTION_ROW(HTTPException, status_state),
    EXCEPTION_ROW(BadRequest, status_state),
    EXCEPTION_ROW(NotFound, status_state),
    EXCEPTION_ROW(Unauthorized, status_state),
    EXCEPTION_ROW(Forbidden, status_state),
    EXCEPTION_ROW(Conflict, status_state),
    EXCEPTION_ROW(UnsupportedMediaType, status_state),
    EXCEPTION_ROW(RangeNotSatisfiable, status_state),
    EXCEPTION_ROW(NotImplementedByServer, status_state),

    EXCEPTION_ROW(BadRequestFormat, inner_exception_state),
    EXCEPTION_ROW(InternalServerError, source_error_state),
    EXCEPTION_ROW(UnprocessableEntity, details_state),
    EXCEPTION_ROW(FailedRequestError, data_state),
    EXCEPTION_ROW(MessageAborted, vm::no_members_state),
    EXCEPTION_ROW(InvalidArgument, vm::no_members_state),
    EXCEPTION_ROW(InvalidOperation, vm::no_members_state),
    EXCEPTION_ROW(InvalidExceptionHandler, vm::no_members_state),
};

#undef EXCEPTION_ROW

}  // namespace

int prepare_pickling(const vm::ModuleFrame &frame, PyTypeObject *type) {
    return vm::prepare_pickling(frame, exception_pickles, type);
}

int bind_pickling(const vm::ModuleFrame &frame) {
    for (vm::PickleType &row : exception_pickles) {
        if (vm::bind_state_methods(row) < 0) return -1;
    }
    for (vm::PickleType &row : exception_pickles) {
        if (vm::bind_reconstructor(frame, row) < 0) return -1;
    }
    return 0;
}

}  // namespace vx
