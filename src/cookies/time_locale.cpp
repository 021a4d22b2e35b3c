// Per-thread locales (POSIX.1-2008 newlocale/uselocale): setlocale would
// change the process's locale under every other thread.
#include "cookies/time_locale.hpp"

#include <clocale>
#include <cstring>

#if defined(_WIN32)
#error "cookie dates need per-thread locales (uselocale), which Windows does not have"
#endif

namespace velmora::cookies {

namespace {

// The thread follows the process's locale, whose LC_TIME is "C" or "POSIX".
bool formats_as_c(locale_t current) {
    if (current != LC_GLOBAL_LOCALE) return false;
    const char *name = std::setlocale(LC_TIME, nullptr);
    return name && ((name[0] == 'C' && name[1] == '\0') || std::strcmp(name, "POSIX") == 0);
}

}  // namespace

CTimeLocaleScope::CTimeLocaleScope() : previous_(uselocale(static_cast<locale_t>(nullptr))) {
    if (!previous_ || formats_as_c(previous_)) return;
    // A copy of the thread's locale with LC_TIME replaced; newlocale takes
    // over the copy when it succeeds and leaves it to us when it fails.
    locale_t base = duplocale(previous_);
    locale_t own = base ? newlocale(LC_TIME_MASK, "C", base) : static_cast<locale_t>(nullptr);
    if (!own) {
        if (base) freelocale(base);
        ok_ = false;
        PyErr_NoMemory();
        return;
    }
    own_ = own;
    uselocale(own_);
}

CTimeLocaleScope::~CTimeLocaleScope() {
    if (!own_) return;
    uselocale(previous_);
    freelocale(own_);
}

}  // namespace velmora::cookies
