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
//
// libc++ (Clang's library on macOS, the BSDs and some Linux distributions)
// defines its own helpers inline in its headers, ending the process itself in
// a build without exceptions: there is nothing to replace.

#include <version>  // names the C++ library

#if defined(__GLIBCXX__)

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

// Each helper keeps its exported name and signature; only the body is shared.
#define VELMORA_FATAL_THROW(name)     \
    void __throw_##name() {           \
        fail("std::" #name, nullptr); \
    }
#define VELMORA_FATAL_THROW_MESSAGE(name)      \
    void __throw_##name(const char *message) { \
        fail("std::" #name, message);          \
    }

VELMORA_FATAL_THROW(bad_exception)
VELMORA_FATAL_THROW(bad_alloc)
VELMORA_FATAL_THROW(bad_array_new_length)
VELMORA_FATAL_THROW(bad_cast)
VELMORA_FATAL_THROW(bad_typeid)
VELMORA_FATAL_THROW_MESSAGE(logic_error)
VELMORA_FATAL_THROW_MESSAGE(domain_error)
VELMORA_FATAL_THROW_MESSAGE(invalid_argument)
VELMORA_FATAL_THROW_MESSAGE(length_error)
VELMORA_FATAL_THROW_MESSAGE(out_of_range)
VELMORA_FATAL_THROW_MESSAGE(runtime_error)
VELMORA_FATAL_THROW_MESSAGE(range_error)
VELMORA_FATAL_THROW_MESSAGE(overflow_error)
VELMORA_FATAL_THROW_MESSAGE(underflow_error)

#undef VELMORA_FATAL_THROW
#undef VELMORA_FATAL_THROW_MESSAGE

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

#endif  // defined(__GLIBCXX__)
