// The throw helpers of libstdc++ that inline library code calls when a
// precondition fails (std::string_view::substr past the end, for one).
//
// The modules are compiled without exceptions, so such a throw could only end
// in std::terminate. libstdc++'s own helpers get there through its exception
// machinery and the statically linked unwinder, which reference symbols of
// recent glibc releases (_dl_find_object, __libc_single_threaded, arc4random
// through what they drag in) and would keep the release wheels from loading
// on older distributions. These definitions end the process the same way,
// with the message on stderr, and keep libstdc++'s copies out of the link.
// They cover every function of libstdc++'s functexcept.o: linking any of its
// members beside these would be a duplicate definition.

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string_view>  // declares the helpers (bits/functexcept.h)

namespace {

[[noreturn]] void fail(const char *what, const char *message) {
    std::fprintf(stderr, "velmora: fatal: %s: %s\n", what, message ? message : "");
    std::abort();
}

}  // namespace

namespace std {

void __throw_bad_exception() {
    fail("std::bad_exception", nullptr);
}
void __throw_bad_alloc() {
    fail("std::bad_alloc", nullptr);
}
void __throw_bad_array_new_length() {
    fail("std::bad_array_new_length", nullptr);
}
void __throw_bad_cast() {
    fail("std::bad_cast", nullptr);
}
void __throw_bad_typeid() {
    fail("std::bad_typeid", nullptr);
}
void __throw_logic_error(const char *message) {
    fail("std::logic_error", message);
}
void __throw_domain_error(const char *message) {
    fail("std::domain_error", message);
}
void __throw_invalid_argument(const char *message) {
    fail("std::invalid_argument", message);
}
void __throw_length_error(const char *message) {
    fail("std::length_error", message);
}
void __throw_out_of_range(const char *message) {
    fail("std::out_of_range", message);
}
void __throw_runtime_error(const char *message) {
    fail("std::runtime_error", message);
}
void __throw_range_error(const char *message) {
    fail("std::range_error", message);
}
void __throw_overflow_error(const char *message) {
    fail("std::overflow_error", message);
}
void __throw_underflow_error(const char *message) {
    fail("std::underflow_error", message);
}

// The format knows %s, %zu and %% only, a subset of printf's.
void __throw_out_of_range_fmt(const char *format, ...) {
    std::fputs("velmora: fatal: std::out_of_range: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
    std::abort();
}

}  // namespace std
