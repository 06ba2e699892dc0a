// Numbers in text, independent of the locale (see numbers.h).
#include "pictures/numbers.h"

#include <charconv>
#include <system_error>

namespace pictures {

const char* readNumber(const char* first, const char* last, double& value)
{
    while (first < last && (*first == ' ' || *first == '\t')) ++first;
    // from_chars takes a minus but not a plus.
    const char* start = first;
    if (start < last && *start == '+') {
        ++start;
        if (start < last && (*start == '-' || *start == '+')) return nullptr;
    }
    double v = 0;
    const std::from_chars_result r = std::from_chars(start, last, v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr == start) return nullptr;
    value = v;
    return r.ptr;
}

bool parseNumber(const std::string& text, double& value)
{
    const char* end = text.data() + text.size();
    const char* at = readNumber(text.data(), end, value);
    if (!at) return false;
    while (at < end && (*at == ' ' || *at == '\t' || *at == '\r' || *at == '\n')) ++at;
    return at == end;
}

}  // namespace pictures
