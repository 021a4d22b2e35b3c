// What each standard function behind a fast path reads, and which watch
// keeps each read unchanged (stdlib_reads.cpp). Each runs once the module
// body has bound the function; a fast path is trusted only when every read
// checks out.
#pragma once

namespace velmora::cookies {

// urllib.parse.quote and unquote.
void trust_url_quoting();
// email.utils.parsedate_to_datetime.
void trust_date_parser();
// The time.strftime that datetime.strftime calls.
void trust_strftime();

}  // namespace velmora::cookies
