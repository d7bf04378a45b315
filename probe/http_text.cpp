#include "probe/http_text.h"

#include "probe/http_requests.h"

#include <limits>

namespace tv {
namespace {

bool isSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

void skipSpace(std::string_view s, size_t& i) {
    while (i < s.size() && isSpace(s[i]))
        ++i;
}

// One %d: white space, optional sign, at least one digit.
bool scanInt(std::string_view s, size_t& i, int64_t& value, bool& overflow) {
    skipSpace(s, i);
    bool neg = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        neg = s[i] == '-';
        ++i;
    }
    const size_t start = i;
    int64_t v = 0;
    overflow = false;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
        if (v <= std::numeric_limits<int32_t>::max())
            v = v * 10 + (s[i] - '0');
        else
            overflow = true;
        ++i;
    }
    if (i == start)
        return false;
    v = neg ? -v : v;
    if (v > std::numeric_limits<int32_t>::max() || v < std::numeric_limits<int32_t>::min())
        overflow = true;
    value = v;
    return true;
}

} // namespace

std::string buildHttpRequest(std::string_view hostValue, bool keepAlive) {
    // The same request line and headers as every GET the probe sends.
    return buildKeepAliveGet(hostValue, !keepAlive);
}

bool parseStatusLine(std::string_view text, int32_t& code) {
    const size_t nul = text.find('\0');
    if (nul != std::string_view::npos)
        text = text.substr(0, nul);
    constexpr std::string_view kPrefix = "HTTP/";
    if (text.substr(0, kPrefix.size()) != kPrefix)
        return false;
    size_t i = kPrefix.size();
    int64_t v = 0;
    bool overflow = false;
    if (!scanInt(text, i, v, overflow))
        return false;
    if (i >= text.size() || text[i] != '.')
        return false;
    ++i;
    if (!scanInt(text, i, v, overflow))
        return false;
    skipSpace(text, i);
    if (!scanInt(text, i, v, overflow) || overflow)
        return false;
    code = static_cast<int32_t>(v);
    return true;
}

} // namespace tv
