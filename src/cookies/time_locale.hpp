// The English day and month names of cookie dates, whatever time locale the
// process has set.
//
// strftime writes %a and %b in the calling thread's LC_TIME. An application
// that calls setlocale(LC_ALL, "") for its own number and date formatting
// would otherwise send "Mi, 21 Okt 2015" in every Expires attribute, which
// clients and velmora's own reader know only in English. So the call into
// Python's strftime runs with the thread's LC_TIME set to "C" for its
// duration; every other category stays as the process set it, and other
// threads are not touched.
#pragma once

#include <Python.h>

#include <locale.h>
#if defined(__APPLE__)
#include <xlocale.h>
#endif

namespace velmora::cookies {

class CTimeLocaleScope {
public:
    // Gives the calling thread the C time locale unless it already formats
    // as C does. On failure `ok()` is false and MemoryError is set.
    CTimeLocaleScope();
    // Gives the thread back the locale it had.
    ~CTimeLocaleScope();
    CTimeLocaleScope(const CTimeLocaleScope &) = delete;
    CTimeLocaleScope &operator=(const CTimeLocaleScope &) = delete;

    bool ok() const { return ok_; }

private:
    locale_t previous_ = nullptr;
    locale_t own_ = nullptr;  // nullptr: nothing was switched
    bool ok_ = true;
};

}  // namespace velmora::cookies
