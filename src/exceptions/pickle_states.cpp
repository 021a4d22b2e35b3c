// Member lists and checksums of the exception types' pickle states. Stored
// pickles carry these checksums, so a layout change needs new ones.
#include "exceptions/pickle_states.hpp"

#include "exceptions/exception_types.hpp"
#include "module_support/pickle.hpp"

#include <cstddef>

namespace velmora::exceptions {

namespace {

using support::StateMember;

constexpr StateMember status_member = VELMORA_STATE_MEMBER(VelmoraHTTPException, status, int32);

// HTTPException and the subclasses that add no field.
constexpr StateMember status_members[] = {status_member};
constexpr support::StateLayout status_state =
    support::state_layout(status_members, "status", {0x73c163, 0x48a3661, 0x9acb445});

// The four types with a payload after the HTTPException record: the payload
// field (named as in the record), then status.
#define PAYLOAD_STATE(Record, field, kind, ...)                                      \
    constexpr StateMember field##_members[] = {                                      \
        VELMORA_STATE_MEMBER(__pyx_obj_7velmora_10exceptions_##Record, field, kind), \
        status_member,                                                               \
    };                                                                               \
    constexpr velmora::support::StateLayout field##_state =                          \
        support::state_layout(field##_members, #field ", status", {__VA_ARGS__})

PAYLOAD_STATE(BadRequestFormat, inner_exception, object, 0x819e913, 0x7ef201e, 0xe127518);
PAYLOAD_STATE(InternalServerError, source_error, object, 0xd4b4c28, 0x35cfd7e, 0xa69c1ed);
PAYLOAD_STATE(UnprocessableEntity, details, object, 0xe1ac2b, 0x5b96829, 0x21d6875);
PAYLOAD_STATE(FailedRequestError, data, str_or_none, 0x161825a, 0xdfa3343, 0xd38ec95);

#undef PAYLOAD_STATE

#define EXCEPTION_ROW(Name, layout) VELMORA_PICKLE_ROW(Name##_type, Name, layout)

support::PickleType exception_pickles[] = {
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
    EXCEPTION_ROW(MessageAborted, support::no_members_state),
    EXCEPTION_ROW(InvalidArgument, support::no_members_state),
    EXCEPTION_ROW(InvalidOperation, support::no_members_state),
    EXCEPTION_ROW(InvalidExceptionHandler, support::no_members_state),
};

#undef EXCEPTION_ROW

}  // namespace

int prepare_pickling(const support::ModuleFrame &frame, PyTypeObject *type) {
    return support::prepare_pickling(frame, exception_pickles, type);
}

int bind_pickling(const support::ModuleFrame &frame) {
    for (support::PickleType &row : exception_pickles) {
        if (support::bind_state_methods(row) < 0) return -1;
    }
    for (support::PickleType &row : exception_pickles) {
        if (support::bind_reconstructor(frame, row) < 0) return -1;
    }
    return 0;
}

}  // namespace velmora::exceptions
