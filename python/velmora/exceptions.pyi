"""HTTP exceptions of the velmora web framework and its own errors.

The message of every exception is its single argument: ``str(exc)`` and
``exc.args[0]``; there is no ``message`` attribute.
"""

from typing import Any, Never

from typing_extensions import disjoint_base

__test__: dict[str, object]

@disjoint_base
class HTTPException(Exception):
    """Ends a request with the HTTP status ``status``."""

    def __init__(self, status: int, message: str | None = "HTTP exception") -> None: ...
    @property
    def status(self) -> int: ...
    @status.setter
    def status(self, value: int, /) -> None: ...

# A false message (None, "") gives the class's default message.
class BadRequest(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class Unauthorized(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class Forbidden(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class NotFound(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class Conflict(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class UnsupportedMediaType(HTTPException):
    def __init__(self, message: str | None = None) -> None: ...

class RangeNotSatisfiable(HTTPException):
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...  # no arguments

class NotImplementedByServer(HTTPException):
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...  # no arguments

@disjoint_base
class BadRequestFormat(BadRequest):
    def __init__(
        self, message: str | None, inner_exception: BaseException | None = None
    ) -> None: ...
    @property
    def inner_exception(self) -> BaseException | None: ...
    @inner_exception.setter
    def inner_exception(self, value: BaseException | None, /) -> None: ...
    @inner_exception.deleter
    def inner_exception(self) -> None: ...

@disjoint_base
class InternalServerError(HTTPException):
    """Status 500, message "Internal server error", with the error behind it."""

    def __init__(self, source_error: Exception | None = None) -> None: ...
    @property
    def source_error(self) -> Exception | None: ...

@disjoint_base
class UnprocessableEntity(HTTPException):
    def __init__(self, message: str | None = None, details: Any = None) -> None: ...
    @property
    def details(self) -> Any: ...
    @details.setter
    def details(self, value: Any, /) -> None: ...
    @details.deleter
    def details(self) -> None: ...

@disjoint_base
class FailedRequestError(HTTPException):
    """An outgoing request answered with ``status``; ``data`` is the body."""

    def __init__(self, status: int, data: str | None) -> None: ...
    @property
    def data(self) -> str | None: ...
    @data.setter
    def data(self, value: str | None, /) -> None: ...
    @data.deleter
    def data(self) -> None: ...

class MessageAborted(Exception):
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...  # no arguments

class InvalidArgument(Exception):
    def __init__(self, message: str | None) -> None: ...

class InvalidOperation(Exception):
    inner_exception: BaseException | None
    def __init__(
        self, message: str | None, inner_exception: BaseException | None = None
    ) -> None: ...

class InvalidExceptionHandler(Exception):
    def __init__(self, *args: Never, **kwargs: Never) -> None: ...  # no arguments

# Reconstructors named by pickles; a ``__pyx_state`` of None leaves the
# fields as allocation sets them.
def __pyx_unpickle_HTTPException(
    __pyx_type: type[HTTPException], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> HTTPException: ...
def __pyx_unpickle_BadRequest(
    __pyx_type: type[BadRequest], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> BadRequest: ...
def __pyx_unpickle_Unauthorized(
    __pyx_type: type[Unauthorized], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> Unauthorized: ...
def __pyx_unpickle_Forbidden(
    __pyx_type: type[Forbidden], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> Forbidden: ...
def __pyx_unpickle_NotFound(
    __pyx_type: type[NotFound], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> NotFound: ...
def __pyx_unpickle_Conflict(
    __pyx_type: type[Conflict], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> Conflict: ...
def __pyx_unpickle_UnsupportedMediaType(
    __pyx_type: type[UnsupportedMediaType],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> UnsupportedMediaType: ...
def __pyx_unpickle_RangeNotSatisfiable(
    __pyx_type: type[RangeNotSatisfiable],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> RangeNotSatisfiable: ...
def __pyx_unpickle_NotImplementedByServer(
    __pyx_type: type[NotImplementedByServer],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> NotImplementedByServer: ...
def __pyx_unpickle_BadRequestFormat(
    __pyx_type: type[BadRequestFormat], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> BadRequestFormat: ...
def __pyx_unpickle_InternalServerError(
    __pyx_type: type[InternalServerError],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> InternalServerError: ...
def __pyx_unpickle_UnprocessableEntity(
    __pyx_type: type[UnprocessableEntity],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> UnprocessableEntity: ...
def __pyx_unpickle_FailedRequestError(
    __pyx_type: type[FailedRequestError],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> FailedRequestError: ...
def __pyx_unpickle_MessageAborted(
    __pyx_type: type[MessageAborted], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> MessageAborted: ...
def __pyx_unpickle_InvalidArgument(
    __pyx_type: type[InvalidArgument], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> InvalidArgument: ...
def __pyx_unpickle_InvalidOperation(
    __pyx_type: type[InvalidOperation], __pyx_checksum: int, __pyx_state: tuple[Any, ...] | None
) -> InvalidOperation: ...
def __pyx_unpickle_InvalidExceptionHandler(
    __pyx_type: type[InvalidExceptionHandler],
    __pyx_checksum: int,
    __pyx_state: tuple[Any, ...] | None,
) -> InvalidExceptionHandler: ...
